"""Audio input: the WAV, AIFF and SPHERE readers, the dispatching front door, the FFmpeg decoder
and the libsoxr resampler, checked against soundfile and python-soxr on files the tests write."""

import json
import math
import os
import shutil
import struct
import subprocess
import sys
import textwrap
import threading
from fractions import Fraction

import numpy as np
import pytest
import soundfile as sf
import soxr

EOF_ERROR = "IO error: failed to fill whole buffer"
RATE = 44100
FRAMES = 22050


# ---- file builders ----------------------------------------------------------------------------

def chunk(cid, payload, size=None, order="<"):
    """A RIFF/IFF chunk: id, size (the payload's unless given), payload, pad byte when odd."""
    size = len(payload) if size is None else size
    return cid + struct.pack(order + "I", size) + payload + (b"\0" if len(payload) % 2 else b"")


def riff(*chunks, form=b"WAVE"):
    body = form + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def fmt(tag=1, channels=1, bits=16, rate=16000, size=16):
    block = channels * bits // 8
    base = struct.pack("<HHIIHH", tag, channels, rate, rate * block, block, bits)
    if size == 40:  # extensible: cbSize, valid bits, channel mask, sub-format GUID (float)
        base += struct.pack("<HHI", 22, bits, 0) + bytes.fromhex("0300000000001000800000aa00389b71")
    return chunk(b"fmt ", base.ljust(size, b"\0")[:size])


def wav(samples, tag=1, channels=1, bits=16, rate=16000, fmt_size=16, extra=()):
    return riff(fmt(tag, channels, bits, rate, fmt_size), *extra, chunk(b"data", samples))


def ext80(rate):
    """The 80-bit extended value of a rate exactly representable in it."""
    if rate == 0:
        return bytes(10)
    value = Fraction(rate)
    exponent = math.floor(math.log2(abs(value)))
    mantissa = int(abs(value) * 2 ** (63 - exponent))
    return struct.pack(">HQ", (0x8000 if value < 0 else 0) | (exponent + 16383), mantissa)


def comm(channels=1, bits=16, rate=44100, rate_bytes=None):
    body = struct.pack(">hIh", channels, 0, bits) + (rate_bytes if rate_bytes is not None else ext80(rate))
    return chunk(b"COMM", body, order=">")


def ssnd(data, size=None):
    return chunk(b"SSND", struct.pack(">II", 0, 0) + data, None if size is None else size, ">")


def aiff(*chunks, form=b"AIFF"):
    body = form + b"".join(chunks)
    return b"FORM" + struct.pack(">I", len(body)) + body


SPHERE_FIELDS = ("sample_rate -i 16000", "sample_count -i 4", "sample_n_bytes -i 2", "channel_count -i 1",
                 "sample_byte_format -s2 01", "sample_coding -s3 pcm")


def sphere(fields=SPHERE_FIELDS, data=struct.pack("<4h", 0, 16384, -32768, 32767), second="   1024",
           last="end_head"):
    text = "\n".join(["NIST_1A", second, *fields, last]) + "\n"
    return text.encode().ljust(1024, b" ") + data


def stereo_source(frames=FRAMES, rate=RATE):
    """Channel 0 a 440 Hz tone, channel 1 a 660 Hz tone, as 16-bit values."""
    t = np.arange(frames) / rate
    both = np.stack([np.sin(2 * np.pi * 440 * t), np.sin(2 * np.pi * 660 * t)], axis=1)
    return np.round(0.5 * 32767 * both).astype(np.int16)


def write_wave(path, ints, rate=RATE, width=2):
    import wave

    with wave.open(str(path), "wb") as w:
        w.setnchannels(ints.shape[1])
        w.setsampwidth(width)
        w.setframerate(rate)
        w.writeframes(ints.astype("<i2").tobytes())
    return path


def ffmpeg(*args):
    subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", *map(str, args)], check=True)


def peak_frequency(x, rate):
    x = x[len(x) // 8: -len(x) // 8]
    spectrum = np.abs(np.fft.rfft(x * np.hanning(len(x))))
    freqs = np.fft.rfftfreq(len(x), 1 / rate)
    return freqs[np.argmax(spectrum)], spectrum, freqs


def assert_tone(x, rate, freq, absent=None):
    """x is a tone of `freq` at amplitude 0.5; `absent` (the other channel's tone) is not in it."""
    peak, spectrum, freqs = peak_frequency(x, rate)
    assert abs(peak - freq) < 5
    assert 0.4 < np.sqrt(2 * np.mean(x[len(x) // 8: -len(x) // 8] ** 2)) < 0.6
    if absent is not None:
        other = spectrum[np.argmin(np.abs(freqs - absent))]
        assert other < 0.01 * spectrum.max()


@pytest.fixture(scope="session")
def need_ffmpeg():
    if shutil.which("ffmpeg") is None:
        pytest.skip("the ffmpeg command line makes these fixtures")


@pytest.fixture(scope="module")
def source(tmp_path_factory):
    ints = stereo_source()
    return write_wave(tmp_path_factory.mktemp("src") / "source.wav", ints), ints


# ---- WAV, AIFF and FLAC against soundfile ------------------------------------------------------

def noise(frames, channels, seed=1):
    return np.random.default_rng(seed).uniform(-1, 1, (frames, channels)) * 0.9


@pytest.mark.parametrize("container, ext, subtype, channels", [
    ("WAV", "wav", "PCM_U8", 1), ("WAV", "wav", "PCM_16", 2), ("WAV", "wav", "PCM_24", 2),
    ("WAV", "wav", "PCM_32", 1), ("WAV", "wav", "FLOAT", 2), ("WAV", "wav", "DOUBLE", 1),
    ("WAV", "wav", "PCM_16", 3),  # written as extensible
    ("WAV", "wav", "PCM_24", 6),
    ("AIFF", "aiff", "PCM_S8", 1), ("AIFF", "aif", "PCM_16", 2), ("AIFF", "aiff", "PCM_24", 3),
    ("AIFF", "aiff", "PCM_32", 2),
    ("FLAC", "flac", "PCM_16", 2), ("FLAC", "flac", "PCM_24", 1),
])
def test_reads_channel_0_as_soundfile_does(testing, tmp_path, container, ext, subtype, channels):
    path = tmp_path / f"x.{ext}"
    # An odd frame count puts a pad byte after 8-bit mono data.
    sf.write(path, noise(4001, channels), 22050, format=container, subtype=subtype)
    expected, rate = sf.read(path, dtype="float32", always_2d=True)
    samples, got_rate = testing.raw_read_audio(str(path))
    assert samples.dtype == np.float32 and got_rate == rate == 22050
    np.testing.assert_array_equal(samples, expected[:, 0])
    if container != "FLAC":
        # The in-memory reader behaves as the path reader does.
        reader = getattr(testing, "read_wav_bytes" if container == "WAV" else "read_aiff_bytes")
        in_memory, mem_rate = reader(path.read_bytes())
        np.testing.assert_array_equal(in_memory, samples)
        assert mem_rate == rate


def test_flac_from_the_command_line_matches_soundfile(testing, tmp_path, source, need_ffmpeg):
    path = tmp_path / "x.flac"
    ffmpeg("-i", source[0], "-c:a", "flac", path)
    samples, rate = testing.raw_read_audio(str(path))
    expected, _ = sf.read(path, dtype="float32")
    assert rate == RATE and len(samples) == FRAMES
    np.testing.assert_array_equal(samples, expected[:, 0])


# ---- WAV ------------------------------------------------------------------------------------------

def u8(*values):
    return bytes(values)


def short_id(value):
    """Test ids: the message or the first values, never a dump of the file bytes."""
    return value[:48] if isinstance(value, str) else "data" if isinstance(value, bytes) else None


@pytest.mark.parametrize("data, expected", [
    # 8-bit: unsigned with 128 as zero; three samples, so a pad byte follows that is not data.
    (wav(u8(128, 0, 255), bits=8), [0.0, -1.0, 0.9921875]),
    (wav(bytes.fromhex("ffff7f000080"), bits=24), [8388607 * 2.0**-23, -1.0]),
    (wav(struct.pack("<2i", 2**31 - 1, -(2**31)), bits=32), [np.float32(2**31 - 1) * 2.0**-31, -1.0]),
    # Right channel ignored.
    (wav(struct.pack("<4h", 100, -7, -32768, 5), channels=2), [100 * 2.0**-15, -1.0]),
    (wav(struct.pack("<2f", 0.25, -3.5), tag=3, bits=32), [0.25, -3.5]),
    (wav(struct.pack("<d", 0.1), tag=3, bits=64), [np.float32(0.1)]),
    # fmt sizes 18 and 40 are accepted, and an odd 17 counts as 18.
    (wav(struct.pack("<h", 16384), fmt_size=18), [0.5]),
    (wav(struct.pack("<h", 16384), fmt_size=17), [0.5]),
    # Extensible: 32-bit data is read as integers whatever the GUID says, 64-bit as doubles.
    (wav(struct.pack("<i", 2**30), tag=0xFFFE, bits=32, fmt_size=40), [0.5]),
    (wav(struct.pack("<d", -0.75), tag=0xFFFE, bits=64, fmt_size=40), [-0.75]),
    # Chunks between and before, odd-sized ones with their pad byte.
    (wav(struct.pack("<h", -16384), extra=[chunk(b"LIST", b"INFOabc")]), [-0.5]),
    (riff(chunk(b"junk", b"x"), fmt(), chunk(b"fact", b"\1\0\0\0"), chunk(b"data", b"\0\x40")), [0.5]),
    # A trailing partial frame is not a sample.
    (wav(struct.pack("<h", 16384) + b"\1", channels=1), [0.5]),
    (wav(b"", bits=16), []),
], ids=short_id)
def test_wav_samples(testing, data, expected):
    samples, rate = testing.read_wav_bytes(data)
    assert rate == 16000
    np.testing.assert_array_equal(samples, np.array(expected, np.float32))


@pytest.mark.parametrize("data, message", [
    (b"RIFX" + bytes(8), "WAV error: Invalid RIFF signature"),
    (b"RIFF\0\0\0\0WAVX", "WAV error: Invalid WAVE signature"),
    (b"RIFF\0\0", EOF_ERROR),
    (wav(b"\0\0", fmt_size=20), "WAV error: Invalid fmt chunk size"),
    (riff(chunk(b"fmt ", b""), chunk(b"data", b"")), "WAV error: Invalid fmt chunk size"),
    (riff(fmt()), EOF_ERROR),  # no data chunk
    (riff(chunk(b"data", b"\0\0"), fmt()), EOF_ERROR),  # data before fmt is never found
    (wav(b"\0" * 6, bits=12), "WAV error: Invalid format: 12-bit samples are not supported"),
    (wav(b"\0" * 4, tag=6, bits=8),
     "WAV error: Invalid format: 0x0006. Supported formats: PCM (0x0001), IEEE Float (0x0003), Extensible (0xFFFE)"),
    (wav(b"\0" * 4, tag=3, bits=16),
     "WAV error: Invalid format: Unsupported bits per sample for IEEE float: 16. Supported: 32, 64"),
    # A short file reports the I/O error before the float bit depth.
    (riff(fmt(tag=3, bits=16), chunk(b"data", b"\0" * 2, size=8)), EOF_ERROR),
    (riff(fmt(bits=16), chunk(b"data", b"\0" * 2, size=8)), EOF_ERROR),
    # Extensible 24-bit float data fail as integers (short) and then as floats (short again).
    (riff(fmt(tag=0xFFFE, bits=24, size=40), chunk(b"data", b"\0" * 3, size=9)), EOF_ERROR),
    (wav(b"\0" * 4, tag=0xFFFE, bits=12, fmt_size=40),
     "WAV error: Invalid format: Unsupported bits per sample for IEEE float: 12. Supported: 32, 64"),
    (wav(b"\0" * 4, channels=0), "WAV error: Invalid channel count: 0"),
    (wav(b"\0" * 4, bits=4), "WAV error: Invalid format: 4-bit samples are not supported"),
], ids=short_id)
def test_wav_errors(testing, data, message):
    with pytest.raises(ValueError) as info:
        testing.read_wav_bytes(data)
    assert str(info.value) == message


# ---- AIFF -----------------------------------------------------------------------------------------

@pytest.mark.parametrize("rate_bytes, expected", [
    (ext80(44100), 44100), (ext80(8000), 8000), (ext80(192000), 192000), (ext80(1), 1),
    (ext80(Fraction(44201, 2)), 22101),  # halves round away from zero
    (ext80(Fraction(384001, 2)), "AIFF error: Invalid sample rate"),  # 192000.5 rounds past the limit
    (ext80(Fraction(1, 2)), "AIFF error: Invalid sample rate"),
    (ext80(200000), "AIFF error: Invalid sample rate"),
    (ext80(-8000), "AIFF error: Invalid sample rate"),
    (struct.pack(">HQ", 16383 + 32, 1 << 63), "AIFF error: Invalid sample rate"),  # 2^32
    (struct.pack(">HQ", 0x7FFF, 2**64 - 1), "AIFF error: Invalid sample rate"),
    (struct.pack(">HQ", 0x8000, 123), 0),  # a zero exponent is rate 0, sign ignored
], ids=short_id)
def test_aiff_sample_rate(testing, rate_bytes, expected):
    data = aiff(comm(rate_bytes=rate_bytes), ssnd(struct.pack(">h", 16384)))
    if isinstance(expected, str):
        with pytest.raises(ValueError, match=f"^{expected}$"):
            testing.read_aiff_bytes(data)
    else:
        samples, rate = testing.read_aiff_bytes(data)
        assert rate == expected and samples.tolist() == [0.5]


@pytest.mark.parametrize("data, expected", [
    (aiff(comm(bits=8), ssnd(bytes([0x80, 0x7F, 0x40]))), [-1.0, 127 / 128, 0.5]),
    (aiff(comm(channels=2, bits=24), ssnd(bytes.fromhex("7fffff000000800000123456"))),
     [8388607 * 2.0**-23, -1.0]),
    (aiff(comm(bits=32), ssnd(struct.pack(">i", -(2**30)))), [-0.5]),
    # Odd-sized chunks are skipped with their pad byte; the last COMM is the one used.
    (aiff(chunk(b"NAME", b"abc", order=">"), comm(channels=3, bits=8), comm(bits=16),
          ssnd(struct.pack(">2h", 16384, -32768))), [0.5, -1.0]),
    # Bytes after the last whole frame are ignored; chunks after SSND are not read.
    (aiff(comm(channels=2), ssnd(struct.pack(">3h", 16384, 1, 2)), b"junk"), [0.5]),
], ids=short_id)
def test_aiff_samples(testing, data, expected):
    samples, rate = testing.read_aiff_bytes(data)
    assert rate == 44100
    np.testing.assert_array_equal(samples, np.array(expected, np.float32))


@pytest.mark.parametrize("data, message", [
    (b"RIFF" + bytes(8), "AIFF error: Invalid AIFF FORM header"),
    (aiff(form=b"AIFC"), "AIFF error: Invalid AIFF type"),
    (aiff(ssnd(b"\0\0"), comm()), "AIFF error: Missing a required chunk: COMM must come before SSND"),
    (aiff(), "AIFF error: Missing a required chunk: COMM"),
    (aiff(comm()), "AIFF error: Missing a required chunk: SSND"),
    (aiff(comm()) + b"SS", "AIFF error: Missing a required chunk: SSND"),  # a partial id is the end
    (aiff(comm()) + b"SSND\0\0", EOF_ERROR),  # a partial size is not
    (aiff(comm(bits=12), ssnd(b"\0\0")), "AIFF error: Unsupported sample size: 12 bits"),
    (aiff(comm(bits=0), ssnd(b"\0\0")), "AIFF error: Unsupported sample size: 0 bits"),
    (aiff(comm(channels=0), ssnd(b"\0\0")), "AIFF error: Invalid channel count: 0"),
    (aiff(comm(), b"SSND" + struct.pack(">I", 4) + bytes(8)), "AIFF error: Invalid SSND chunk size: 4"),
    (aiff(comm(), ssnd(b"\0\0", size=12)), EOF_ERROR),
    (aiff(b"COMM\0\0\0\x12\0\1"), EOF_ERROR),
], ids=short_id)
def test_aiff_errors(testing, data, message):
    with pytest.raises(ValueError) as info:
        testing.read_aiff_bytes(data)
    assert str(info.value) == message


# ---- SPHERE ---------------------------------------------------------------------------------------

def fields(**changes):
    """The default header fields with some replaced (value None drops the field)."""
    out = []
    for line in SPHERE_FIELDS:
        key = line.split()[0]
        if key in changes:
            replacement = changes.pop(key)
            if replacement is not None:
                out.append(replacement)
        else:
            out.append(line)
    return out + list(changes.values())


@pytest.mark.parametrize("data, expected", [
    (sphere(), [0.0, 0.5, -1.0, 32767 / 32768]),
    (sphere(fields(sample_byte_format="sample_byte_format -s2 10", sample_count="sample_count -i 2"),
            struct.pack(">2h", 16384, -2)),
     [0.5, -2 / 32768]),
    # Without the optional fields: little-endian pcm. Values may carry a '+'.
    (sphere(fields(sample_byte_format=None, sample_coding=None, sample_count="sample_count -i +2"),
            struct.pack("<2h", -16384, 1)), [-0.5, 1 / 32768]),
    # 1-byte pcm is unsigned without an offset; the byte format does not matter.
    (sphere(fields(sample_n_bytes="sample_n_bytes -i 1", sample_byte_format="sample_byte_format -s1 1"),
            bytes([0, 255, 128, 1])), [0.0, 1.9921875, 1.0, 0.0078125]),
    # A line with the key but no '-' is passed over; the value is the last token after the '-'.
    (sphere(["sample_rate 8000", "sample_rate -i  2 x 16000  ", *fields(sample_rate=None)]),
     [0.0, 0.5, -1.0, 32767 / 32768]),
], ids=short_id)
def test_sphere_samples(testing, tmp_path, data, expected):
    samples, rate = testing.read_sphere_bytes(data)
    assert rate == 16000
    np.testing.assert_array_equal(samples, np.array(expected, np.float32))
    path = tmp_path / "utt.sph"
    path.write_bytes(data)
    np.testing.assert_array_equal(testing.raw_read_audio(str(path))[0], samples)


@pytest.mark.parametrize("data, message", [
    (sphere(second="1024"), "SPHERE error: Invalid header"),
    (sphere(last="end_hea"), "SPHERE error: Invalid header"),
    (b"NIST_1A\n   1024\nend_head\n".ljust(1024), "SPHERE error: Missing a required header field: sample_rate"),
    (sphere(fields(sample_rate=None)), "SPHERE error: Missing a required header field: sample_rate"),
    (sphere(fields(sample_rate="sample_rate -")), "SPHERE error: Missing a required header field: sample_rate"),
    (sphere(fields(channel_count="channel_count -i 2")), "SPHERE error: Multichannel SPHERE files are not supported"),
    (sphere(fields(sample_byte_format="sample_byte_format -s1 1")),
     "SPHERE error: Invalid format: 2-byte pcm, byte format 1"),
    (sphere(fields(sample_coding="sample_coding -s4 ulaw")),
     "SPHERE error: Invalid format: 2-byte ulaw, byte format 01"),
    (sphere(fields(sample_rate="sample_rate -i 16k")),
     "SPHERE error: Invalid value for the header field sample_rate: '16k' - invalid digit found in string"),
    (sphere(fields(sample_count="sample_count -i -4")),
     "SPHERE error: Invalid value for the header field sample_count: '-4' - invalid digit found in string"),
    (sphere(fields(sample_rate="sample_rate -i 4294967296")),
     "SPHERE error: Invalid value for the header field sample_rate: '4294967296' - "
     "number too large to fit in target type"),
    (sphere(fields(sample_rate="sample_rate -i +")),
     "SPHERE error: Invalid value for the header field sample_rate: '+' - invalid digit found in string"),
    (sphere(fields(sample_rate="sample_rate -i 1\xe9")),
     "SPHERE error: Invalid value for the header field sample_rate: '1\xe9' - invalid digit found in string"),
    (sphere(fields(sample_count="sample_count -i 5")), EOF_ERROR),
    (sphere()[:1000], EOF_ERROR),
], ids=short_id)
def test_sphere_errors(testing, data, message):
    with pytest.raises(ValueError) as info:
        testing.read_sphere_bytes(data)
    assert str(info.value) == message


def test_sphere_header_bytes_that_are_not_utf8_are_replaced(testing):
    # An invalid byte, then a truncated three-byte sequence: one replacement each.
    data = sphere().replace(b"-i 16000", b"-i 1\xff\xe2\x820")
    with pytest.raises(ValueError) as info:
        testing.read_sphere_bytes(data)
    assert str(info.value) == ("SPHERE error: Invalid value for the header field sample_rate: "
                               "'1\ufffd\ufffd0' - invalid digit found in string")


# ---- hostile headers: errors, no huge allocation, no hang -----------------------------------------

HUGE = 0xFFFFFFFF
HOSTILE = [
    ("read_wav_bytes", riff(fmt(), chunk(b"data", b"\0" * 8, size=HUGE - 15)), EOF_ERROR),
    ("read_wav_bytes", riff(fmt(channels=65535, bits=8), chunk(b"data", b"\0" * 8, size=HUGE)), EOF_ERROR),
    ("read_wav_bytes", riff(fmt(tag=3, bits=64), chunk(b"data", b"\0" * 8, size=HUGE - 7)), EOF_ERROR),
    ("read_wav_bytes", riff(fmt(tag=0xFFFE, bits=32, size=40), chunk(b"data", b"\0" * 8, size=HUGE - 3)),
     EOF_ERROR),
    ("read_wav_bytes", riff(chunk(b"LIST", b"", size=HUGE), fmt()), EOF_ERROR),
    ("read_wav_bytes", riff(chunk(b"fmt ", b"\0" * 16, size=HUGE)), EOF_ERROR),
    ("read_wav_bytes", riff(fmt(), chunk(b"LIST", b"", size=HUGE - 1)), EOF_ERROR),
    ("read_aiff_bytes", aiff(comm(), ssnd(b"\0" * 8, size=HUGE)), EOF_ERROR),
    ("read_aiff_bytes", aiff(comm(channels=-1, bits=8), ssnd(b"\0" * 8, size=HUGE)), EOF_ERROR),
    ("read_aiff_bytes", aiff(chunk(b"APPL", b"", size=HUGE, order=">"), comm()),
     "AIFF error: Missing a required chunk: COMM"),
    ("read_aiff_bytes", aiff(comm(), chunk(b"APPL", b"", size=HUGE - 1, order=">")),
     "AIFF error: Missing a required chunk: SSND"),
    ("read_sphere_bytes", sphere(fields(sample_count="sample_count -i 18446744073709551615")), EOF_ERROR),
    ("read_sphere_bytes", sphere(fields(sample_count="sample_count -i 9223372036854775808")), EOF_ERROR),
    ("read_sphere_bytes", sphere(fields(sample_count="sample_count -i 4000000000",
                                        sample_n_bytes="sample_n_bytes -i 1")), EOF_ERROR),
]

CHILD = textwrap.dedent("""
    import json, resource, sys
    sys.path.insert(0, sys.argv[1])
    import _corvala_testing as t
    cases = json.load(open(sys.argv[2]))
    with open("/proc/self/status") as f:
        vm = next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmSize:"))
    # Room for the reader's working memory but not for anything a declared size would ask for.
    resource.setrlimit(resource.RLIMIT_AS, (vm + 512 * 2**20, resource.RLIM_INFINITY))
    out = []
    for name, path in cases:
        reader = getattr(t, name)
        results = []
        for arg in (open(path, "rb").read(), path):
            try:
                fn = reader if isinstance(arg, bytes) else getattr(t, name[:-len("_bytes")])
                x, rate = fn(arg)
                results.append(f"ok {len(x)}")
            except ValueError as e:
                results.append(str(e))
            except BaseException as e:
                results.append(f"FAULT {type(e).__name__}: {e}")
        out.append(results)
    print(json.dumps(out))
""")


def test_hostile_headers_fail_without_allocating_or_hanging(testing, tmp_path):
    cases = []
    for i, (name, data, _) in enumerate(HOSTILE):
        path = tmp_path / f"case{i}"
        path.write_bytes(data)
        cases.append((name, str(path)))
    (tmp_path / "cases.json").write_text(json.dumps(cases))
    module_dir = os.path.dirname(testing.__file__)
    run = subprocess.run([sys.executable, "-c", CHILD, module_dir, str(tmp_path / "cases.json")],
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    results = json.loads(run.stdout)
    for (name, data, message), got in zip(HOSTILE, results):
        assert got == [message, message], (name, data[:64])


# ---- the front door -------------------------------------------------------------------------------

@pytest.mark.parametrize("name", ["noise", ".hidden", "dir.d/noise", "a/..", ".", "x.\udcff"])
def test_no_extension(testing, tmp_path, name):
    with pytest.raises(ValueError, match="^Unsupported audio format: No extension$"):
        testing.raw_read_audio(str(tmp_path / name))


def test_files_that_cannot_be_read(testing, tmp_path):
    with pytest.raises(ValueError, match="^IO error: No such file or directory$"):
        testing.raw_read_audio(str(tmp_path / "absent.wav"))
    (tmp_path / "dir.wav").mkdir()
    with pytest.raises(ValueError, match="^IO error: Is a directory$"):
        testing.raw_read_audio(str(tmp_path / "dir.wav"))
    # A pipe without a writer neither blocks the open nor reads without end.
    outcomes = {}
    for name in ("pipe.wav", "pipe.aiff", "pipe.flac"):
        os.mkfifo(tmp_path / name)

        def read(path=str(tmp_path / name)):
            try:
                testing.raw_read_audio(path)
            except ValueError as e:
                outcomes[path] = str(e)

        reader = threading.Thread(target=read, daemon=True)
        reader.start()
        reader.join(10)
        assert not reader.is_alive(), name
    # Reads as empty: the own readers find no header, the library a FLAC stream without a rate.
    assert sorted(outcomes.values()) == [EOF_ERROR, EOF_ERROR, "No audio sample rate"]


def test_extension_is_case_sensitive(testing, tmp_path, source, need_ffmpeg):
    """An ADPCM WAV file: the library decodes it as .WAV; the own reader takes .wav and rejects it."""
    upper = tmp_path / "speech.WAV"
    ffmpeg("-i", source[0], "-c:a", "adpcm_ms", "-f", "wav", upper)
    samples, rate = testing.raw_read_audio(str(upper))
    assert rate == RATE
    assert_tone(samples, rate, 440, absent=660)
    lower = tmp_path / "speech.wav"
    shutil.copy(upper, lower)
    with pytest.raises(ValueError, match="^WAV error: Invalid fmt chunk size$"):  # ADPCM's is 50 bytes
        testing.raw_read_audio(str(lower))


def test_wav_extension_falls_back_to_sphere(testing, tmp_path):
    path = tmp_path / "utt.wav"
    path.write_bytes(sphere())
    samples, rate = testing.raw_read_audio(str(path))
    assert rate == 16000 and samples.tolist() == [0.0, 0.5, -1.0, 32767 / 32768]
    # When SPHERE fails too, the WAV reader's error is the one reported.
    path.write_bytes(sphere(fields(channel_count="channel_count -i 2")))
    with pytest.raises(ValueError, match="^WAV error: Invalid RIFF signature$"):
        testing.raw_read_audio(str(path))


def test_caf_extension_goes_to_the_aiff_reader(testing, tmp_path, source, need_ffmpeg):
    path = tmp_path / "x.caf"
    ffmpeg("-i", source[0], "-c:a", "pcm_s16le", path)
    with pytest.raises(ValueError, match="^AIFF error: Invalid AIFF FORM header$"):
        testing.raw_read_audio(str(path))
    # The library reads the container itself.
    samples, _ = testing.decode_with_library(str(path))
    np.testing.assert_array_equal(samples, source[1][:, 0] * np.float32(2.0**-15))


# ---- the decoding library -------------------------------------------------------------------------

# (file name, ffmpeg output options, how channel 0 is checked): "source" compares with the source
# exactly (lossless), "soundfile" with soundfile's reading of the same file, "tone" the spectrum.
DECODED = [
    ("x.flac", ["-c:a", "flac"], "source"),
    ("x.mp3", ["-c:a", "libmp3lame", "-b:a", "192k"], "tone"),
    ("x.mp2", ["-c:a", "mp2", "-b:a", "192k"], "tone"),
    ("x.ogg", ["-c:a", "libvorbis"], "tone"),
    ("x.m4a", ["-c:a", "aac", "-b:a", "192k"], "tone"),
    ("alac.m4a", ["-c:a", "alac"], "source"),
    ("x.mka", ["-c:a", "flac"], "source"),
    ("x.webm", ["-c:a", "libvorbis"], "tone"),
    ("x.caf", ["-c:a", "alac"], "source"),
    ("ms.adpcm", ["-c:a", "adpcm_ms", "-f", "wav"], "tone"),
    ("ima.adpcm", ["-c:a", "adpcm_ima_wav", "-f", "wav"], "tone"),
    ("u8.wave", ["-c:a", "pcm_u8", "-f", "wav"], "soundfile"),  # converted by the library
    ("f64.wave", ["-c:a", "pcm_f64le", "-f", "wav"], "soundfile"),
    ("s32.wave", ["-c:a", "pcm_s32le", "-f", "wav"], "source"),
    ("be.aif", ["-c:a", "pcm_s16be", "-f", "aiff"], "source"),
]


@pytest.mark.parametrize("name, options, check", DECODED, ids=[d[0] for d in DECODED])
def test_library_decodes_containers_and_codecs(testing, tmp_path, source, need_ffmpeg, name, options, check):
    path = tmp_path / name
    ffmpeg("-i", source[0], *options, path)
    samples, rate = testing.decode_with_library(str(path))
    assert rate == RATE and samples.dtype == np.float32
    channel0 = source[1][:, 0] * np.float32(2.0**-15)
    if check == "source":
        np.testing.assert_array_equal(samples, channel0)
    elif check == "soundfile":
        np.testing.assert_array_equal(samples, sf.read(path, dtype="float32")[0][:, 0])
    else:
        assert abs(len(samples) - FRAMES) <= 2048
        assert_tone(samples, rate, 440, absent=660)


@pytest.mark.parametrize("default_track", [0, 1])
def test_two_track_matroska_decodes_only_the_default_track(testing, tmp_path, source, need_ffmpeg, default_track):
    """A second audio track of another codec and another tone must not reach the first's decoder."""
    other = write_wave(tmp_path / "other.wav", stereo_source()[:, ::-1])
    path = tmp_path / "two.mka"
    ffmpeg("-i", source[0], "-i", other, "-map", "0:a", "-map", "1:a", "-c:a:0", "flac", "-c:a:1", "libvorbis",
           "-disposition:a:0", "default" if default_track == 0 else "0",
           "-disposition:a:1", "default" if default_track == 1 else "0", path)
    samples, rate = testing.raw_read_audio(str(path))
    if default_track == 0:
        np.testing.assert_array_equal(samples, source[1][:, 0] * np.float32(2.0**-15))
    else:
        assert_tone(samples, rate, 660, absent=440)


def test_video_tracks_are_not_audio(testing, tmp_path, source, need_ffmpeg):
    video = ["-f", "lavfi", "-i", "testsrc=size=32x32:rate=25:duration=0.5"]
    both = tmp_path / "av.mkv"
    ffmpeg(*video, "-i", source[0], "-map", "0:v", "-map", "1:a", "-c:v", "ffv1", "-c:a", "flac", both)
    samples, _ = testing.raw_read_audio(str(both))
    np.testing.assert_array_equal(samples, source[1][:, 0] * np.float32(2.0**-15))
    only = tmp_path / "v.mkv"
    ffmpeg(*video, "-c:v", "ffv1", only)
    with pytest.raises(ValueError, match="^No audio track$"):
        testing.raw_read_audio(str(only))


def test_library_errors(testing, tmp_path, source, need_ffmpeg):
    empty = tmp_path / "empty.flac"
    ffmpeg("-i", source[0], "-t", "0", "-c:a", "flac", empty)
    with pytest.raises(ValueError, match="^No audio packets$"):
        testing.raw_read_audio(str(empty))
    garbage = tmp_path / "garbage.mp3"
    garbage.write_bytes(bytes(range(256)) * 4)
    with pytest.raises(ValueError, match="^Unsupported audio format: probe: "):
        testing.raw_read_audio(str(garbage))
    whole = tmp_path / "whole.flac"
    ffmpeg("-i", source[0], "-c:a", "flac", whole)
    # Cut inside the header, then inside a frame: a failed probe, then a failed decode.
    cuts = ((30, "^Unsupported audio format: probe: "), (len(whole.read_bytes()) // 2, "^ffmpeg error: decode: "))
    for length, message in cuts:
        cut = tmp_path / f"cut{length}.flac"
        cut.write_bytes(whole.read_bytes()[:length])
        with pytest.raises(ValueError, match=message):
            testing.raw_read_audio(str(cut))


@pytest.mark.parametrize("name, text", [
    ("list.m3u8", "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\n{target}\n#EXT-X-ENDLIST\n"),
    ("list.ffconcat", "ffconcat version 1.0\nfile '{target}'\n"),
    ("list.m3u", "#EXTM3U\n#EXTINF:1,x\n{target}\n"),
])
def test_files_that_refer_to_other_files_are_not_followed(testing, tmp_path, source, name, text):
    path = tmp_path / name
    path.write_text(text.format(target=source[0]))
    with pytest.raises(ValueError, match="^Unsupported audio format: probe: "):
        testing.raw_read_audio(str(path))


# ---- the resampler --------------------------------------------------------------------------------

@pytest.mark.parametrize("from_rate, to_rate", [(44100, 16000), (48000, 16000), (8000, 16000), (16000, 44100),
                                                (22050, 16000), (96000, 16000)])
def test_resampler_matches_python_soxr(testing, from_rate, to_rate):
    # Longer than one piece of input the resampler hands to libsoxr.
    x = (0.3 * np.random.default_rng(2).standard_normal(100_000)).astype(np.float32)
    ours = testing.resample_audio(x, from_rate, to_rate)
    # The whole output of a stream, flushed tail included: nothing is trimmed.
    stream = soxr.ResampleStream(from_rate, to_rate, 1, dtype="float32", quality="HQ")
    expected = stream.resample_chunk(x, last=True)
    assert ours.dtype == np.float32 and len(ours) == len(expected)
    np.testing.assert_allclose(ours, expected, rtol=0, atol=2e-7)


def test_resampler_edges(testing):
    x = np.arange(5, dtype=np.float32)
    same = testing.resample_audio(x, 16000, 16000)
    np.testing.assert_array_equal(same, x)
    assert not np.shares_memory(same, x)
    empty = np.zeros(0, np.float32)
    for args, message in [((empty, 16000, 16000), "Input array cannot be empty"),
                          ((empty, 0, 16000), "Sample rates must be greater than 0"),
                          ((x, 16000, 0), "Sample rates must be greater than 0"),
                          ((np.zeros(10, np.float32)[::2], 8000, 16000), "Failed to get input data as a slice")]:
        with pytest.raises(ValueError, match=f"^Resample error: {message}$"):
            testing.resample_audio(*args)


def test_readers_and_resampler_run_on_threads(testing, tmp_path):
    path = tmp_path / "x.wav"
    sf.write(path, noise(30000, 2), 44100, subtype="PCM_16")
    serial = testing.resample_audio(testing.read_wav(str(path))[0], 44100, 16000)
    results, errors = [], []

    def work():
        try:
            for _ in range(5):
                results.append(testing.resample_audio(testing.read_wav(str(path))[0], 44100, 16000))
        except Exception as e:  # noqa: BLE001 - reported below
            errors.append(e)

    threads = [threading.Thread(target=work) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors and len(results) == 20
    for r in results:
        np.testing.assert_array_equal(r, serial)
