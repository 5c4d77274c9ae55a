"""The biquad filter family against a reference written from its design tables and loops (bit for
bit, in both paths), against scipy.signal.lfilter with the same coefficients, and against
scipy.signal.freqz showing that each design does what its name says."""

import math

import numpy as np
import pytest
from scipy.signal import freqz, lfilter

from corvala import ext
from sample_reference import I32_MAX, I32_MIN, rs

apply_f32 = ext.audio.apply_effects
apply_i32 = ext.audio.apply_effects_i32
RATE = 16000


# ---- reference design, one expression per table entry, in the written order -----------------

def angle(f):
    w = 2 * math.pi * f / RATE
    return w, math.sin(w), math.cos(w)


def alpha_of(f, width, unit):
    w, s, _ = angle(f)
    if unit == "h":
        return s / (2 * f / width)
    if unit == "k":
        return s / (2 * f / (1000 * width))
    if unit == "o":
        return s * math.sinh(0.34657359027997264 * width * w / s)
    return s / (2 * width)  # q, and s outside the shelves


def equalizer(f, width, unit, gain_db):
    A, alpha, c = 10 ** (gain_db / 40), alpha_of(f, width, unit), angle(f)[2]
    return ("df1", 1 + alpha * A, -2 * c, 1 - alpha * A, 1 + alpha / A, -2 * c, 1 - alpha / A)


def two_pole(f, high, width=0.7071067811865476, unit="q"):
    alpha, c = alpha_of(f, width, unit), angle(f)[2]
    if high:
        return ("df1", (1 + c) / 2, -(1 + c), (1 + c) / 2, 1 + alpha, -2 * c, 1 - alpha)
    return ("df1", (1 - c) / 2, 1 - c, (1 - c) / 2, 1 + alpha, -2 * c, 1 - alpha)


def one_pole(f, high):
    a = math.exp(-angle(f)[0])
    return ("hp1", a, (1 + a) / 2) if high else ("lp1", a, 1 - a)


def bandpass(f, width, unit, skirt):
    _, s, c = angle(f)
    alpha = alpha_of(f, width, unit)
    if skirt:
        return ("df1", s / 2, 0.0, -s / 2, 1 + alpha, -2 * c, 1 - alpha)
    return ("df1", alpha, 0.0, -alpha, 1 + alpha, -2 * c, 1 - alpha)


def bandreject(f, width, unit):
    alpha, c = alpha_of(f, width, unit), angle(f)[2]
    return ("df1", 1.0, -2 * c, 1.0, 1 + alpha, -2 * c, 1 - alpha)


def allpass(f, width, unit):
    alpha, c = alpha_of(f, width, unit), angle(f)[2]
    return ("df1", 1 - alpha, -2 * c, 1 + alpha, 1 + alpha, -2 * c, 1 - alpha)


def shelf(gain_db, f, width, unit, treble):
    _, s, c = angle(f)
    A = 10 ** (gain_db / 40)
    alpha = s / 2 * math.sqrt((A + 1 / A) * (1 / width - 1) + 2) if unit == "s" else alpha_of(f, width, unit)
    k = 2 * math.sqrt(A) * alpha
    if treble:
        return ("df1", A * ((A + 1) + (A - 1) * c + k), -2 * A * ((A - 1) + (A + 1) * c),
                A * ((A + 1) + (A - 1) * c - k), (A + 1) - (A - 1) * c + k,
                2 * ((A - 1) - (A + 1) * c), (A + 1) - (A - 1) * c - k)
    return ("df1", A * ((A + 1) - (A - 1) * c + k), 2 * A * ((A - 1) - (A + 1) * c),
            A * ((A + 1) - (A - 1) * c - k), (A + 1) + (A - 1) * c + k,
            -2 * ((A - 1) + (A + 1) * c), (A + 1) + (A - 1) * c - k)


def band(f, width, unit, noise):
    bw = {"q": lambda: f / width, "o": lambda: 2 * f * math.sinh(0.34657359027997264 * width),
          "k": lambda: 1000 * width}.get(unit, lambda: width)()
    b2 = math.exp(-2 * math.pi * bw / RATE)
    b1 = -4 * b2 / (1 + b2) * angle(f)[2]
    if noise:
        g0 = math.sqrt((1 - b2) * ((1 + b2) * (1 + b2) - b1 * b1) / (1 + b2))
    else:
        g0 = (1 - b2) * math.sqrt(1 - b1 * b1 / (4 * b2))
    return ("res", g0, b1, b2)


# ---- reference loops -------------------------------------------------------------------------

def clamp(y):
    return 0.0 if y != y else -1.0 if y < -1 else 1.0 if y > 1 else y


def filter_ref(design, xs, int_path, predivided=None):
    """Unclamped, unrounded recursion; the float path divides every numerator sum by a0, the int
    path runs on coefficients divided by a0 once (`predivided` swaps the orders)."""
    kind, *c = design
    predivided = int_path if predivided is None else predivided
    x1 = x2 = y1 = y2 = 0.0
    out = []
    if kind == "df1" and predivided:
        b0, b1, b2, a0, a1, a2 = c
        b0, b1, b2, a1, a2 = b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0
    for x in map(float, xs):
        if kind == "df1" and predivided:
            y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2
        elif kind == "df1":
            y = (c[0] * x + c[1] * x1 + c[2] * x2 - c[4] * y1 - c[5] * y2) / c[3]
        elif kind == "lp1":
            y = c[0] * y1 + c[1] * x
        elif kind == "hp1":
            y = c[0] * y1 + c[1] * (x - x1)
        else:
            y = c[0] * x - c[1] * y1 - c[2] * y2
        x2, x1, y2, y1 = x1, x, y1, y
        out.append(rs(y) if int_path else clamp(y))
    return np.array(out, np.int32 if int_path else np.float32)


def lfilter_coefficients(design):
    kind, *c = design
    if kind == "df1":
        return c[:3], c[3:]
    if kind == "lp1":
        return [c[1]], [1.0, -c[0]]
    if kind == "hp1":
        return [c[1], -c[1]], [1.0, -c[0]]
    return [c[0]], [1.0, c[1], c[2]]


def assert_bits(actual, expected):
    assert actual.dtype == expected.dtype and actual.shape == expected.shape
    view = np.uint32 if actual.dtype == np.float32 else np.int32
    np.testing.assert_array_equal(actual.view(view), expected.view(view))


CASES = [
    ("equalizer 1k 2q -6", equalizer(1000, 2, "q", -6)),
    ("equalizer 1k 300h 9", equalizer(1000, 300, "h", 9)),
    ("equalizer 2.5k 0.4k -12", equalizer(2500, 0.4, "k", -12)),
    ("equalizer 500 1.5o 12", equalizer(500, 1.5, "o", 12)),
    ("equalizer 1k 0.7s 3", equalizer(1000, 0.7, "s", 3)),
    ("highpass 100", two_pole(100, True)),
    ("highpass 1k 2q", two_pole(1000, True, 2, "q")),
    ("lowpass 3k", two_pole(3000, False)),
    ("lowpass 2k 1o", two_pole(2000, False, 1, "o")),
    ("highpass -1 100", one_pole(100, True)),
    ("lowpass -1 1k", one_pole(1000, False)),
    ("bandpass 1k 200", bandpass(1000, 200, "h", False)),
    ("bandpass -c 1k 2q", bandpass(1000, 2, "q", True)),
    ("bandreject 1k 200", bandreject(1000, 200, "h")),
    ("bandreject 3k 0.5o", bandreject(3000, 0.5, "o")),
    ("allpass 1k 2q", allpass(1000, 2, "q")),
    ("allpass 700 150h", allpass(700, 150, "h")),
    ("bass 6", shelf(6, 100, 0.5, "s", False)),
    ("bass -10 300 1", shelf(-10, 300, 1, "s", False)),
    ("bass 3 200 0.8q", shelf(3, 200, 0.8, "q", False)),
    ("treble -6", shelf(-6, 3000, 0.5, "s", True)),
    ("treble 12 5k 1.5o", shelf(12, 5000, 1.5, "o", True)),
    ("band 1k 200", band(1000, 200, "h", False)),
    ("band -n 1k 200", band(1000, 200, "h", True)),
    ("band 2k", band(2000, 1000, "h", False)),  # default width: half the centre, in Hz
    ("band 1k 3q", band(1000, 3, "q", False)),
    ("band -n 1k 0.5o", band(1000, 0.5, "o", True)),
    ("band 1k 0.1k", band(1000, 0.1, "k", False)),
    ("band 1k 150s", band(1000, 150, "s", False)),
]
IDS = [effect for effect, _ in CASES]

RNG = np.random.default_rng(5)
# An impulse, then noise with samples beyond full scale, so that the float path clamps outputs
# whose recursion goes on unclamped.
FLOATS = np.concatenate([[1.0], np.zeros(40), RNG.uniform(-0.9, 0.9, 400), [1.5, -3.0, 2.0, -0.0, 0.0],
                         RNG.uniform(-1.2, 1.2, 150)]).astype(np.float32)
INTS = np.concatenate([[1 << 30], np.zeros(40), RNG.integers(I32_MIN, I32_MAX, 400, endpoint=True),
                       [I32_MAX, I32_MIN, I32_MAX, 0, -1], RNG.integers(-2**28, 2**28, 150)]).astype(np.int32)


@pytest.mark.parametrize("effect, design", CASES, ids=IDS)
def test_both_paths_match_the_reference_bit_for_bit(effect, design):
    assert_bits(apply_f32(FLOATS, [effect]), filter_ref(design, FLOATS, int_path=False))
    assert_bits(apply_i32(INTS, [effect]), filter_ref(design, INTS, int_path=True))


def test_float_path_keeps_its_division_per_sample():
    # A sine at the notch's own frequency leaves outputs of about 1e-8 made of large terms that
    # cancel, so the double rounding of every operation of the loop shows in the float32 bits.
    x = np.sin(2 * np.pi * 1000 * np.arange(4000) / RATE).astype(np.float32)
    design = bandreject(1000, 200, "h")
    out = apply_f32(x, ["bandreject 1k 200"])
    assert_bits(out, filter_ref(design, x, int_path=False))
    other_order = filter_ref(design, x, int_path=False, predivided=True)
    assert np.count_nonzero(out != other_order) > 100


def test_float_path_divides_by_a0_rather_than_multiplying_by_its_reciprocal():
    # The one sample mantissa, among all float32 mantissas through equalizers of -6 to 6 dB in
    # 0.1 dB steps, whose first output rounds to another float32 in either other order (found by
    # search; the final division's rounding is invisible in float32 elsewhere).
    design = equalizer(1000, 2, "q", -0.1)
    x = np.array([0.8981555104255676], np.float32)
    b0, a0, v = design[1], design[4], float(x[0])
    assert np.float32(b0 * v / a0) != np.float32(b0 * v * (1 / a0))
    assert np.float32(b0 * v / a0) != np.float32(b0 / a0 * v)
    assert_bits(apply_f32(x, ["equalizer 1k 2q -0.1"]), filter_ref(design, x, int_path=False))


# Samples whose first output through `equalizer 1k 2q 6` rounds to another integer when the sum is
# divided by a0 instead of taken with coefficients divided once (found by search; integer outputs
# hide the order everywhere else).
ROUNDING_WITNESSES = [1085081096, 1105050361, 1114168029, 1115901958, 1144988891, 1164958156]


@pytest.mark.parametrize("sample", ROUNDING_WITNESSES)
def test_int_path_keeps_its_coefficients_divided_once(sample):
    design = equalizer(1000, 2, "q", 6)
    x = np.array([sample], np.int32)
    expected = filter_ref(design, x, int_path=True)
    assert expected[0] != filter_ref(design, x, int_path=True, predivided=False)[0]
    assert_bits(apply_i32(x, ["equalizer 1k 2q 6"]), expected)


@pytest.mark.parametrize("effect, design", CASES, ids=IDS)
def test_lfilter_with_the_same_coefficients_agrees(effect, design):
    b, a = lfilter_coefficients(design)
    rng = np.random.default_rng(9)
    x = rng.uniform(-0.05, 0.05, 3000).astype(np.float32)  # small enough never to clamp
    np.testing.assert_allclose(apply_f32(x, [effect]), lfilter(b, a, x.astype(np.float64)), rtol=0, atol=3e-7)
    n = rng.integers(-2**26, 2**26, 3000).astype(np.int32)
    np.testing.assert_allclose(apply_i32(n, [effect]), lfilter(b, a, n.astype(np.float64)), rtol=0, atol=1.0)


# ---- responses, from the filters' own impulse responses --------------------------------------

def impulse_response(effect, length=32000):
    # The int path with an impulse of 2^27: 24 dB of headroom and about 9 significant digits.
    x = np.zeros(length, np.int32)
    x[0] = 1 << 27
    return apply_i32(x, [effect]).astype(np.float64) / 2**27


def gain_db(h, freqs):
    return 20 * np.log10(np.abs(freqz(h, 1, worN=np.asarray(freqs, float), fs=RATE)[1]))


NULL = None  # a zero of the response: far below -90 dB

RESPONSES = [
    # effect, [(Hz, expected dB)]
    ("equalizer 1k 2q -6", [(1000, -6), (0, 0), (8000, 0)]),
    ("equalizer 3k 1o 12", [(3000, 12), (0, 0), (8000, 0)]),
    ("highpass 1k", [(1000, -3.0103), (0, NULL), (8000, 0)]),
    ("lowpass 1k", [(1000, -3.0103), (0, 0), (8000, NULL)]),
    ("lowpass 2k 2q", [(2000, 20 * math.log10(2))]),  # the gain at the corner is Q
    ("highpass -1 1k", [(0, NULL), (8000, 0)]),
    ("lowpass -1 1k", [(0, 0), (8000, 20 * math.log10(math.tanh(math.pi * 1000 / RATE)))]),  # (1-a)/(1+a)
    ("bandpass 1k 200", [(1000, 0), (0, NULL), (8000, NULL)]),
    ("bandpass -c 1k 200", [(1000, 20 * math.log10(5))]),  # constant skirt: the peak is Q = 1000/200
    ("bandreject 1k 200", [(1000, NULL), (0, 0), (8000, 0)]),
    ("allpass 1k 2q", [(0, 0), (300, 0), (1000, 0), (5000, 0), (8000, 0)]),
    ("bass 6", [(0, 6), (100, 3), (8000, 0)]),  # a shelf passes half its gain at its frequency
    ("treble -6", [(0, 0), (3000, -3), (8000, -6)]),
    ("bass -10 300 1q", [(0, -10), (8000, 0)]),
]


@pytest.mark.parametrize("effect, points", RESPONSES, ids=[e for e, _ in RESPONSES])
def test_each_design_does_what_its_name_says(effect, points):
    h = impulse_response(effect)
    got = gain_db(h, [f for f, _ in points])
    for (f, want), g in zip(points, got):
        if want is NULL:
            assert g < -90, (f, g)
        else:
            assert g == pytest.approx(want, abs=1e-3), f


def test_allpass_turns_the_phase_by_half_a_turn_at_its_frequency():
    _, H = freqz(impulse_response("allpass 1k 2q"), 1, worN=[1000.0], fs=RATE)
    assert H[0] == pytest.approx(-1, abs=1e-6)


def test_one_pole_lowpass_falls_off_monotonically():
    g = gain_db(impulse_response("lowpass -1 1k"), np.linspace(0, 8000, 200))
    assert np.all(np.diff(g) < 0)


def test_band_resonator_has_unit_peak_and_with_noise_flag_unit_power():
    grid = np.linspace(500, 1500, 20001)
    assert gain_db(impulse_response("band 1k 200"), grid).max() == pytest.approx(0, abs=1e-3)
    h = impulse_response("band -n 1k 200")
    assert np.sum(h * h) == pytest.approx(1, abs=1e-6)
    # Same poles, another input gain: the two impulse responses are proportional.
    plain = impulse_response("band 1k 200", 400)
    np.testing.assert_allclose(h[:400], plain * (h[0] / plain[0]), rtol=0, atol=5e-8)


# ---- edge cases ------------------------------------------------------------------------------

def test_float_path_clamps_the_output_while_the_recursion_runs_unclamped():
    # A gain of 0 dB is the identity up to double rounding, which float32 cannot see; had the
    # recursion run on clamped values, every sample after one beyond full scale would be off.
    x = np.concatenate([[1.5, 0, 0, 0], np.random.default_rng(2).uniform(-2, 2, 500)]).astype(np.float32)
    out = apply_f32(x, ["equalizer 1k 2q 0"])
    assert_bits(out, np.clip(x, -1, 1))
    assert out[0] == 1.0 and np.all(out[1:4] == 0)


@pytest.mark.parametrize("effect, first", [
    ("lowpass -1 1000", 1 - math.exp(-2 * math.pi * 1000 / RATE)),
    ("highpass -1 1000", (1 + math.exp(-2 * math.pi * 1000 / RATE)) / 2),
])
def test_one_pole_first_output_of_an_impulse(effect, first):
    x = np.zeros(8, np.float32)
    x[0] = 1
    assert apply_f32(x, [effect])[0] == np.float32(first)


@pytest.mark.parametrize("same, other", [
    (["highpass 100", "highpass 100 0.7071067811865476q"], "highpass 100 0.7q"),
    (["lowpass 3k", "lowpass 3k 0.7071067811865476"], "lowpass 3k 0.7071q"),
    (["bass 6 100 0.5", "bass 6 100 0.5s"], "bass 6 100 0.5q"),
    (["treble -4 3k 0.8", "treble -4 3k 0.8s"], "treble -4 3k 0.8q"),
])
def test_defaults_q_of_the_passes_and_slope_unit_of_the_shelves(same, other):
    for apply, x in ((apply_f32, FLOATS), (apply_i32, INTS)):
        first = apply(x, [same[0]])
        for effect in same[1:]:
            assert_bits(apply(x, [effect]), first)
        assert not np.array_equal(apply(x, [other]), first)


def test_int_path_saturates_at_full_scale_instead_of_wrapping():
    top, bottom = np.full(3000, I32_MAX, np.int32), np.full(3000, I32_MIN, np.int32)
    assert np.all(apply_i32(top, ["bass 12"])[1000:] == I32_MAX)
    assert np.all(apply_i32(bottom, ["bass 12"])[1000:] == I32_MIN)
    nyquist = np.where(np.arange(3000) % 2 == 0, I32_MAX, I32_MIN).astype(np.int32)
    out = apply_i32(nyquist, ["treble 12"])[1000:]
    assert np.all(out[::2] == I32_MAX) and np.all(out[1::2] == I32_MIN)


@pytest.mark.parametrize("effect", IDS)
def test_empty_buffers_stay_empty(effect):
    assert apply_f32(np.zeros(0, np.float32), [effect]).dtype == np.float32
    assert apply_f32(np.zeros(0, np.float32), [effect]).size == 0
    assert apply_i32(np.zeros(0, np.int32), [effect]).size == 0


def test_every_occurrence_and_every_call_starts_from_zero_state():
    effect = "equalizer 1k 2q 6"
    once = apply_f32(FLOATS, [effect])
    assert_bits(apply_f32(FLOATS, [effect]), once)
    assert_bits(apply_f32(FLOATS, [effect, effect]), apply_f32(once, [effect]))


@pytest.mark.parametrize("effect", [
    "bass 40 100 2s",     # a slope too steep for the gain: the slope rule's root is imaginary
    "treble 30 3k 3",
    "band 1k 0q",         # an infinite bandwidth: the resonator's gain is 0/0
])
def test_a_design_without_real_coefficients_gives_silence_not_nan(effect):
    assert_bits(apply_f32(FLOATS, [effect]), np.zeros_like(FLOATS))
    assert_bits(apply_i32(INTS, [effect]), np.zeros_like(INTS))


def test_an_unstable_resonator_never_puts_nan_into_the_float_output():
    # A negative bandwidth puts the poles outside the unit circle: the recursion overflows to inf
    # and then NaN, which the float path stores as 0 as the int path does.
    x = np.full(60000, 0.5, np.float32)
    out = apply_f32(x, ["band 1000 -100"])
    assert np.all(np.abs(out) <= 1) and np.all(out[-100:] == 0)
    assert np.all(apply_i32(np.full(60000, 1 << 30, np.int32), ["band 1000 -100"])[-100:] == 0)
