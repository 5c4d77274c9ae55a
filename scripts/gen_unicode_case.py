#!/usr/bin/env python3
"""Writes ext/audio/parser/unicode_case_table.inc from the running Python's str.lower().

Tables:
  kLowerRanges / kLowerPool  the lowercase mapping of every code point c with c.lower() != c,
                             as runs of equal delta (stride 1 or 2); multi-code-point results
                             live in kLowerPool as UTF-8 (stride 0 entries).
  kCasedRanges               code points that end the backward or forward scan of the final
                             sigma rule as "cased": cased and not case-ignorable.
  kIgnorableRanges           code points the scans skip: case-ignorable.

Both properties are probed through str.lower() itself, so they are the ones the final sigma
logic actually uses. Before writing, the script checks a model of the C++ algorithm built on
these tables against str.lower() on random strings.

Usage: python3 scripts/gen_unicode_case.py [--check]   (--check: verify only, write nothing)
"""

import random
import sys
import unicodedata
from bisect import bisect_right
from pathlib import Path

OUT = Path(__file__).resolve().parent.parent / "ext" / "audio" / "parser" / "unicode_case_table.inc"
MAX_CP = 0x110000
SIGMA, SMALL_SIGMA, FINAL_SIGMA = "\u03a3", "\u03c3", "\u03c2"


def is_surrogate(cp):
    return 0xD800 <= cp <= 0xDFFF


def derive_mapping():
    mapping = {}
    for cp in range(MAX_CP):
        c = chr(cp)
        low = c.lower()
        if low != c:
            mapping[cp] = low
    assert mapping[0x3A3] == SMALL_SIGMA  # a lone capital sigma is not final
    return mapping


def derive_properties():
    cased, ignorable = [], []
    for cp in range(MAX_CP):
        c = chr(cp)
        p1 = ("A" + c + SIGMA).lower().endswith(FINAL_SIGMA)  # ignorable or cased
        p2 = (c + SIGMA).lower().endswith(FINAL_SIGMA)  # cased and not ignorable
        assert p1 or not p2, hex(cp)
        if is_surrogate(cp):
            assert not p1, hex(cp)
        if p2:
            cased.append(cp)
        elif p1:
            ignorable.append(cp)
    return cased, ignorable


def to_ranges(cps):
    ranges = []
    for cp in cps:
        if ranges and ranges[-1][1] + 1 == cp:
            ranges[-1][1] = cp
        else:
            ranges.append([cp, cp])
    return [tuple(r) for r in ranges]


def mapping_ranges(mapping):
    """Runs [first, last, delta, stride]; stride 0 marks a pool entry (delta = pool offset)."""
    runs, pool = [], bytearray()
    for cp in sorted(mapping):
        low = mapping[cp]
        if len(low) != 1:
            data = low.encode("utf-8")
            runs.append([cp, cp, len(pool), 0, len(data)])
            pool += data
            continue
        delta = ord(low) - cp
        if runs and runs[-1][3] != 0 and runs[-1][2] == delta:
            first, last, _, stride, _ = runs[-1]
            step = cp - last
            if (first == last and step in (1, 2)) or step == stride:
                runs[-1][1], runs[-1][3] = cp, step
                continue
        runs.append([cp, cp, delta, 1, 0])
    return [tuple(r) for r in runs], bytes(pool)


# Model of unicode_lower() over a str, built only from the tables.
class Model:
    def __init__(self, runs, pool, cased, ignorable):
        self.runs, self.pool = runs, pool
        self.run_starts = [r[0] for r in runs]
        self.cased, self.ignorable = cased, ignorable
        self.cased_starts = [r[0] for r in cased]
        self.ign_starts = [r[0] for r in ignorable]

    @staticmethod
    def _find(starts, ranges, cp):
        k = bisect_right(starts, cp) - 1
        return ranges[k] if k >= 0 and cp <= ranges[k][1] else None

    def klass(self, cp):
        if self._find(self.ign_starts, self.ignorable, cp):
            return "ignorable"
        if self._find(self.cased_starts, self.cased, cp):
            return "cased"
        return "other"

    def lower_cp(self, cp):
        r = self._find(self.run_starts, self.runs, cp)
        if r is None or (r[3] == 2 and (cp - r[0]) % 2):
            return chr(cp)
        if r[3] == 0:
            return self.pool[r[2]:r[2] + r[4]].decode("utf-8")
        return chr(cp + r[2])

    def lower(self, s):
        out, prev_cased = [], False
        for i, ch in enumerate(s):
            cp = ord(ch)
            if cp == 0x3A3:
                final = prev_cased
                if final:
                    for nxt in s[i + 1:]:
                        k = self.klass(ord(nxt))
                        if k != "ignorable":
                            final = k != "cased"
                            break
                out.append(FINAL_SIGMA if final else SMALL_SIGMA)
            else:
                out.append(self.lower_cp(cp))
            k = self.klass(cp)
            if k != "ignorable":
                prev_cased = k == "cased"
        return "".join(out)


def check_model(model, mapping, cased, ignorable, trials=300_000, seed=1):
    for cp in range(MAX_CP):
        assert model.lower_cp(cp) == mapping.get(cp, chr(cp)), hex(cp)
    rng = random.Random(seed)
    pools = [list(mapping), [c for r in cased for c in range(r[0], r[1] + 1)],
             [c for r in ignorable for c in range(r[0], r[1] + 1)], [0x3A3] * 8 + [0x20, 0x31, 0xD800]]
    for _ in range(trials):
        n = rng.randint(1, 8)
        s = "".join(chr(rng.choice(rng.choice(pools)) if rng.random() < 0.8 else rng.randrange(MAX_CP))
                    for _ in range(n))
        assert model.lower(s) == s.lower(), ascii(s)


def emit(runs, pool, cased, ignorable):
    def cp(x):
        return f"0x{x:04X}"

    lines = [
        f"// Generated by scripts/gen_unicode_case.py from Python's str.lower(), Unicode "
        f"{unicodedata.unidata_version}. Do not edit.",
        "// Included by unicode_case.cpp, which defines LowerRange and CodeRange.",
        "",
        f"// {len(runs)} runs covering the code points c with c.lower() != c.",
        "inline constexpr LowerRange kLowerRanges[] = {",
    ]
    lines += [f"    {{{cp(a)}, {cp(b)}, {d}, {s}, {n}}}," for a, b, d, s, n in runs]
    lines += ["};", "", "// UTF-8 of the multi-code-point results.",
              "inline constexpr char kLowerPool[] = " + " ".join(f'"\\x{b:02X}"' for b in pool) + ";", ""]
    for name, ranges, what in (("kCasedRanges", cased, "cased, not case-ignorable"),
                               ("kIgnorableRanges", ignorable, "case-ignorable")):
        lines += [f"// {len(ranges)} ranges: {what}.", f"inline constexpr CodeRange {name}[] = {{"]
        row = []
        for a, b in ranges:
            row.append(f"{{{cp(a)}, {cp(b)}}},")
            if len(row) == 6:
                lines.append("    " + " ".join(row))
                row = []
        if row:
            lines.append("    " + " ".join(row))
        lines += ["};", ""]
    return "\n".join(lines)


def main():
    mapping = derive_mapping()
    cased_cps, ignorable_cps = derive_properties()
    runs, pool = mapping_ranges(mapping)
    cased, ignorable = to_ranges(cased_cps), to_ranges(ignorable_cps)
    check_model(Model(runs, pool, cased, ignorable), mapping, cased, ignorable)
    print(f"Unicode {unicodedata.unidata_version}: {len(mapping)} mapped code points in {len(runs)} runs, "
          f"pool {len(pool)} bytes, {len(cased)} cased ranges, {len(ignorable)} ignorable ranges")
    if "--check" not in sys.argv[1:]:
        OUT.write_text(emit(runs, pool, cased, ignorable))
        print(f"wrote {OUT}")


if __name__ == "__main__":
    main()
