"""The chain runner's entry points and the effect-language reports they return."""

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from corvala import ext

audio = ext.audio
HINT = (
    "supported effects: gain, norm, equalizer, highpass, lowpass, bandpass, bandreject, allpass, bass, "
    "treble, pitch, tempo, rate, vol, dcshift, contrast, overdrive, compand, mcompand, echo, echos, "
    "flanger, phaser, chorus, reverb, fade, reverse, sinc, hilbert, loudness, tremolo, speed, stretch"
)


def test_validate_reports_every_string_in_order():
    chain = ["gain -3", "nope", "", "GAIN -3", 'gain "" "-3"', "gain \\-3"]
    assert audio.validate_effects_chain(chain) == [
        (True, "OK", "gain -3.000000"),
        (False, f"[UNSUPPORTED] effect='nope' detail='Unknown effect: nope' hint='{HINT}' original='nope'", "nope"),
        (False, "[INPUT_ERROR] Empty effect string", ""),
        (True, "OK", "gain -3.000000"),
        (True, "OK", "gain -3.000000"),
        (True, "OK", "gain -3.000000"),
    ]
    assert audio.validate_effects_chain([]) == []


def test_unknown_name_is_lower_cased_by_full_unicode_rules():
    [(ok, report, original)] = audio.validate_effects_chain(["GAINX \u0130\u03a3 1"])
    assert not ok and original == "GAINX \u0130\u03a3 1"
    assert report.startswith("[UNSUPPORTED] effect='gainx' detail='Unknown effect: gainx' ")
    [(_, report, _)] = audio.validate_effects_chain(["\u0130\u039f\u03a3"])
    assert "effect='i\u0307\u03bf\u03c2'" in report  # a final sigma


def test_original_keeps_any_str_exactly():
    odd = "gain\udc80 \x00 -3 \U0001f600"
    [(ok, report, original)] = audio.validate_effects_chain([odd])
    assert not ok and original == odd and report.endswith(f"original='{odd}'")


def test_nan_and_inf_are_found_in_logical_order_before_parsing():
    buffer = np.zeros(8, np.float32)
    buffer[5] = np.nan
    buffer[2] = np.inf
    with pytest.raises(ValueError, match=r"^Inf detected at index 2$"):
        audio.apply_effects(buffer, ["not an effect"])
    with pytest.raises(ValueError, match=r"^NaN detected at index 2$"):
        audio.apply_effects(buffer[::-1].copy(), [])
    with pytest.raises(ValueError, match=r"^Inf detected at index 1$"):
        audio.apply_effects(buffer[::2], [])


def test_parse_errors_are_value_errors_with_the_report():
    report = "[UNIT_ERROR] effect='gain' token='x' reason='Invalid dB value: x' original='gain x'"
    with pytest.raises(ValueError) as info:
        audio.apply_effects(np.zeros(4, np.float32), ["norm", "gain x"])
    assert str(info.value) == report
    # The int path has no scan and parses before it reads the buffer.
    with pytest.raises(ValueError) as info:
        audio.apply_effects_i32(np.zeros(4, np.int32), ["gain x"])
    assert str(info.value) == report


def test_empty_chain_returns_a_new_equal_array():
    buffer = np.array([0.5, -1.0, 2.0], np.float32)
    out = audio.apply_effects(buffer, [])
    assert out is not buffer and not np.shares_memory(out, buffer)
    np.testing.assert_array_equal(out, buffer)
    ints = np.array([np.iinfo(np.int32).min, 0, np.iinfo(np.int32).max], np.int32)
    np.testing.assert_array_equal(audio.apply_effects_i32(ints, ()), ints)


_token = st.one_of(
    st.sampled_from(["gain", "norm", "GAIN", "-n", "-l", "-h", "-r", "-nr", "-hl", "-.5", "inf", "-nan", "1e999"]),
    st.text(max_size=6),
    st.sampled_from(['"', "\\", '""', "\\ ", "'", "\u3000", "\u03a3"]),
    st.floats(allow_nan=True, allow_infinity=True).map(repr),
    st.integers(min_value=-(10**40), max_value=10**40).map(str),
)


@settings(max_examples=300, deadline=None)
@given(st.lists(st.lists(_token, max_size=6).map(" ".join), max_size=5))
def test_validate_never_raises_for_any_strings(chain):
    result = audio.validate_effects_chain(chain)
    assert len(result) == len(chain)
    for (ok, message, text), original in zip(result, chain):
        assert isinstance(ok, bool) and isinstance(message, str) and isinstance(text, str)
        if not ok:
            assert text == original
