"""KernelSession.realize: the time-domain nodes, the artifact protocol, the gain callback."""

import threading
import wave
from types import SimpleNamespace as NS

import numpy as np
import pytest

from corvala import ext

RATE = 16000


def write_wav(path, samples, rate=RATE):
    pcm = np.round(np.asarray(samples, np.float64) * 32767).astype("<i2")
    with wave.open(str(path), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(pcm.tobytes())
    return pcm.astype(np.float32) / np.float32(32768)


def source(file_id, start=0, loop=False, pre=(), post=()):
    return NS(effects=NS(pre=list(pre), post=list(post)), file_id=file_id, loop=loop, start=start)


class Gains:
    """A gain callback that records its calls."""

    def __init__(self, gains=None):
        self.gains = gains or {}
        self.calls = []

    def __call__(self, m_id, audio):
        self.calls.append((m_id, {k: v.copy() for k, v in audio.items()}))
        return {k: self.gains.get(k, 1.0) for k in audio}


@pytest.fixture
def files(tmp_path):
    rng = np.random.default_rng(5)
    speech = write_wav(tmp_path / "speech.wav", 0.3 * rng.standard_normal(3000).clip(-3, 3) / 3)
    noise = write_wav(tmp_path / "noise.wav", 0.2 * rng.standard_normal(500).clip(-3, 3) / 3)
    music = write_wav(tmp_path / "music.wav", np.sin(np.arange(2000) * 0.01) * 0.5)
    return NS(dir=tmp_path, speech=speech, noise=noise, music=music,
              records={1: NS(name=str(tmp_path / "speech.wav"), truth_configs={}),
                       2: NS(name=str(tmp_path / "noise.wav"), truth_configs={}),
                       3: NS(name=str(tmp_path / "music.wav"), truth_configs={})})


def make_session(files, mixtures, gain_callback=None, location=None, cache_bytes=1 << 24):
    snap = NS(mixtures_by_id={i + 1: m for i, m in enumerate(mixtures)}, source_files_by_id=files.records,
              spectral_masks_by_id={})
    ft = NS(length=256, overlap=64, bin_start=0, bin_end=128, ttype="stft-olsa-hanns")
    return ext.KernelSession(snap, [["mixture_audio"]] * len(mixtures), None, gain_callback or Gains(), ft, "",
                             {}, str(location if location is not None else files.dir), 2, cache_bytes)


def mixture(samples, sources, name="mix"):
    return NS(name=name, samples=samples, all_sources=sources, spectral_mask_id=None, spectral_mask_seed=0)


def test_mixture_is_the_float32_gain_weighted_sum(files):
    gains = Gains({"speech": 0.5, "music": 1.7, "noise": 0.25})
    m = mixture(2500, {"speech": source(1, pre=["gain -1"]), "music": source(3, start=100, loop=True),
                       "noise": source(2, loop=True, post=["reverse"])})
    s = make_session(files, [m], gains)
    out = s.realize(0, ["mixture_audio", "noise", "source", "gains", "sources"])
    assert list(out) == ["sources", "source", "noise", "mixture_audio", "gains"]
    speech = ext.audio.apply_effects(files.speech, ["gain -1"])[:2500]
    music = np.resize(np.roll(files.music, -100), 2500)
    noise = np.resize(files.noise, 2500)
    np.testing.assert_array_equal(out["sources"]["speech"], speech)
    np.testing.assert_array_equal(out["sources"]["music"], music)
    np.testing.assert_array_equal(out["sources"]["noise"], noise)
    assert out["gains"] == {"speech": 0.5, "music": 1.7, "noise": 0.25}
    # Separate float32 products and sums, in plan order.
    expected_source = speech * np.float32(0.5) + music * np.float32(1.7)
    np.testing.assert_array_equal(out["source"], expected_source)
    np.testing.assert_array_equal(out["noise"], noise[::-1] * np.float32(0.25))
    np.testing.assert_array_equal(out["mixture_audio"], expected_source + noise[::-1] * np.float32(0.25))
    assert out["mixture_audio"].dtype == np.float32
    # The callback saw each category after its post-effects, before gains, in plan order.
    [(m_id, audio)] = gains.calls
    assert m_id == 0 and list(audio) == ["speech", "music", "noise"]
    np.testing.assert_array_equal(audio["noise"], noise[::-1])
    assert s.completed() == 1


@pytest.mark.parametrize(
    "start, loop, n, expected",
    [(-1, True, 5, [2, 0, 1, 2, 0]), (2, False, 5, [2, 3, None, None, None]), (4, False, 5, [None] * 5),
     (-1, False, 5, [None] * 5), (7, True, 7, [1, 2, 0, 1, 2, 0, 1]), (0, False, 0, [])],
)
def test_fitting_by_loop_start_and_padding(tmp_path, start, loop, n, expected):
    length = 4 if not loop else 3
    values = write_wav(tmp_path / "short.wav", np.arange(1, length + 1) / 10)
    files = NS(dir=tmp_path, records={1: NS(name=str(tmp_path / "short.wav"), truth_configs={})})
    s = make_session(files, [mixture(n, {"speech": source(1, start=start, loop=loop)})])
    got = s.realize(0, ["sources"])["sources"]["speech"]
    np.testing.assert_array_equal(got, [0.0 if i is None else values[i] for i in expected])


def test_realize_requests_and_counting(files):
    s = make_session(files, [mixture(100, {"speech": source(1), "noise": source(2)})])
    assert s.realize(0, []) == {} and s.completed() == 1
    assert list(s.realize(m_id=0, want=("gains", "sources"))) == ["sources", "gains"]
    with pytest.raises(ValueError, match=r"^unknown RealizedNode: Mixture_audio$"):
        s.realize(0, ["Mixture_audio"])
    with pytest.raises(ValueError, match=r"^m_id 1 out of range \(0\.\.1\)$"):
        s.realize(1, ["sources"])
    with pytest.raises(TypeError):
        s.realize(0, "sources")
    assert s.completed() == 2


@pytest.mark.parametrize(
    "sources, want, gain_callback, error, message",
    [
        ({"noise": source(2)}, ["source"], None, ValueError, "mixture 'mix' has no non-noise sources"),
        ({"speech": source(1)}, ["noise"], None, ValueError, "mixture 'mix' has no noise source"),
        ({"speech": source(1)}, ["gains"], lambda m, a: [1.0], ValueError,
         "gain callback must return a {category: gain} dict"),
        ({"speech": source(1), "noise": source(2)}, ["gains"], lambda m, a: {"speech": 1}, ValueError,
         "gain callback returned no gain for category 'noise'"),
        ({"speech": source(1, pre=["gain 1", "ir impulse.wav"])}, ["sources"], None, NotImplementedError,
         "kernel realization does not support IR effects (ADR-0024 scope); realize this mixture with the "
         "reference implementation"),
        ({"speech": source(1, pre=["ir"])}, ["sources"], None, ValueError, "[UNSUPPORTED] effect='ir'"),
        ({"speech": source(1, post=["gain x"])}, ["gains"], None, ValueError, "[UNIT_ERROR] effect='gain'"),
        ({"speech": source(1), "noise": source(2, post=["fade 0 =10s"])}, ["mixture_audio"], None, ValueError,
         "source and noise lengths differ; cannot form mixture_audio"),
        ({"speech": source(9)}, ["sources"], None, ValueError, "no source file with id 9"),
    ],
)
def test_failures(files, sources, want, gain_callback, error, message):
    s = make_session(files, [mixture(100, sources)], gain_callback or Gains())
    with pytest.raises(error) as info:
        s.realize(0, want)
    assert str(info.value).startswith(message)
    assert s.completed() == 0
    assert s.realize(0, []) == {}  # the session stays usable


def test_negative_samples_and_callback_exceptions(files):
    s = make_session(files, [mixture(-1, {"speech": source(1)})])
    with pytest.raises(ValueError, match=r"^mixture 'mix' has negative samples$"):
        s.realize(0, ["sources"])

    class Boom(Exception):
        pass

    def raising(m_id, audio):
        raise Boom("from the host")

    s = make_session(files, [mixture(10, {"speech": source(1)})], raising)
    with pytest.raises(Boom, match="from the host"):
        s.realize(0, ["gains"])
    bad_float = make_session(files, [mixture(10, {"speech": source(1)})], lambda m, a: {"speech": "x"})
    with pytest.raises(TypeError):
        bad_float.realize(0, ["gains"])


def test_a_path_with_a_null_byte_opens_nothing(files):
    (files.dir / "speech.wav.x").write_bytes(b"")
    files.records[1] = NS(name=str(files.dir / "speech.wav") + "\0.x", truth_configs={})
    s = make_session(files, [mixture(10, {"speech": source(1)})])
    with pytest.raises(ValueError, match="IO error: file name contains a null byte$"):
        s.realize(0, ["sources"])


def test_artifacts_are_written_read_and_forced(files, tmp_path):
    location = tmp_path / "cache"
    calls = Gains({"speech": 2.0, "noise": 0.5})
    m = mixture(400, {"speech": source(1), "noise": source(2, loop=True)})
    first = make_session(files, [m], calls, location).realize(0, ["mixture_audio"], cache=True)
    written = sorted(p.name for p in (location / "mixture" / "mix").iterdir())
    assert written == ["gains.safetensors", "mixture.safetensors", "noise.safetensors", "source.safetensors",
                       "sources.safetensors"]
    # A new session reads every node back: no source read, no callback.
    fresh = Gains()
    again = make_session(files, [m], fresh, location).realize(0, ["mixture_audio", "gains", "sources"])
    assert fresh.calls == []
    np.testing.assert_array_equal(again["mixture_audio"], first["mixture_audio"])
    assert again["gains"] == {"speech": 2.0, "noise": 0.5}
    # force recomputes (the callback runs again) and, without cache, writes nothing.
    mtime = (location / "mixture" / "mix" / "mixture.safetensors").stat().st_mtime_ns
    make_session(files, [m], fresh, location).realize(0, ["mixture_audio"], force=True)
    assert len(fresh.calls) == 1
    assert (location / "mixture" / "mix" / "mixture.safetensors").stat().st_mtime_ns == mtime


def test_artifacts_are_read_through_after_the_source_files_are_gone(files, tmp_path):
    location = tmp_path / "cache"
    m = mixture(300, {"speech": source(1, pre=["gain -3"]), "noise": source(2, loop=True)})
    first = make_session(files, [m], location=location).realize(0, ["mixture_audio", "sources"], cache=True)
    for name in ("speech.wav", "noise.wav"):
        (files.dir / name).unlink()
    again = make_session(files, [m], location=location).realize(0, ["mixture_audio", "sources"])
    np.testing.assert_array_equal(again["mixture_audio"], first["mixture_audio"])
    assert sorted(again["sources"]) == ["noise", "speech"]
    with pytest.raises(ValueError, match="^failed to read source audio"):
        make_session(files, [m], location=location).realize(0, ["sources"], force=True)


def test_a_failed_call_keeps_the_artifacts_it_wrote(files, tmp_path):
    location = tmp_path / "cache"
    m = mixture(50, {"speech": source(1)})
    with pytest.raises(ValueError):
        make_session(files, [m], lambda m_id, a: None, location).realize(0, ["gains"], cache=True)
    assert (location / "mixture" / "mix" / "sources.safetensors").exists()


def test_threads_share_a_session(files):
    m = [mixture(3000, {"speech": source(1, pre=["gain -2"]), "noise": source(2, loop=True)}, name=f"m{i}")
         for i in range(4)]
    s = make_session(files, m, cache_bytes=0)
    expected = [s.realize(i, ["mixture_audio"])["mixture_audio"] for i in range(4)]
    results, errors = {}, []

    def work(k):
        try:
            for round_ in range(10):
                i = (k + round_) % 4
                results[(k, round_)] = (i, s.realize(i, ["mixture_audio"])["mixture_audio"])
        except Exception as e:  # pragma: no cover - reported below
            errors.append(e)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    for i, out in results.values():
        np.testing.assert_array_equal(out, expected[i])
    assert s.completed() == 4 + 60
