"""The main job: build a small synthetic dataset and realize every mixture with KernelSession.

    python -m corvala.demo [--out DIR] [--mixtures N] [--threads T]

Writes deterministic speech-like sources and noises at mixed sample rates and file formats into
DIR, a mixdb.db holding a plan digest, and a snapshot of plain Python objects with pre- and
post-effects. The gain callback sets each mixture's SNR from the active speech level. Every
mixture's mixture_audio is realized from T threads and written back as cache artifacts; a few
mixtures are saved as WAV files to listen to. A second run over the same DIR reads the artifacts
back instead of computing them.
"""

from __future__ import annotations

import argparse
import math
import shutil
import sqlite3
import struct
import subprocess
import sys
import threading
import time
import wave
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np

from corvala import ext
from corvala.effects import write_wav

RATE = 16000
SPEECH_LEVEL_DB = -25.0  # active speech level of every mixture, dBov
SNRS_DB = (-5.0, 0.0, 5.0, 10.0, 20.0)
PRE_EFFECTS = (["gain -2"], ["equalizer 1k 2q 3"], ["tremolo 4 30"], ["highpass 80"], ["contrast 30"])
POST_EFFECTS = (["fade q 0.05"], ["vol 0.9"], ["lowpass 7000"], ["bass 2"], [])


# ---- the snapshot the host would hand over ---------------------------------------------------

@dataclass
class Effects:
    pre: list[str]
    post: list[str]


@dataclass
class Source:
    effects: Effects
    file_id: int
    loop: bool
    start: int


@dataclass
class Mixture:
    name: str
    samples: int
    all_sources: dict[str, Source]
    spectral_mask_id: int | None = None
    spectral_mask_seed: int = 0


@dataclass
class SourceFile:
    name: str
    truth_configs: dict = field(default_factory=dict)


@dataclass
class Snapshot:
    mixtures_by_id: dict[int, Mixture]
    source_files_by_id: dict[int, SourceFile]
    spectral_masks_by_id: dict = field(default_factory=dict)


@dataclass
class TransformConfig:
    length: int = 256
    overlap: int = 64
    bin_start: int = 0
    bin_end: int = 128
    ttype: str = "stft-olsa-hanns"


# ---- audio files in several formats ----------------------------------------------------------

def speech_like(seconds: float, rate: int, seed: int) -> np.ndarray:
    """Voiced bursts with a moving pitch and a few harmonics, separated by pauses."""
    rng = np.random.default_rng(seed)
    n = int(seconds * rate)
    t = np.arange(n) / rate
    out = np.zeros(n)
    pos = 0
    while pos < n:
        burst = int(rng.uniform(0.15, 0.6) * rate)
        pause = int(rng.uniform(0.05, 0.4) * rate)
        end = min(n, pos + burst)
        f0 = rng.uniform(90, 220) * (1 + 0.1 * np.sin(2 * np.pi * 3 * t[pos:end]))
        phase = 2 * np.pi * np.cumsum(f0) / rate
        voiced = sum(np.sin(k * phase) / k for k in range(1, 6))
        window = np.sin(np.pi * np.linspace(0, 1, end - pos)) ** 2
        out[pos:end] = voiced * window * rng.uniform(0.3, 0.9)
        pos = end + pause
    return (0.25 * out + 0.002 * rng.standard_normal(n)).astype(np.float32)


def noise_like(seconds: float, rate: int, seed: int, colour: float) -> np.ndarray:
    rng = np.random.default_rng(seed)
    n = int(seconds * rate)
    spectrum = np.fft.rfft(rng.standard_normal(n))
    freqs = np.maximum(np.fft.rfftfreq(n, 1 / rate), 20.0)
    shaped = np.fft.irfft(spectrum / freqs ** (colour / 2), n)
    return (0.2 * shaped / np.max(np.abs(shaped))).astype(np.float32)


def write_pcm_wav(path: Path, x: np.ndarray, rate: int, width: int) -> None:
    scale = 2 ** (8 * width - 1) - 1
    ints = np.round(np.clip(x, -1, 1) * scale).astype("<i4")
    raw = ints.view(np.uint8).reshape(-1, 4)[:, :width].tobytes()
    with wave.open(str(path), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(width)
        w.setframerate(rate)
        w.writeframes(raw)


def ieee_extended(value: float) -> bytes:
    """An 80-bit IEEE extended float, as AIFF stores its sample rate."""
    mantissa, exponent = math.frexp(value)
    return struct.pack(">HQ", exponent + 16382, int(mantissa * 2**64))


def write_aiff(path: Path, x: np.ndarray, rate: int) -> None:
    data = np.round(np.clip(x, -1, 1) * 32767).astype(">i2").tobytes()
    comm = struct.pack(">hIh", 1, len(x), 16) + ieee_extended(rate)
    ssnd = struct.pack(">II", 0, 0) + data
    body = b"AIFF" + b"COMM" + struct.pack(">I", len(comm)) + comm + b"SSND" + struct.pack(">I", len(ssnd)) + ssnd
    path.write_bytes(b"FORM" + struct.pack(">I", len(body)) + body)


def write_sphere(path: Path, x: np.ndarray, rate: int) -> None:
    lines = ["NIST_1A", "   1024", f"sample_rate -i {rate}", f"sample_count -i {len(x)}", "sample_n_bytes -i 2",
             "channel_count -i 1", "sample_byte_format -s2 01", "sample_coding -s3 pcm", "end_head"]
    header = ("\n".join(lines) + "\n").encode().ljust(1024, b" ")
    path.write_bytes(header + np.round(np.clip(x, -1, 1) * 32767).astype("<i2").tobytes())


def write_flac(path: Path, x: np.ndarray, rate: int) -> bool:
    ffmpeg = shutil.which("ffmpeg")
    if ffmpeg is None:
        return False
    pcm = np.round(np.clip(x, -1, 1) * 32767).astype("<i2").tobytes()
    done = subprocess.run([ffmpeg, "-v", "error", "-y", "-f", "s16le", "-ar", str(rate), "-ac", "1", "-i", "-",
                           str(path)], input=pcm, capture_output=True)
    return done.returncode == 0


def build_sources(audio_dir: Path) -> dict[int, SourceFile]:
    """Speech files get ids 1.., noise files 101..; formats and rates vary by file."""
    audio_dir.mkdir(parents=True, exist_ok=True)
    formats = [("wav16", 16000), ("wav24", 48000), ("aiff", 22050), ("sphere", 8000), ("flac", 44100)]
    files: dict[int, SourceFile] = {}
    for kind, base_id, count in (("speech", 1, 6), ("noise", 101, 4)):
        for k in range(count):
            fmt, rate = formats[k % len(formats)]
            seconds = 4.0 if kind == "speech" else 3.0
            x = speech_like(seconds, rate, 10 + k) if kind == "speech" else noise_like(seconds, rate, 50 + k, k % 3)
            stem = audio_dir / f"{kind}{k}"
            if fmt == "flac" and write_flac(stem.with_suffix(".flac"), x, rate):
                path = stem.with_suffix(".flac")
            elif fmt == "aiff":
                path = stem.with_suffix(".aiff")
                write_aiff(path, x, rate)
            elif fmt == "sphere":
                path = stem.with_suffix(".sph")
                write_sphere(path, x, rate)
            else:
                path = stem.with_suffix(".wav")
                write_pcm_wav(path, x, rate, 3 if fmt == "wav24" else 2)
            # Names go through the host's variable expansion, as real datasets' names do.
            files[base_id + k] = SourceFile(name=f"${{CORVALA_DEMO_AUDIO}}/{path.name}")
    return files


def build_plan(n_mixtures: int, files: dict[int, SourceFile]) -> dict[int, Mixture]:
    speech_ids = [i for i in files if i < 100]
    noise_ids = [i for i in files if i > 100]
    mixtures = {}
    for m in range(n_mixtures):
        seconds = 2.0 + (m % 3)
        sources = {
            "speech": Source(Effects(list(PRE_EFFECTS[m % 5]), list(POST_EFFECTS[m % 5])),
                             speech_ids[m % len(speech_ids)], loop=False, start=(m * 1234) % 8000),
            "noise": Source(Effects(list(PRE_EFFECTS[(m + 2) % 5]), list(POST_EFFECTS[(m + 1) % 5])),
                            noise_ids[m % len(noise_ids)], loop=True, start=m * 777),
        }
        mixtures[m + 1] = Mixture(name=f"mixture{m:04d}", samples=int(seconds * RATE), all_sources=sources)
    return mixtures


def write_store(location: Path, digest: str) -> None:
    db = location / "mixdb.db"
    if db.exists():
        db.unlink()
    with sqlite3.connect(db) as con:
        con.execute("CREATE TABLE top (id INTEGER PRIMARY KEY, plan_digest TEXT)")
        con.execute("INSERT INTO top (id, plan_digest) VALUES (1, ?)", (digest,))
    con.close()


# ---- the gain callback -----------------------------------------------------------------------

def snr_gains(m_id: int, audio: dict[str, np.ndarray]) -> dict[str, float]:
    """Speech to SPEECH_LEVEL_DB active level; noise to the mixture's SNR below it."""
    target = 10.0 ** (SPEECH_LEVEL_DB / 10.0)
    level = ext.asl_p56(audio["speech"])
    speech_gain = math.sqrt(target / level) if level > 0 else 1.0
    noise_power = float(np.mean(np.square(audio["noise"], dtype=np.float64))) if len(audio["noise"]) else 0.0
    snr = SNRS_DB[m_id % len(SNRS_DB)]
    noise_gain = math.sqrt(target / (noise_power * 10.0 ** (snr / 10.0))) if noise_power > 0 else 0.0
    return {"speech": speech_gain, "noise": noise_gain}


# ---- running ---------------------------------------------------------------------------------

class Progress:
    def __init__(self, total: int) -> None:
        try:
            from tqdm import tqdm
        except ImportError:  # a plain counter when tqdm is not installed
            tqdm = None
        self._bar = tqdm(total=total, unit="mix", file=sys.stderr) if tqdm else None
        self._lock = threading.Lock()
        self._done = 0
        self._total = total

    def step(self) -> None:
        with self._lock:
            self._done += 1
            if self._bar is not None:
                self._bar.update(1)
            elif self._done == self._total:
                print(f"{self._done}/{self._total} mixtures", file=sys.stderr)

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()


def count_artifacts(location: Path) -> int:
    root = location / "mixture"
    return sum(1 for _ in root.rglob("*.safetensors")) if root.exists() else 0


def run(out: Path, n_mixtures: int, threads: int) -> dict:
    import os

    out = out.resolve()
    out.mkdir(parents=True, exist_ok=True)
    audio_dir = out / "audio"
    os.environ["CORVALA_DEMO_AUDIO"] = str(audio_dir)
    files = build_sources(audio_dir)
    mixtures = build_plan(n_mixtures, files)
    write_store(out, f"demo-{n_mixtures}-v1")
    snapshot = Snapshot(mixtures, files)
    declared = [["mixture_audio", "gains"]] * n_mixtures
    session = ext.KernelSession(snapshot, declared, None, snr_gains, TransformConfig(), "", {}, str(out),
                                ext.data_io.KERNEL_EPOCH, 64 << 20)

    before = count_artifacts(out)
    progress = Progress(n_mixtures)
    results: dict[int, np.ndarray] = {}
    errors: list[BaseException] = []

    def work(ids: list[int]) -> None:
        try:
            for m_id in ids:
                results[m_id] = session.realize(m_id, ["mixture_audio"], cache=True)["mixture_audio"]
                progress.step()
        except BaseException as e:  # reported after the join
            errors.append(e)

    start = time.perf_counter()
    workers = [threading.Thread(target=work, args=(list(range(k, n_mixtures, threads)),)) for k in range(threads)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    wall = time.perf_counter() - start
    progress.close()
    if errors:
        raise errors[0]

    listen = out / "listen"
    listen.mkdir(exist_ok=True)
    for m_id in range(min(3, n_mixtures)):
        write_wav(listen / f"{mixtures[m_id + 1].name}.wav", RATE, results[m_id])
    written = count_artifacts(out) - before
    seconds = sum(m.samples for m in mixtures.values()) / RATE
    return {"mixtures": n_mixtures, "seconds": seconds, "wall": wall, "written": written,
            "read_through": written == 0 and before > 0, "completed": session.completed(), "listen": listen}


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m corvala.demo", description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", type=Path, default=Path("demo-data"), help="dataset directory (default ./demo-data)")
    parser.add_argument("--mixtures", type=int, default=48, help="number of mixtures (default 48)")
    parser.add_argument("--threads", type=int, default=2, help="realizing threads (default 2)")
    args = parser.parse_args(argv)
    if args.mixtures < 1 or args.threads < 1:
        parser.error("--mixtures and --threads must be at least 1")
    summary = run(args.out, args.mixtures, args.threads)
    print(f"mixtures:        {summary['mixtures']} realized ({summary['completed']} realize calls)")
    print(f"audio:           {summary['seconds']:.1f} s at {RATE} Hz")
    print(f"wall time:       {summary['wall']:.2f} s on {args.threads} thread(s), "
          f"real-time factor {summary['seconds'] / max(summary['wall'], 1e-9):.0f}x")
    if summary["read_through"]:
        print("artifacts:       none written: every mixture was read back from the artifacts of an earlier run")
    else:
        print(f"artifacts:       {summary['written']} written under {args.out / 'mixture'}")
    print(f"listen:          {summary['listen']}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
