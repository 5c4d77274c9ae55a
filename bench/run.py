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
    base = ["gain -3", "norm -1", "gain -n -l 2", "GAIN 0.5", "nope 3", ""]
    return [base[i % len(base)] for i in range(count)]


def entries() -> list[Entry]:
    out = []
    for seconds, target in ((10, None), (60, 2.0)):
        buffer = speech_like(seconds)
        out.append(Entry(f"apply_effects, empty chain, {seconds} s float32",
                         lambda b=buffer: ext.audio.apply_effects(b, []), "numpy.copy",
                         lambda b=buffer: np.copy(b), target))
    strings = effect_strings(1000)
    out.append(Entry("validate_effects_chain, 1000 strings", lambda: ext.audio.validate_effects_chain(strings),
                     "str.split of each string", lambda: [s.split() for s in strings]))
    return out


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
