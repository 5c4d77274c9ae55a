"""Eight Python threads at once on every entry point that runs without the interpreter lock or
shares state: effect chains, validation, artifacts through data_io and KernelSession.realize. Every
result must equal, bit for bit, the result of the same call made on one thread.

`./dev tsan` runs this file on a ThreadSanitizer build.
"""

import threading
from types import SimpleNamespace as NS

import numpy as np
import pytest

from corvala import demo, ext

THREADS = 8
ROUNDS = 40
RATE = 16000

CHAINS = [
    ["gain -3", "equalizer 1k 2q -6"],
    ["gain -n -1", "highpass -2 300", "lowpass -1 3k"],
    ["vol 0.5", "dcshift 0.05 0.05", "contrast 60"],
    ["overdrive 10 20", "tremolo 4 60", "fade q 0.02 -0 0.02"],
    ["bandpass -c 1k 200h", "bass 6", "treble -3", "reverse"],
    ["band -n 1k 300", "allpass 2k 1q", "bandreject 500 2o", "norm -2"],
]
VALIDATE = ["gain -3", "nope", "equalizer 1k 2q", "fade h 0.5 =1000s", "highpass 1e9", "reverse x", "vol 1 dB"]


def same(a, b):
    """Equal in type, structure and every bit (dict order aside: an artifact's is not defined)."""
    if type(a) is not type(b):
        return False
    if isinstance(a, dict):
        return sorted(a) == sorted(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, (list, tuple)):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, np.ndarray):
        return a.dtype == b.dtype and a.shape == b.shape and a.tobytes() == b.tobytes()
    if isinstance(a, float):
        return np.float64(a).tobytes() == np.float64(b).tobytes()
    return a == b


def gains(m_id, audio):
    # The callback runs on the realizing thread with the lock re-acquired; it is a pure function of
    # its arguments, so the results cannot depend on the interleaving.
    return demo.snr_gains(m_id, audio)


@pytest.fixture(scope="module")
def dataset(tmp_path_factory):
    root = tmp_path_factory.mktemp("stress")
    # Every reader and both resampling paths: 16 kHz WAV (no resampling), 24-bit WAV, AIFF, SPHERE
    # and, through the decoding library, FLAC.
    files = {}
    writers = [
        ("s0.wav", 16000, lambda p, x, r: demo.write_pcm_wav(p, x, r, 2)),
        ("s1.wav", 48000, lambda p, x, r: demo.write_pcm_wav(p, x, r, 3)),
        ("s2.aiff", 22050, demo.write_aiff),
        ("s3.sph", 8000, demo.write_sphere),
        ("s4.flac", 44100, demo.write_flac),
    ]
    for k, (name, rate, write) in enumerate(writers):
        x = demo.speech_like(0.6, rate, k) if k % 2 == 0 else demo.noise_like(0.6, rate, k, 1.0)
        if write(root / name, x, rate) is False:
            continue  # no ffmpeg for the FLAC file
        files[k + 1] = NS(name=str(root / name), truth_configs={})
    ids = sorted(files)

    def src(file_id, pre=(), post=(), loop=False, start=0):
        return NS(effects=NS(pre=list(pre), post=list(post)), file_id=file_id, loop=loop, start=start)

    mixtures = {
        m + 1: NS(name=f"mix{m}", samples=8000 + 1000 * m, spectral_mask_id=None, spectral_mask_seed=0,
                  all_sources={"speech": src(ids[m % len(ids)], pre=CHAINS[m % len(CHAINS)], start=m * 100),
                               "noise": src(ids[(m + 2) % len(ids)], post=CHAINS[(m + 3) % len(CHAINS)],
                                            loop=True, start=m * 37)})
        for m in range(6)
    }
    snapshot = NS(mixtures_by_id=mixtures, source_files_by_id=files, spectral_masks_by_id={})
    ft = NS(length=256, overlap=64, bin_start=0, bin_end=128, ttype="stft-olsa-hanns")

    def session(location, cache_bytes):
        # A small cache makes threads evict and decode the same files again while others read them.
        return ext.KernelSession(snapshot, [["mixture_audio"]] * len(mixtures), None, gains, ft, "", {},
                                 str(location), 2, cache_bytes)

    return NS(root=root, session=session, count=len(mixtures))


NODES = ["sources", "gains", "source", "noise", "mixture_audio"]


def run_threads(work):
    """Runs work(k) on THREADS threads released together; returns the exceptions they raised."""
    start = threading.Barrier(THREADS)
    errors = []

    def body(k):
        try:
            start.wait()
            work(k)
        except BaseException as e:  # noqa: BLE001 - reported by the caller
            errors.append(e)

    threads = [threading.Thread(target=body, args=(k,)) for k in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return errors


def test_every_entry_point_gives_the_single_threaded_result(dataset):
    rng = np.random.default_rng(1)
    f32 = [(0.3 * rng.standard_normal(4000 + 500 * k)).astype(np.float32) for k in range(3)]
    i32 = [rng.integers(-(2**31), 2**31, 3000 + 700 * k, dtype=np.int64).astype(np.int32) for k in range(3)]
    location = dataset.root / "cache"
    shared = {"x": np.arange(30_000, dtype=np.float64), "y": {"label": "shared", "t": np.eye(20, dtype="<f4")}}

    # One thread first: the references.
    ref_session = dataset.session(dataset.root / "reference", 1 << 26)
    expected = {
        "f32": {(i, c): ext.audio.apply_effects(x, CHAINS[c]) for i, x in enumerate(f32) for c in range(len(CHAINS))},
        "i32": {(i, c): ext.audio.apply_effects_i32(x, CHAINS[c]) for i, x in enumerate(i32) for c in range(len(CHAINS))},
        "validate": ext.audio.validate_effects_chain(VALIDATE),
        "realize": [ref_session.realize(m, NODES) for m in range(dataset.count)],
    }
    ext.data_io.write_cached_data(str(location), "stress", "shared", shared, 2)

    sessions = [dataset.session(location, 0), dataset.session(location, 60_000)]
    mismatches = []

    def check(what, got, want):
        if not same(got, want):
            mismatches.append(what)

    def work(k):
        for r in range(ROUNDS):
            # Neighbouring threads run different operations at every moment.
            op = (k + r) % 6
            i, c, m = (k + r) % 3, (k * 5 + r) % len(CHAINS), (k + 2 * r) % dataset.count
            if op == 0:
                check(("f32", i, c), ext.audio.apply_effects(f32[i], CHAINS[c]), expected["f32"][(i, c)])
            elif op == 1:
                check(("i32", i, c), ext.audio.apply_effects_i32(i32[i], CHAINS[c]), expected["i32"][(i, c)])
            elif op == 2:
                check("validate", ext.audio.validate_effects_chain(VALIDATE), expected["validate"])
            elif op == 3:
                # Shared session, computed and written back while other threads read the same artifacts.
                got = sessions[k % 2].realize(m, NODES, force=(r % 2 == 0), cache=True)
                check(("realize", m), got, expected["realize"][m])
            elif op == 4:
                got = sessions[(k + 1) % 2].realize(m, NODES)
                check(("realize", m), got, expected["realize"][m])
            else:
                # Private artifacts round-trip; the shared one is rewritten with the same value.
                own = {"v": f32[i] * np.float32(k + 1), "n": {"k": k, "s": f"thread {k}"}}
                ext.data_io.write_cached_data(str(location), "stress", f"t{k}", {f"r{r}": own}, 2)
                ext.data_io.write_cached_data(str(location), "stress", "shared", {"x": shared["x"]}, 2)
                back = ext.data_io.read_cached_data(str(location), "stress", f"t{k}", [f"r{r}"], 2)[f"r{r}"]
                check(("data_io", k, r), back, own)
                both = ext.data_io.read_cached_data(str(location), "stress", "shared", ["x", "y"], 2)
                check("shared", both["x"], shared["x"])
                check("shared", {"label": both["y"]["label"], "t": both["y"]["t"]}, shared["y"])

    errors = run_threads(work)
    assert not errors, errors
    assert not mismatches, mismatches[:10]


def test_artifacts_written_concurrently_to_one_path_are_always_whole(tmp_path):
    """Writers race on one artifact while readers read it: every read is one writer's whole value."""
    location = str(tmp_path)
    values = [{"data": np.full(40_000 + 1000 * k, k, np.int32), "tag": f"writer {k}"} for k in range(THREADS // 2)]
    ext.data_io.write_cached_data(location, "race", "one", {"item": values[0]}, 2)
    seen, bad = set(), []

    def work(k):
        for r in range(3 * ROUNDS):
            if k % 2 == 0:
                ext.data_io.write_cached_data(location, "race", "one", {"item": values[(k // 2 + r) % len(values)]}, 2)
            else:
                got = ext.data_io.read_cached_data(location, "race", "one", ["item"], 2)["item"]
                if got is None or not any(same(got, v) for v in values):
                    bad.append(got)
                else:
                    seen.add(got["tag"])

    errors = run_threads(work)
    assert not errors, errors
    assert not bad, bad[:3]
    assert seen  # readers saw values; which writers' depends on the schedule
    # Only the artifact is left: every temporary was renamed over it.
    assert [p.name for p in (tmp_path / "race" / "one").iterdir()] == ["item.safetensors"]
