"""Try effect chains from the command line.

    python -m corvala.effects check CHAIN...
        Print each effect string's canonical text, or its error report. Exit status 1 if any
        string does not parse.
    python -m corvala.effects apply IN.wav OUT.wav CHAIN...
        Read channel 0 of a WAV file (16-, 24- or 32-bit integer, or 32-/64-bit float), run the
        chain over it and write the result as a 32-bit float WAV file at the input's rate.

Effects are tuned for 16000 Hz; a file at another rate is processed as if it were at 16000 Hz.
"""

from __future__ import annotations

import argparse
import struct
import sys
from dataclasses import dataclass
from pathlib import Path

import numpy as np

from corvala import ext

EFFECT_RATE = 16000
_PCM, _FLOAT, _EXTENSIBLE = 1, 3, 0xFFFE


class WavError(Exception):
    pass


@dataclass
class Wav:
    rate: int
    channels: int
    samples: np.ndarray  # channel 0, float32 in [-1, 1]


def read_wav(path: Path) -> Wav:
    data = path.read_bytes()
    if len(data) < 12 or data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise WavError("not a RIFF/WAVE file")
    fmt = None
    body = None
    pos = 12
    while pos + 8 <= len(data):
        chunk_id, size = struct.unpack_from("<4sI", data, pos)
        start = pos + 8
        chunk = data[start:start + size]
        if chunk_id == b"fmt ":
            if len(chunk) < 16:
                raise WavError("fmt chunk is too short")
            fmt = chunk
        elif chunk_id == b"data":
            body = chunk
        pos = start + size + (size & 1)
    if fmt is None or body is None:
        raise WavError("missing fmt or data chunk")
    tag, channels, rate, _, block, bits = struct.unpack_from("<HHIIHH", fmt)
    if tag == _EXTENSIBLE and len(fmt) >= 26:
        tag = struct.unpack_from("<H", fmt, 24)[0]
    if channels == 0 or block == 0 or block < channels * ((bits + 7) // 8):
        raise WavError("invalid channel or frame layout")
    width = bits // 8
    frames = len(body) // block
    raw = np.frombuffer(body[: frames * block], np.uint8).reshape(frames, block)[:, :width]
    if tag == _FLOAT and bits in (32, 64):
        x = raw.copy().view("<f4" if bits == 32 else "<f8")[:, 0].astype(np.float32)
    elif tag == _PCM and bits in (16, 24, 32):
        padded = np.zeros((frames, 4), np.uint8)
        padded[:, 4 - width:] = raw  # left-justify into 32 bits, keeping the sign
        x = (padded.view("<i4")[:, 0].astype(np.float64) / 2.0**31).astype(np.float32)
    else:
        raise WavError(f"unsupported sample format (format tag {tag}, {bits} bits)")
    return Wav(rate, channels, x)


def write_wav(path: Path, rate: int, samples: np.ndarray) -> None:
    payload = samples.astype("<f4").tobytes()
    fmt = struct.pack("<HHIIHH", _FLOAT, 1, rate, rate * 4, 4, 32)
    header = b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + len(payload)) + b"WAVE"
    header += b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(payload))
    path.write_bytes(header + payload)


def check(chain: list[str]) -> int:
    failed = False
    for ok, message, text in ext.audio.validate_effects_chain(chain):
        if ok:
            print(text)
        else:
            failed = True
            print(f"{text!r}: {message}")
    return 1 if failed else 0


def apply(source: Path, target: Path, chain: list[str]) -> int:
    try:
        wav = read_wav(source)
    except OSError as e:
        print(f"error: cannot read {source}: {e.strerror or e}", file=sys.stderr)
        return 2
    except WavError as e:
        print(f"error: {source}: {e}", file=sys.stderr)
        return 2
    if wav.rate != EFFECT_RATE:
        print(f"warning: effects are tuned for {EFFECT_RATE} Hz; {source} is {wav.rate} Hz and is processed "
              f"as if it were {EFFECT_RATE} Hz", file=sys.stderr)
    if wav.channels > 1:
        print(f"note: {source} has {wav.channels} channels; only channel 0 is used", file=sys.stderr)
    try:
        out = ext.audio.apply_effects(wav.samples, chain)
    except ValueError as e:
        print(f"error: {e}", file=sys.stderr)
        return 1
    try:
        write_wav(target, wav.rate, out)
    except OSError as e:
        print(f"error: cannot write {target}: {e.strerror or e}", file=sys.stderr)
        return 2
    print(f"{target}: {len(out)} samples ({len(out) / wav.rate:.3f} s)")
    return 0


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m corvala.effects", description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter, epilog=__doc__)
    commands = parser.add_subparsers(dest="command", required=True)
    check_parser = commands.add_parser("check", help="validate effect strings")
    check_parser.add_argument("chain", nargs="+", metavar="EFFECT")
    apply_parser = commands.add_parser("apply", help="run a chain over a WAV file")
    apply_parser.add_argument("source", type=Path, metavar="IN.wav")
    apply_parser.add_argument("target", type=Path, metavar="OUT.wav")
    apply_parser.add_argument("chain", nargs="*", metavar="EFFECT")
    args = parser.parse_args(argv)
    if args.command == "check":
        return check(args.chain)
    return apply(args.source, args.target, args.chain)


if __name__ == "__main__":
    sys.exit(main())
