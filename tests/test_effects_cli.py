"""The effect-chain command line, end to end."""

import subprocess
import sys
import wave

import numpy as np
import pytest
from scipy.io import wavfile

from corvala import ext


def run(*args, cwd):
    return subprocess.run([sys.executable, "-m", "corvala.effects", *args], capture_output=True, text=True, cwd=cwd)


def test_check_prints_canonical_texts_and_fails_on_a_bad_string(tmp_path):
    ok = run("check", "gain -3", "norm", cwd=tmp_path)
    assert ok.returncode == 0 and ok.stdout.splitlines() == ["gain -3.000000", "gain -n 0.000000"]
    bad = run("check", "gain -3", "nope", cwd=tmp_path)
    assert bad.returncode == 1 and bad.stdout.splitlines()[1].startswith("'nope': [UNSUPPORTED] effect='nope'")


def test_apply_reads_channel_0_and_writes_float32(tmp_path):
    rng = np.random.default_rng(3)
    pcm = rng.integers(-30000, 30000, (800, 2), dtype=np.int16)
    with wave.open(str(tmp_path / "in.wav"), "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(8000)
        w.writeframes(pcm.tobytes())
    chain = ["gain -n -3", "fade t 0.01"]
    result = run("apply", "in.wav", "out.wav", *chain, cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert "tuned for 16000 Hz" in result.stderr
    rate, out = wavfile.read(tmp_path / "out.wav")
    assert rate == 8000 and out.dtype == np.float32
    expected = ext.audio.apply_effects((pcm[:, 0] / 32768.0).astype(np.float32), chain)
    np.testing.assert_array_equal(out, expected)


@pytest.mark.parametrize(
    "args, message",
    [
        (("apply", "missing.wav", "out.wav", "gain 1"), "error: cannot read missing.wav: No such file or directory"),
        (("apply", "in.wav", "out.wav", "gain x"), "error: [UNIT_ERROR] effect='gain' token='x'"),
        (("apply", "junk.wav", "out.wav"), "error: junk.wav: not a RIFF/WAVE file"),
    ],
)
def test_apply_errors_are_clear_and_tracebackless(tmp_path, args, message):
    wavfile.write(tmp_path / "in.wav", 16000, np.zeros(10, np.float32))
    (tmp_path / "junk.wav").write_bytes(b"not audio")
    result = run(*args, cwd=tmp_path)
    assert result.returncode != 0
    assert result.stderr.startswith(message) and "Traceback" not in result.stderr
    assert not (tmp_path / "out.wav").exists()
