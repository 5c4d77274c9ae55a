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
    return out + level_entries()


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
