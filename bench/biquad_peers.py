"""Peers of the biquad filter family: the filters' coefficients for scipy.signal.lfilter, and the
bare C++ direct-form-I loops of bench/biquad_bare.cpp (built on first use into build/bench/)."""

from __future__ import annotations

import ctypes
import math
import subprocess
from pathlib import Path

import numpy as np

ROOT = Path(__file__).resolve().parent.parent
SOURCE = ROOT / "bench" / "biquad_bare.cpp"
BUILD = ROOT / "build" / "bench"
FLAGS = ["g++", "-std=c++23", "-O3", "-ffp-contract=off", "-fno-trapping-math", "-fno-math-errno"]
RATE = 16000.0


def _angle(f):
    w = 2 * math.pi * f / RATE
    return w, math.sin(w), math.cos(w)


def _df1(b0, b1, b2, a0, a1, a2):
    return [b0, b1, b2], [a0, a1, a2], "direct form I"


def peaking(f, q, gain_db):
    _, s, c = _angle(f)
    A, alpha = 10 ** (gain_db / 40), s / (2 * q)
    return _df1(1 + alpha * A, -2 * c, 1 - alpha * A, 1 + alpha / A, -2 * c, 1 - alpha / A)


def pass2(f, high, q=0.7071067811865476):
    _, s, c = _angle(f)
    alpha = s / (2 * q)
    k = (1 + c) if high else (1 - c)
    return _df1(k / 2, -k if high else k, k / 2, 1 + alpha, -2 * c, 1 - alpha)


def pass1(f, high):
    a = math.exp(-_angle(f)[0])
    if high:
        return [(1 + a) / 2, -(1 + a) / 2], [1.0, -a], "one pole"
    return [1 - a], [1.0, -a], "one pole"


def band_hz(f, bw, kind):
    _, s, c = _angle(f)
    alpha = s / (2 * f / bw)
    b = {"bandpass": (alpha, 0, -alpha), "constant skirt": (s / 2, 0, -s / 2),
         "bandreject": (1, -2 * c, 1)}[kind]
    return _df1(*b, 1 + alpha, -2 * c, 1 - alpha)


def allpass(f, q):
    _, s, c = _angle(f)
    alpha = s / (2 * q)
    return _df1(1 - alpha, -2 * c, 1 + alpha, 1 + alpha, -2 * c, 1 - alpha)


def shelf(gain_db, f, treble, slope=0.5):
    _, s, c = _angle(f)
    A = 10 ** (gain_db / 40)
    k = 2 * math.sqrt(A) * (s / 2 * math.sqrt((A + 1 / A) * (1 / slope - 1) + 2))
    if treble:
        return _df1(A * ((A + 1) + (A - 1) * c + k), -2 * A * ((A - 1) + (A + 1) * c),
                    A * ((A + 1) + (A - 1) * c - k), (A + 1) - (A - 1) * c + k,
                    2 * ((A - 1) - (A + 1) * c), (A + 1) - (A - 1) * c - k)
    return _df1(A * ((A + 1) - (A - 1) * c + k), 2 * A * ((A - 1) - (A + 1) * c),
                A * ((A + 1) - (A - 1) * c - k), (A + 1) + (A - 1) * c + k,
                -2 * ((A - 1) + (A + 1) * c), (A + 1) + (A - 1) * c - k)


def resonator(f, bw, noise):
    b2 = math.exp(-2 * math.pi * bw / RATE)
    b1 = -4 * b2 / (1 + b2) * _angle(f)[2]
    g0 = (math.sqrt((1 - b2) * ((1 + b2) ** 2 - b1 * b1) / (1 + b2)) if noise
          else (1 - b2) * math.sqrt(1 - b1 * b1 / (4 * b2)))
    return [g0], [1.0, b1, b2], "resonator"


# Effect string, then (b, a, loop form) with the coefficients the effect designs.
FILTERS = [
    ("equalizer 1k 2q -6", peaking(1000, 2, -6)),
    ("highpass 100", pass2(100, True)),
    ("lowpass 3k", pass2(3000, False)),
    ("highpass -1 100", pass1(100, True)),
    ("lowpass -1 3k", pass1(3000, False)),
    ("bandpass 1k 200", band_hz(1000, 200, "bandpass")),
    ("bandpass -c 1k 200", band_hz(1000, 200, "constant skirt")),
    ("bandreject 1k 200", band_hz(1000, 200, "bandreject")),
    ("allpass 1k 2q", allpass(1000, 2)),
    ("bass 6", shelf(6, 100, False)),
    ("treble -6", shelf(-6, 3000, True)),
    ("band 1k 200", resonator(1000, 200, False)),
    ("band -n 1k 200", resonator(1000, 200, True)),
]


class BareLoops:
    """The two loops of biquad_bare.cpp through ctypes, in the same process as the effects. On first
    use it builds the program and the library and prints the program's own ns/sample."""

    def __init__(self):
        self._lib = None

    def _load(self):
        if self._lib is not None:
            return self._lib
        BUILD.mkdir(parents=True, exist_ok=True)
        program, library = BUILD / "biquad_bare", BUILD / "libbiquad_bare.so"
        for target, extra in ((program, []), (library, ["-shared", "-fPIC"])):
            if not target.exists() or target.stat().st_mtime < SOURCE.stat().st_mtime:
                subprocess.run([*FLAGS, *extra, str(SOURCE), "-o", str(target)], check=True)
        for line in subprocess.run([str(program)], check=True, capture_output=True, text=True).stdout.splitlines():
            print(f"  {line}")
        self._lib = ctypes.CDLL(str(library))
        return self._lib

    def _call(self, name, x, b, a):
        out = np.empty_like(x)
        c = np.ascontiguousarray([*b, *a], np.float64)
        ptr = ctypes.c_void_p
        getattr(self._load(), name)(ptr(x.ctypes.data), ptr(out.ctypes.data), ctypes.c_size_t(len(x)),
                                    ptr(c.ctypes.data))
        return out

    def divide_f32(self, x, b, a):
        return self._call("divide_f32", np.ascontiguousarray(x, np.float32), b, a)

    def predivided_i32(self, n, b, a):
        return self._call("predivided_i32", np.ascontiguousarray(n, np.int32), b, a)
