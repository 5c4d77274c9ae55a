"""The main job: try effect chains from the command line on a generated tone."""

from __future__ import annotations

import os
import tempfile
from pathlib import Path

import numpy as np

from corvala import effects


def main() -> None:
    chain = ["gain -n -3", "tremolo 4 50", "fade q 0.2 =0.8 0.3"]
    print("$ python -m corvala.effects check", " ".join(repr(c) for c in chain + ["nope 1"]))
    effects.main(["check", *chain, "nope 1"])
    with tempfile.TemporaryDirectory() as tmp:
        os.chdir(tmp)
        source, target = Path("tone.wav"), Path("out.wav")
        t = np.arange(16000) / 16000.0
        effects.write_wav(source, 16000, (0.5 * np.sin(2 * np.pi * 440 * t)).astype(np.float32))
        print(f"$ python -m corvala.effects apply tone.wav out.wav {' '.join(repr(c) for c in chain)}")
        effects.main(["apply", str(source), str(target), *chain])
        out = effects.read_wav(target).samples
        print(f"peak {np.max(np.abs(out)):.4f}, first samples {', '.join(f'{v:.6f}' for v in out[:4])}")


if __name__ == "__main__":
    main()
