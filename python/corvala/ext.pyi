"""Main native-extension module of Corvala."""

from collections.abc import Sequence
from typing import Final, Protocol

import numpy as np
import numpy.typing as npt

__all__ = ["__version__", "audio"]

__version__: Final[str]

class NativeFault(BaseException):
    """Raised when native code called from Python faults; derives from BaseException."""

# Submodules are plain module objects reached as attributes (not importable by dotted name);
# their functions are described by these protocols.

class _AudioModule(Protocol):
    __all__: list[str]
    def validate_effects_chain(self, chain: Sequence[str]) -> list[tuple[bool, str, str]]: ...
    def apply_effects(self, buffer: npt.NDArray[np.float32], chain: Sequence[str]) -> npt.NDArray[np.float32]: ...
    def apply_effects_i32(self, buffer: npt.NDArray[np.int32], chain: Sequence[str]) -> npt.NDArray[np.int32]: ...

audio: _AudioModule
