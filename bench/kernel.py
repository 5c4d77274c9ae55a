"""Benchmark entries of the realization kernel: session construction and realize throughput."""

from __future__ import annotations

import tempfile
import threading
import time
import wave
from pathlib import Path
from types import SimpleNamespace as NS

import numpy as np

from corvala import ext

RATE = 16000


def _snapshot(n_mixtures: int, paths: dict[int, str]) -> NS:
    def source(file_id: int) -> NS:
        return NS(effects=NS(pre=["gain -3"], post=["vol 0.9"]), file_id=file_id, loop=True, start=0)

    mixtures = {i + 1: NS(name=f"m{i}", samples=10 * RATE,
                          all_sources={"speech": source(1 + i % 2), "music": source(3), "noise": source(4)},
                          spectral_mask_id=None, spectral_mask_seed=i)
                for i in range(n_mixtures)}
    files = {k: NS(name=v, truth_configs={}) for k, v in paths.items()}
    return NS(mixtures_by_id=mixtures, source_files_by_id=files, spectral_masks_by_id={})


def _walk(snap: NS) -> int:
    """What Python itself does to read the same attributes once."""
    total = 0
    for m in snap.mixtures_by_id.values():
        total += len(m.name) + m.samples + m.spectral_mask_seed + (m.spectral_mask_id is None)
        for category, s in m.all_sources.items():
            total += len(category) + s.file_id + s.start + bool(s.loop) + len(list(s.effects.pre)) + len(list(s.effects.post))
    for k, f in snap.source_files_by_id.items():
        total += k + len(f.name) + len(f.truth_configs)
    return total


FT = NS(length=256, overlap=64, bin_start=0, bin_end=128, ttype="stft-olsa-hanns")


def _session(snap: NS, declared: list, location: str, gains) -> ext.KernelSession:
    return ext.KernelSession(snap, declared, None, gains, FT, "", {}, location, 2, 1 << 30)


def _write_wav(path: Path, samples: np.ndarray) -> None:
    with wave.open(str(path), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes((samples * 32767).astype("<i2").tobytes())


def kernel_entries(Entry) -> list:
    tmp = Path(tempfile.mkdtemp(prefix="corvala-bench-"))
    rng = np.random.default_rng(1)
    paths = {}
    for file_id in (1, 2, 3, 4):
        path = tmp / f"f{file_id}.wav"
        _write_wav(path, (0.2 * rng.standard_normal(10 * RATE)).clip(-1, 1))
        paths[file_id] = str(path)

    big = _snapshot(10000, paths)
    declared = [["mixture_audio"]] * 10000
    out = [Entry("KernelSession construction, 10000 mixtures x 3 sources",
                 lambda: _session(big, declared, str(tmp), None), "Python walking the snapshot once",
                 lambda: _walk(big), 2.0)]

    two = NS(mixtures_by_id={i + 1: NS(name=f"r{i}", samples=10 * RATE,
                                       all_sources={"speech": NS(effects=NS(pre=["gain -3"], post=["vol 0.9"]),
                                                                 file_id=1, loop=True, start=0),
                                                    "noise": NS(effects=NS(pre=["gain -6"], post=["vol 0.5"]),
                                                                file_id=4, loop=True, start=0)},
                                       spectral_mask_id=None, spectral_mask_seed=0) for i in range(200)},
             source_files_by_id={k: NS(name=v, truth_configs={}) for k, v in paths.items()}, spectral_masks_by_id={})
    session = _session(two, [["mixture_audio"]] * 200, "", lambda m, a: {k: 1.0 for k in a})
    session.realize(0, ["mixture_audio"])  # source audio warm in the cache

    def realize_all(threads: int) -> None:
        ids = list(range(200))

        def work(part):
            for i in part:
                session.realize(i, ["mixture_audio"])

        workers = [threading.Thread(target=work, args=(ids[k::threads],)) for k in range(threads)]
        for w in workers:
            w.start()
        for w in workers:
            w.join()

    out.append(Entry("realize mixture_audio, 200 x 10 s, 2 threads vs 1 thread (target ratio <= 1/1.8)",
                     lambda: realize_all(2), "1 thread", lambda: realize_all(1), 1 / 1.8))

    speech = np.fromfile(paths[1], dtype="<i2", offset=44).astype(np.float32) / 32768
    noise = np.fromfile(paths[4], dtype="<i2", offset=44).astype(np.float32) / 32768

    def parts() -> np.ndarray:
        s = ext.audio.apply_effects(ext.audio.apply_effects(speech, ["gain -3"]), ["vol 0.9"])
        ext.audio.apply_effects(s, ["vol 0.9"])  # the callback's copy and the sum's copy
        n = ext.audio.apply_effects(ext.audio.apply_effects(noise, ["gain -6"]), ["vol 0.5"])
        ext.audio.apply_effects(n, ["vol 0.5"])
        return s * np.float32(1.0) + n * np.float32(1.0)

    try:
        import _corvala_testing as testing  # built with the tests, in the build directory
    except ImportError:
        testing = None
    if testing is not None:
        table = {i: i for i in range(64)}
        out.append(Entry("source-audio cache, 1000 hits", lambda: testing.source_cache_hit_ns(1000),
                         "1000 Python dict lookups", lambda: [table[7] for _ in range(1000)]))

    out.append(Entry("realize mixture_audio, one 10 s mixture", lambda: session.realize(1, ["mixture_audio"]),
                     "its parts alone (apply_effects + NumPy mixing)", parts, 1.1))
    return out


def data_io_entries(Entry) -> list:
    """Artifact write and read against the safetensors package and raw NumPy file I/O."""
    try:
        from safetensors.numpy import load_file, save_file
    except ImportError:
        return []
    tmp = Path(tempfile.mkdtemp(prefix="corvala-bench-io-"))
    rng = np.random.default_rng(2)
    one = {"audio": rng.standard_normal(60 * RATE).astype(np.float32)}
    eight = {f"part{i}": rng.standard_normal(60 * RATE).astype(np.float32) for i in range(8)}
    out = []
    for label, item in (("60 s float32", one), ("dict of 8 x 60 s float32", eight)):
        flat = {k: v for k, v in item.items()}
        items = {"item": item if len(item) > 1 else item["audio"]}
        st_path, raw_path = tmp / f"{len(item)}.safetensors", tmp / f"{len(item)}.raw"
        ext.data_io.write_cached_data(str(tmp), "bench", "0", items, 2)
        save_file(flat, str(st_path))
        joined = np.concatenate(list(item.values()))
        joined.tofile(raw_path)

        def ours_write(items=items):
            ext.data_io.write_cached_data(str(tmp), "bench", "0", items, 2)

        def ours_read():
            ext.data_io.read_cached_data(str(tmp), "bench", "0", ["item"], 2)

        out.append(Entry(f"write_cached_data, {label}", ours_write, "safetensors.numpy.save_file",
                         lambda flat=flat, p=st_path: save_file(flat, str(p)), 1.0))
        out.append(Entry(f"write_cached_data, {label}", ours_write, "numpy.tofile",
                         lambda j=joined, p=raw_path: j.tofile(p), 2.0))
        out.append(Entry(f"read_cached_data, {label}", ours_read, "safetensors.numpy.load_file",
                         lambda p=st_path: load_file(str(p)), 1.0))
        out.append(Entry(f"read_cached_data, {label}", ours_read, "numpy.fromfile",
                         lambda p=raw_path: np.fromfile(p, dtype=np.float32), 2.0))
    return out
