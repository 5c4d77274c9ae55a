"""Benchmarks against peers, measured side by side in one process.

For each entry: our time, the peer's time and their ratio (ours / peer), each the best of several
interleaved rounds. Run through `./dev bench`; `--json FILE` writes the results, `-k TEXT` keeps
the entries whose name contains TEXT. Never part of the tests.
"""

from __future__ import annotations

import argparse
import json
import time
from dataclasses import dataclass
from typing import Callable

import numpy as np

from corvala import ext

RATE = 16000


@dataclass
class Entry:
    name: str
    ours: Callable[[], object]
    peer_name: str
    peer: Callable[[], object]
    target: float | None = None  # the ratio we aim to stay within, where one is set


def speech_like(seconds: float, seed: int = 0) -> np.ndarray:
    rng = np.random.default_rng(seed)
    n = int(seconds * RATE)
    envelope = np.abs(np.sin(np.arange(n) * (2 * np.pi * 3 / RATE)))
    return (0.3 * envelope * rng.standard_normal(n)).astype(np.float32)


def effect_strings(count: int) -> list[str]:
    base = ["gain -3", "norm -1", "equalizer 1k 2q -6", "compand 0.3,1 -70,-70,-60,-20 -5 -90 0.2",
            "sinc -n 101 1k-3k", "fade q 0.5 -1 0.5", "chorus 0.5 0.9 50 0.4 0.25 2 -t", "nope 3", ""]
    return [base[i % len(base)] for i in range(count)]


def quantized(x: np.ndarray, scale: float) -> np.ndarray:
    """NumPy's expression of a float-path gain through int32: round, saturate, back to float."""
    return (np.clip(np.rint(x * (2.0**31 * scale)), -(2.0**31), 2.0**31 - 1) * 2.0**-31).astype(np.float32)


def level_entries(seconds: int = 60) -> list[Entry]:
    x = speech_like(seconds)
    n = (x.astype(np.float64) * 2**31).astype(np.int32)
    i = np.arange(len(x))
    g = 10 ** (-3 / 20)
    m = 0.8 + 0.2 * np.sin(2 * np.pi * (5 * i / RATE + 0.25))
    ramp = np.linspace(0, 1, RATE)
    cases = [
        ("gain -3", lambda: quantized(x, g), lambda: np.clip(np.rint(n * g), -2**31, 2**31 - 1).astype(np.int32)),
        ("vol 0.5", lambda: np.clip(x * 0.5, -1, 1), lambda: np.clip(np.rint(n * 0.5), -2**31, 2**31 - 1).astype(np.int32)),
        ("dcshift 0.1", lambda: (np.clip(np.rint(x * 2.0**31) + 0.1 * 2**31, -2**31, 2**31 - 1) * 2.0**-31).astype(np.float32),
         lambda: np.clip(n + 0.1 * 2**31, -2**31, 2**31 - 1).astype(np.int32)),
        ("contrast", lambda: (np.sin(x * (np.pi / 2) + 0.1 * np.sin(x * 2 * np.pi))).astype(np.float32),
         lambda: np.rint(np.sin(n * 7.3e-10 + 0.1 * np.sin(n * 2.9e-9)) * 2147483647).astype(np.int32)),
        ("tremolo 5 40", lambda: x * m.astype(np.float32), lambda: np.rint(n * m).astype(np.int32)),
        ("fade t 1 -1 1", lambda: np.concatenate([x[:RATE] * ramp, x[RATE:-RATE], x[-RATE:] * ramp[::-1]]).astype(np.float32),
         lambda: np.concatenate([n[:RATE] * ramp, n[RATE:-RATE], n[-RATE:] * ramp[::-1]]).astype(np.int32)),
        ("reverse", lambda: x[::-1].copy(), lambda: n[::-1].copy()),
    ]
    out = []
    for effect, peer_f, peer_i in cases:
        out.append(Entry(f"apply_effects [{effect}], {seconds} s", lambda e=effect: ext.audio.apply_effects(x, [e]),
                         "NumPy expression", peer_f))
        out.append(Entry(f"apply_effects_i32 [{effect}], {seconds} s",
                         lambda e=effect: ext.audio.apply_effects_i32(n, [e]), "NumPy expression", peer_i))
    for effect in ("gain -3", "vol 0.5", "dcshift 0.1", "tremolo 5 40", "reverse"):
        out.append(Entry(f"apply_effects [{effect}] vs copy, {seconds} s",
                         lambda e=effect: ext.audio.apply_effects(x, [e]), "numpy.copy", lambda: np.copy(x), 3.0))
    return out


def biquad_entries(seconds: int = 60) -> list[Entry]:
    """Each biquad-family filter in both paths against scipy.signal.lfilter with the same
    coefficients (float32 in and out, its float64 conversions included), and the direct-form-I
    filters against the bare C++ loop of their own path's order of operations."""
    from scipy.signal import lfilter

    from biquad_peers import FILTERS, BareLoops

    x = speech_like(seconds)
    n = np.clip(x.astype(np.float64) * 2**31, -(2**31), 2**31 - 1).astype(np.int32)
    bare = BareLoops()
    out = []
    for effect, (b, a, form) in FILTERS:
        out.append(Entry(f"apply_effects [{effect}], {seconds} s", lambda e=effect: ext.audio.apply_effects(x, [e]),
                         "scipy.signal.lfilter", lambda b=b, a=a: lfilter(b, a, x).astype(np.float32), 1.0))
        out.append(Entry(f"apply_effects_i32 [{effect}], {seconds} s",
                         lambda e=effect: ext.audio.apply_effects_i32(n, [e]), "scipy.signal.lfilter",
                         lambda b=b, a=a: lfilter(b, a, x).astype(np.float32), 1 / 1.8))
        if form == "direct form I":
            out.append(Entry(f"apply_effects [{effect}] vs bare, {seconds} s",
                             lambda e=effect: ext.audio.apply_effects(x, [e]), "bare C++ loop, division per sample",
                             lambda b=b, a=a: bare.divide_f32(x, b, a), 1.2))
            out.append(Entry(f"apply_effects_i32 [{effect}] vs bare, {seconds} s",
                             lambda e=effect: ext.audio.apply_effects_i32(n, [e]), "bare C++ loop, pre-divided",
                             lambda b=b, a=a: bare.predivided_i32(n, b, a), 1.2))
    return out


def audio_input_entries(seconds: int = 60) -> list[Entry]:
    """Reading WAV, FLAC and MP3 files against soundfile (and WAV against a bare NumPy read of
    channel 0), and resampling to 16 kHz against python-soxr at the same quality. The readers are
    reached through the test-only module of the build; without it there are no entries."""
    import importlib.util
    import os
    import pathlib
    import sys
    import tempfile

    import soundfile as sf
    import soxr

    if importlib.util.find_spec("_corvala_testing") is None:
        root = pathlib.Path(__file__).resolve().parents[1]
        sys.path.append(os.environ.get("CORVALA_BUILD_DIR", str(root / "build" / "dev")))
        if importlib.util.find_spec("_corvala_testing") is None:
            return []
    import _corvala_testing as testing

    folder = tempfile.TemporaryDirectory(prefix="corvala-bench-")
    audio_input_entries.folder = folder  # the files live as long as the run
    rng = np.random.default_rng(0)

    def stereo(rate: int) -> np.ndarray:
        t = np.arange(seconds * rate) / rate
        tones = np.stack([0.5 * np.sin(2 * np.pi * 440 * t), 0.3 * np.sin(2 * np.pi * 660 * t)], axis=1)
        return tones + 0.05 * rng.standard_normal(tones.shape)

    def write(name: str, x: np.ndarray, rate: int, **kwargs) -> str:
        path = os.path.join(folder.name, name)
        sf.write(path, x, rate, **kwargs)
        return path

    def bare_channel0_16(path: str, offset: int) -> np.ndarray:
        return np.fromfile(path, dtype="<i2", offset=offset)[0::2].astype(np.float32) * np.float32(2.0**-15)

    x48, x44 = stereo(48000), stereo(44100)
    out = []
    for bits in (16, 24):
        path = write(f"s{bits}.wav", x48, 48000, subtype=f"PCM_{bits}")
        label = f"raw_read_audio WAV {bits}-bit, {seconds} s 48 kHz stereo"
        out.append(Entry(label, lambda p=path: testing.raw_read_audio(p), "soundfile.read float32",
                         lambda p=path: sf.read(p, dtype="float32"), 1.0))
        if bits == 16:
            with open(path, "rb") as f:
                offset = f.read(4096).index(b"data") + 8
            out.append(Entry(f"{label} vs bare", lambda p=path: testing.raw_read_audio(p),
                             "NumPy fromfile, channel 0 to float32", lambda p=path, o=offset: bare_channel0_16(p, o),
                             1.5))
    for name, kwargs in (("x.flac", {"subtype": "PCM_16"}), ("x.mp3", {"format": "MP3", "subtype": "MPEG_LAYER_III"})):
        path = write(name, x44, 44100, **kwargs)
        out.append(Entry(f"raw_read_audio {name[2:].upper()}, {seconds} s 44.1 kHz stereo",
                         lambda p=path: testing.raw_read_audio(p), "soundfile.read float32",
                         lambda p=path: sf.read(p, dtype="float32"), 1.2))
    for rate in (44100, 48000):
        mono = (0.3 * rng.standard_normal(seconds * rate)).astype(np.float32)
        out.append(Entry(f"resample_audio {rate / 1000:g} -> 16 kHz, {seconds} s",
                         lambda m=mono, r=rate: testing.resample_audio(m, r, 16000), "soxr.resample HQ",
                         lambda m=mono, r=rate: soxr.resample(m, r, 16000, quality="HQ"), 1.1))
    return out


def speech_level_entries(seconds: int = 60) -> list[Entry]:
    """asl_p56 against the bare loop of its two cascaded float32 smoothers (bench/smoother_loop.cpp),
    the bound of its sequential recursions; asl_p56 adds the counting pass. On first use the loop is
    built into build/bench/ as a program, which prints its own time, and as a library called
    through ctypes beside asl_p56."""
    import ctypes
    import pathlib
    import subprocess

    x = speech_like(seconds)
    loaded = []

    def bare() -> float:
        if not loaded:
            root = pathlib.Path(__file__).resolve().parents[1]
            source, build = root / "bench" / "smoother_loop.cpp", root / "build" / "bench"
            build.mkdir(parents=True, exist_ok=True)
            program, library = build / "smoother_loop", build / "libsmoother_loop.so"
            for target, extra in ((program, []), (library, ["-shared", "-fPIC"])):
                if not target.exists() or target.stat().st_mtime < source.stat().st_mtime:
                    subprocess.run(["g++", "-std=c++23", "-O3", "-ffp-contract=off", *extra, str(source),
                                    "-o", str(target)], check=True)
            samples = build / f"speech_like_{seconds}s.f32"
            x.tofile(samples)
            run = subprocess.run([str(program), str(samples)], check=True, capture_output=True, text=True)
            print(f"  {run.stdout.strip()}")
            loop = ctypes.CDLL(str(library)).smoother_loop
            loop.restype, loop.argtypes = ctypes.c_float, [ctypes.c_void_p, ctypes.c_size_t]
            loaded.append(loop)
        return loaded[0](x.ctypes.data, len(x))

    return [Entry(f"asl_p56, {seconds} s speech-like", lambda: ext.asl_p56(x),
                  "bare C++ loop, two cascaded smoothers", bare, 1.5)]


def entries() -> list[Entry]:
    out = []
    for seconds, target in ((10, None), (60, 2.0)):
        buffer = speech_like(seconds)
        out.append(Entry(f"apply_effects, empty chain, {seconds} s float32",
                         lambda b=buffer: ext.audio.apply_effects(b, []), "numpy.copy",
                         lambda b=buffer: np.copy(b), target))
    for count in (1000, 10000):
        strings = effect_strings(count)
        out.append(Entry(f"validate_effects_chain, {count} strings",
                         lambda s=strings: ext.audio.validate_effects_chain(s),
                         "str.split of each string", lambda s=strings: [t.split() for t in s]))
    import kernel  # bench/kernel.py: session construction, realize throughput, cache artifacts

    return (out + level_entries() + biquad_entries() + audio_input_entries() + speech_level_entries()
            + kernel.kernel_entries(Entry) + kernel.data_io_entries(Entry))


def best_time(fn: Callable[[], object], budget: float) -> float:
    """Best seconds per call over calls batched to about `budget` seconds."""
    fn()
    start = time.perf_counter()
    fn()
    once = max(time.perf_counter() - start, 1e-7)
    calls = max(1, int(budget / once))
    start = time.perf_counter()
    for _ in range(calls):
        fn()
    return (time.perf_counter() - start) / calls


def measure(entry: Entry, rounds: int, budget: float) -> dict:
    ours, peer = [], []
    for _ in range(rounds):  # interleaved so that both see the same machine state
        ours.append(best_time(entry.ours, budget))
        peer.append(best_time(entry.peer, budget))
    result = {"name": entry.name, "ours_s": min(ours), "peer": entry.peer_name, "peer_s": min(peer)}
    result["ratio"] = result["ours_s"] / result["peer_s"]
    result["target"] = entry.target
    return result


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--json", metavar="FILE", help="write the results as JSON")
    parser.add_argument("-k", metavar="TEXT", default="", help="only entries whose name contains TEXT")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--budget", type=float, default=0.05, help="seconds per timing batch")
    args = parser.parse_args()

    results = []
    print(f"{'entry':52} {'ours':>11} {'peer':>11} {'ratio':>7}  peer")
    for entry in entries():
        if args.k not in entry.name:
            continue
        r = measure(entry, args.rounds, args.budget)
        results.append(r)
        mark = "" if r["target"] is None else (" ok" if r["ratio"] <= r["target"] else f" over {r['target']}x")
        print(f"{r['name']:52} {r['ours_s'] * 1e6:9.1f}us {r['peer_s'] * 1e6:9.1f}us {r['ratio']:6.2f}x  "
              f"{r['peer']}{mark}")
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=2)


if __name__ == "__main__":
    main()
