"""Argument binding, conversions with their notes, and result arrays."""

import numpy as np
import pytest

from corvala import ext

audio = ext.audio
F32 = np.arange(8, dtype=np.float32)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: audio.apply_effects(buffer=F32), "apply_effects() missing 1 required positional argument: 'chain'"),
        (lambda: audio.apply_effects(), "apply_effects() missing 2 required positional arguments: 'buffer' and 'chain'"),
        (lambda: audio.apply_effects(F32, [], 1), "apply_effects() takes 2 positional arguments but 3 were given"),
        (lambda: audio.validate_effects_chain([], []), "validate_effects_chain() takes 1 positional argument but 2 were given"),
        (lambda: audio.apply_effects(F32, chain=[], mode=1), "apply_effects() got an unexpected keyword argument 'mode'"),
        (lambda: audio.apply_effects(F32, [], buffer=F32), "apply_effects() got multiple values for argument 'buffer'"),
    ],
)
def test_binding_errors_use_cpythons_wording(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_keyword_calls():
    out = audio.apply_effects(chain=[], buffer=F32)
    np.testing.assert_array_equal(out, F32)
    assert audio.validate_effects_chain(chain=("norm",)) == [(True, "OK", "gain -n 0.000000")]


@pytest.mark.parametrize(
    "buffer, chain, parameter, message",
    [
        (np.zeros(4), [], "buffer", "'ndarray[float64, ndim=1]' object is not an instance of 'ndarray[float32, ndim=1]'"),
        (np.zeros((2, 2), np.float32), [], "buffer", "'ndarray[float32, ndim=2]' object is not an instance of 'ndarray[float32, ndim=1]'"),
        (np.zeros(4, ">f4"), [], "buffer", None),
        ([0.0, 1.0], [], "buffer", "'list' object is not an instance of 'ndarray[float32, ndim=1]'"),
        (F32, "gain -3", "chain", "'str' object cannot be taken as a sequence of strings"),
        (F32, ["gain", 3], "chain", "'int' object is not an instance of 'str'"),
        (F32, 7, "chain", "'int' object is not an instance of 'Sequence'"),
    ],
)
def test_conversion_errors_carry_the_parameter_note(buffer, chain, parameter, message):
    with pytest.raises(TypeError) as info:
        audio.apply_effects(buffer, chain)
    if message is not None:
        assert str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{parameter}'"]


def test_conversion_runs_left_to_right():
    with pytest.raises(TypeError) as info:
        audio.apply_effects([1.0], "gain")
    assert info.value.__notes__ == ["while processing 'buffer'"]


def test_int32_path_checks_its_dtype():
    with pytest.raises(TypeError) as info:
        audio.apply_effects_i32(F32, [])
    assert str(info.value) == "'ndarray[float32, ndim=1]' object is not an instance of 'ndarray[int32, ndim=1]'"


def test_an_exception_from_the_sequence_itself_propagates():
    class Exploding:
        def __len__(self):
            return 1

        def __getitem__(self, i):
            raise KeyError("boom")

    with pytest.raises(KeyError) as info:
        audio.validate_effects_chain(Exploding())
    assert info.value.__notes__ == ["while processing 'chain'"]


@pytest.mark.parametrize(
    "make",
    [
        lambda base: base[::2],
        lambda base: base[::-1],
        lambda base: base[7:0:-3],
        lambda base: base.reshape(4, 10)[:, 1],
        lambda base: np.frombuffer(b"\0" + base.tobytes(), dtype=np.float32, offset=1, count=39),  # unaligned
    ],
)
def test_strided_and_unaligned_inputs_read_in_logical_order(make):
    base = np.linspace(-1, 1, 40, dtype=np.float32)
    view = make(base)
    for apply, data in ((audio.apply_effects, view), (audio.apply_effects_i32, (view * 1000).astype(np.int32))):
        out = apply(data, [])
        np.testing.assert_array_equal(out, np.ascontiguousarray(data))


def test_result_owns_its_buffer_and_is_independent():
    source = np.arange(5, dtype=np.int32)
    source.flags.writeable = False
    out = audio.apply_effects_i32(source, [])
    assert out.dtype == np.int32 and out.ndim == 1
    assert out.flags.c_contiguous and out.flags.writeable and not out.flags.owndata
    assert out.base is not None and not np.shares_memory(out, source)
    out[0] = 99
    assert source[0] == 0
    del source
    assert out.tolist() == [99, 1, 2, 3, 4]


def test_empty_input_gives_an_empty_array():
    out = audio.apply_effects(np.zeros(0, np.float32), [])
    assert out.shape == (0,) and out.dtype == np.float32 and out.flags.writeable
