"""The main job: a short run of the effect-chain validator."""

from __future__ import annotations

from corvala import ext

EXAMPLES = ["gain -3", "norm -1", "Gain -n -.5", "gain -nr 1", "nope 1", ""]


def main() -> None:
    for ok, message, text in ext.audio.validate_effects_chain(EXAMPLES):
        print((ok, message, text))


if __name__ == "__main__":
    main()
