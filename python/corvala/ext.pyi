"""Main native-extension module of Corvala."""

from collections.abc import Sequence
from typing import Any, Callable, Final, Protocol, final

import numpy as np
import numpy.typing as npt

__all__ = ["__version__", "asl_p56_internal", "asl_p56", "audio", "data_io", "KernelSession"]

__version__: Final[str]

class NativeFault(BaseException):
    """Raised when native code called from Python faults; derives from BaseException."""

def asl_p56(audio: npt.NDArray[np.float32]) -> float: ...

# Submodules are plain module objects reached as attributes (not importable by dotted name);
# their functions are described by these protocols.

class _AslP56InternalModule(Protocol):
    __all__: list[str]
    def compute_envelope(
        self, audio: npt.NDArray[np.float32], sample_rate: int
    ) -> tuple[npt.NDArray[np.float32], float, float, int, npt.NDArray[np.float32]]: ...
    def count_activity(
        self, q: npt.NDArray[np.float32], c: npt.NDArray[np.float32], h_samples: int, length: int
    ) -> npt.NDArray[np.int32]: ...
    def bin_interp(self, u_cnt: float, l_cnt: float, u_thr: float, l_thr: float, margin: float, tol: float) -> float: ...
    def compute_asl_from_thresholds(
        self, a: npt.NDArray[np.int32], c: npt.NDArray[np.float32], sq: float, eps: float, margin: float
    ) -> float: ...

asl_p56_internal: _AslP56InternalModule

class _AudioModule(Protocol):
    __all__: list[str]
    def validate_effects_chain(self, chain: Sequence[str]) -> list[tuple[bool, str, str]]: ...
    def apply_effects(self, buffer: npt.NDArray[np.float32], chain: Sequence[str]) -> npt.NDArray[np.float32]: ...
    def apply_effects_i32(self, buffer: npt.NDArray[np.int32], chain: Sequence[str]) -> npt.NDArray[np.int32]: ...

audio: _AudioModule

class _DataIoModule(Protocol):
    __all__: list[str]
    KERNEL_EPOCH: int
    def read_cached_data(
        self, location: str, name: str, index: str, items: Sequence[str], kernel_epoch: int
    ) -> dict[str, Any]: ...
    def write_cached_data(
        self, location: str, name: str, index: str, items: dict[str, Any], kernel_epoch: int
    ) -> None: ...

data_io: _DataIoModule

@final
class KernelSession:
    """A per-mixture realization compute session, frozen at construction."""

    def __new__(
        cls,
        snapshot: Any,
        declared_by_mixid: Sequence[Sequence[str]],
        truth_callback: Any,
        gain_callback: Callable[[int, dict[str, npt.NDArray[np.float32]]], dict[str, float]],
        ft_config: Any,
        feature_mode: str,
        truth_parameters: dict[str, dict[str, int | None]],
        location: str,
        kernel_epoch: int,
        cache_bytes: int,
    ) -> KernelSession: ...
    @property
    def num_mixtures(self) -> int: ...
    @property
    def kernel_epoch(self) -> int: ...
    @property
    def feature_mode(self) -> str: ...
    @property
    def cache_capacity_bytes(self) -> int: ...
    def completed(self) -> int: ...
    def ft_config(self) -> dict[str, int | str]: ...
    def truth_parameters(self) -> dict[str, dict[str, int | None]]: ...
    def source_path(self, file_id: int) -> str: ...
    def declared_inputs(self, m_id: int) -> list[str]: ...
    def mixture_plan(self, m_id: int) -> dict[str, Any]: ...
    def realize(self, m_id: int, want: Sequence[str], force: bool = False, cache: bool = False) -> dict[str, Any]: ...
