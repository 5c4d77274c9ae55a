"""Level and simple effects against references written from their formulas, in both paths."""

import math

import numpy as np
import pytest

from corvala import ext
from sample_reference import I32_MAX, I32_MIN, f2i, i2f, rs

apply_f32 = ext.audio.apply_effects
apply_i32 = ext.audio.apply_effects_i32
RATE = 16000


# ---- shared conversions, as the chain runner defines them -----------------------------------

def through_i32(fn):
    """A float-path reference that runs an integer reference on the int32 values."""
    return lambda xs: np.array([i2f(n) for n in fn([f2i(x) for x in xs])], np.float32)


def float_path(fn):
    return lambda xs: np.array(fn([float(x) for x in xs]), np.float32)


def assert_bits(actual, expected):
    expected = np.asarray(expected, actual.dtype)
    assert actual.shape == expected.shape
    np.testing.assert_array_equal(actual.view(np.uint32 if actual.dtype == np.float32 else np.int32),
                                  expected.view(np.uint32 if expected.dtype == np.float32 else np.int32))


RNG = np.random.default_rng(7)
FLOATS = np.concatenate([[0.0, 1.0, -1.0, 0.5, -0.5, 1e-9, -3e-10, 0.999999],
                         RNG.uniform(-1, 1, 40)]).astype(np.float32)
INTS = np.concatenate([[0, 1, -1, I32_MAX, I32_MIN, 1 << 30, -(1 << 30), 12345],
                       RNG.integers(I32_MIN, I32_MAX, 40, endpoint=True)]).astype(np.int32)


# ---- references ------------------------------------------------------------------------------

def gain_ref(ns, gain_db, peak, normalize=False, reclaim=False, limiter=False, headroom=1.0):
    g = 10.0 ** (gain_db / 20.0)
    s = g
    if normalize:
        s = g / peak if peak > 0 else 0.0
    if reclaim:
        s = g * min(1.0 / headroom, 1.0 / peak) if peak > 0 else g / headroom
    if limiter:
        c = 0.0 if s == 0 else (1.0 - 1.0 / s) * 4.656612875245797e-10
        out = []
        for n in ns:
            v = s * n
            out.append(rs(1.0 / (1.0 / v + c)) if v > 0 else rs(1.0 / (1.0 / v - c)) if v < 0 else 0)
        return out
    if s == 1.0:
        return list(ns)
    return [rs(s * n) for n in ns]


def float_peak(xs):
    return float(np.max(np.abs(xs))) if len(xs) else 0.0


def int_peak(ns):
    return max((abs(float(n)) for n in ns), default=0.0) / 2147483647.0


@pytest.mark.parametrize(
    "effect, kwargs",
    [
        ("gain -3", dict(gain_db=-3)),
        ("gain 6.5", dict(gain_db=6.5)),
        ("gain -n -1", dict(gain_db=-1, normalize=True)),
        ("gain -l 12", dict(gain_db=12, limiter=True)),
        ("gain -n -l 3", dict(gain_db=3, normalize=True, limiter=True)),
        ("gain -r 2", dict(gain_db=2, reclaim=True)),
    ],
)
def test_gain_matches_its_formula(effect, kwargs):
    expected_f = through_i32(lambda ns: gain_ref(ns, peak=float_peak(FLOATS), **kwargs))(FLOATS)
    assert_bits(apply_f32(FLOATS, [effect]), expected_f)
    expected_i = gain_ref([int(n) for n in INTS], peak=int_peak(INTS), **kwargs)
    assert_bits(apply_i32(INTS, [effect]), expected_i)


def rs_np(v):
    """round_saturate_i32 over an array, as the scalar definition reads."""
    v = np.asarray(v, np.float64)
    with np.errstate(invalid="ignore"):
        t = np.where(v >= 0, v + 0.5, v - 0.5)
        out = np.where(v >= 2147483647.5, I32_MAX, np.where(v <= -2147483648.5, I32_MIN, np.trunc(t)))
    return np.where(np.isnan(v), 0, out).astype(np.int64).astype(np.int32)


def test_vectorised_scaling_and_shifting_agree_with_the_scalar_definition():
    # Many samples (vector lanes and a scalar tail), values at rounding ties and beyond full scale.
    rng = np.random.default_rng(11)
    ties = (rng.integers(-2**30, 2**30, 2000) + 0.5) * 2.0**-31
    xs = np.concatenate([rng.uniform(-1.5, 1.5, 20001), ties, [3.0, -3.0, 1e-40, -0.0]]).astype(np.float32)
    ns = rs_np(xs.astype(np.float64) * 2.0**31)
    for effect, op in [("gain 3.7", lambda n: n * 10 ** (3.7 / 20)), ("gain -40", lambda n: n * 10 ** (-40 / 20)),
                       ("dcshift -0.3", lambda n: n + (-0.3 * 2.0**31))]:
        expected = rs_np(op(ns.astype(np.float64)))
        assert_bits(apply_i32(ns, [effect]), expected)
        assert_bits(apply_f32(xs, [effect]), expected.astype(np.float32) * np.float32(2.0**-31))
    assert_bits(apply_i32(ns, ["vol -0.7"]), rs_np(ns * -0.7))


def test_gain_zero_db_is_bit_identical_and_one_db_quantizes():
    tiny = np.array([1e-12, -3.3e-11, 0.123456789, 1.0, -1.0], np.float32)
    assert_bits(apply_f32(tiny, ["gain 0"]), tiny)
    out = apply_f32(tiny, ["gain 1"]).astype(np.float64) * 2.0**31
    np.testing.assert_array_equal(out, np.round(out))  # multiples of 2^-31
    assert out.max() <= 2.0**31 and out.min() >= -(2.0**31)  # int32 saturation, seen as float32


def test_headroom_then_reclaim_in_one_chain():
    xs = np.array([0.25, -0.5, 0.125], np.float32)
    # -h stores 10^(6/20) and leaves the buffer alone; -r then scales by g * min(1/H, 1/peak).
    assert_bits(apply_f32(xs, ["gain -h 6"]), xs)
    H = 10 ** (6 / 20)
    expected = through_i32(lambda ns: gain_ref(ns, 0.0, peak=0.5, reclaim=True, headroom=H))(xs)
    assert_bits(apply_f32(xs, ["gain -h 6", "gain -r 0"]), expected)
    # The register is back at 1.0 afterwards: a second reclaim sees H = 1.
    again = through_i32(lambda ns: gain_ref(ns, 0.0, peak=float_peak(expected), reclaim=True))(expected)
    assert_bits(apply_f32(xs, ["gain -h 6", "gain -r 0", "gain -r 0"]), again)


def test_gain_edge_cases():
    zeros = np.zeros(16, np.float32)
    assert_bits(apply_f32(zeros, ["gain -n"]), zeros)
    assert_bits(apply_i32(np.zeros(4, np.int32), ["norm -3"]), np.zeros(4, np.int32))
    loud = apply_i32(INTS, ["gain -l 40"])
    # The limiter's full scale is 2^31 - 1 on both sides.
    assert loud[INTS == I32_MAX][0] == I32_MAX and loud[INTS == I32_MIN][0] == -I32_MAX
    assert np.all(np.abs(apply_f32(FLOATS, ["gain -l 40"])) <= 1.0)


# ---- vol -------------------------------------------------------------------------------------

def vol_ref(xs, g, L=None, F=1.0):
    if L is None:
        return [g * x for x in xs]
    T = F if abs(g) <= L else min(max((1 - L) / (abs(g) - L) * F, 0.0), F)
    out = []
    for x in xs:
        if x > T:
            y = F - L * (F - x)
            y = -y if g < 0 else y
        elif x < -T:
            y = -(F - L * (F + x))
            y = -y if g < 0 else y
        else:
            y = g * x
        out.append(y)
    return out


@pytest.mark.parametrize(
    "effect, g, L",
    [("vol 0.5", 0.5, None), ("vol -1", -1.0, None), ("vol 6 dB", 10 ** (6 / 20), None),
     ("vol 0.25 power", 0.5, None), ("vol 3 amplitude 0.5", 3.0, 0.5), ("vol -3 amplitude 0.5", -3.0, 0.5),
     ("vol 0.4 amplitude 0.5", 0.4, 0.5), ("vol 1 amplitude 1", 1.0, 1.0)],
)
def test_vol_matches_its_formula(effect, g, L):
    expected_f = [min(max(y, -1.0), 1.0) for y in vol_ref([float(x) for x in FLOATS], g, L)]
    assert_bits(apply_f32(FLOATS, [effect]), np.array(expected_f, np.float32))
    expected_i = [rs(y) for y in vol_ref([float(n) for n in INTS], g, L, F=2147483647.0)]
    assert_bits(apply_i32(INTS, [effect]), expected_i)


def test_vol_limiter_with_negative_gain_stays_inverted():
    xs = np.linspace(-1, 1, 201, dtype=np.float32)
    out = apply_f32(xs, ["vol -3 amplitude 0.5"]).astype(np.float64)
    assert np.all(np.sign(out) == -np.sign(xs))
    assert np.all(np.diff(out) <= 0)  # monotone: no jump at the threshold


def test_vol_limiter_below_its_gain_limits_nothing():
    # |gain| <= limiter gain: nothing can exceed full scale, so quiet input stays quiet.
    xs = np.array([0.001, -0.002, 0.5], np.float32)
    assert_bits(apply_f32(xs, ["vol 0.4 amplitude 0.5"]), np.float32(0.4 * xs.astype(np.float64)))


def test_vol_unity_is_a_no_op():
    assert_bits(apply_f32(FLOATS * 3, ["vol 1"]), FLOATS * 3)  # not even clamped


# ---- dcshift, contrast, overdrive ------------------------------------------------------------

def dcshift_ref(ns, S, L=None):
    M = 2147483647.0
    if L is None:
        return [rs(n + S * 2.0**31) for n in ns]
    T = (L - abs(S) + 1) * M
    out = []
    for n in ns:
        if abs(M - T) >= 1e-15 and S > 0 and n > T:
            y = S + T + L * (n - T) / (M - T)
        elif abs(M - T) >= 1e-15 and S < 0 and n < -T:
            y = S + L * (n + T) / (M - T) - T
        else:
            y = n + S * M
        out.append(rs(y))
    return out


def contrast_ref(ns, enhancement):
    k = enhancement / 750.0
    out = []
    for n in ns:
        d = n * 7.314590396335798e-10
        out.append(rs(math.sin(d + k * math.sin(4.0 * d)) * 2147483647.0))
    return out


def overdrive_core(xs, gain_db, color):
    G, C = 10.0 ** (gain_db / 20.0), color / 200.0
    p = q = 0.0
    out = []
    for x in xs:
        z = C + G * x
        d = -2.0 / 3.0 if z < -1 else 2.0 / 3.0 if z > 1 else z - z * z * z / 3.0
        q = d - p + 0.995 * q
        p = d
        out.append(0.5 * x + 0.75 * q)
    return out


@pytest.mark.parametrize(
    "effect, float_ref, int_ref",
    [
        ("dcshift 0.25", through_i32(lambda ns: dcshift_ref(ns, 0.25)), lambda ns: dcshift_ref(ns, 0.25)),
        ("dcshift -1.5 0.3", through_i32(lambda ns: dcshift_ref(ns, -1.5, 0.3)), lambda ns: dcshift_ref(ns, -1.5, 0.3)),
        ("dcshift 0.2 0.9", through_i32(lambda ns: dcshift_ref(ns, 0.2, 0.9)), lambda ns: dcshift_ref(ns, 0.2, 0.9)),
        ("contrast", through_i32(lambda ns: contrast_ref(ns, 75)), lambda ns: contrast_ref(ns, 75)),
        ("contrast 20", through_i32(lambda ns: contrast_ref(ns, 20)), lambda ns: contrast_ref(ns, 20)),
        ("overdrive 10 30", float_path(lambda xs: [min(max(y, -1.0), 1.0) for y in overdrive_core(xs, 10, 30)]),
         lambda ns: [rs(y * 2.0**31) for y in overdrive_core([n * 2.0**-31 for n in ns], 10, 30)]),
    ],
)
def test_integer_shapers_match_their_formulas(effect, float_ref, int_ref):
    assert_bits(apply_f32(FLOATS, [effect]), float_ref(FLOATS))
    assert_bits(apply_i32(INTS, [effect]), int_ref([int(n) for n in INTS]))


def test_dcshift_half_on_zeros_and_overdrive_at_zero_db():
    assert_bits(apply_f32(np.zeros(5, np.float32), ["dcshift 0.5"]), np.full(5, 0.5, np.float32))
    assert_bits(apply_f32(FLOATS, ["overdrive 0 100"]), FLOATS)


# ---- tremolo, fade, reverse ------------------------------------------------------------------

def tremolo_m(i, speed, depth):
    D = depth / 200.0
    return (1 - D) + D * math.sin(2 * math.pi * (speed * i / 16000.0 + 0.25))


def test_tremolo_matches_its_formula():
    xs, ns = FLOATS, [int(n) for n in INTS]
    expected_f = [np.float32(x) * np.float32(tremolo_m(i, 7.5, 60)) for i, x in enumerate(xs)]
    assert_bits(apply_f32(xs, ["tremolo 7.5 60"]), expected_f)
    assert_bits(apply_i32(INTS, ["tremolo 7.5 60"]), [rs(tremolo_m(i, 7.5, 60) * n) for i, n in enumerate(ns)])
    out = apply_f32(np.ones(3, np.float32), ["tremolo 4000 100"])
    assert out[0] == 1.0 and abs(out[2]) < 1e-7  # starts at the maximum; depth 100 reaches 0


SHAPES = {
    "q": lambda r: math.sin(math.pi / 2 * r),
    "h": lambda r: (1 - math.cos(math.pi * r)) / 2,
    "l": lambda r: 0.1 ** (5 * (1 - r)),
    "t": lambda r: r,
    "p": lambda r: 1 - (1 - r) * (1 - r),
}


def fade_ref(xs, shape, A, E, B):
    out = list(xs[:E]) + [0.0] * max(0, E - len(xs))
    f = SHAPES[shape]
    for i in range(min(E, A)):
        out[i] = (f(min(i / A, 1.0)), out[i])
    s0 = 0 if B > E else E - B
    for k in range(B):
        if s0 + k < E:
            out[s0 + k] = (f(min((B - k) / B, 1.0)), out[s0 + k])
    return out


def apply_factors(pairs, integer):
    def one(v):
        if not isinstance(v, tuple):
            return v
        f, inner = v
        inner = one(inner)
        return rs(f * inner) if integer else np.float32(inner) * np.float32(f)
    return [one(v) for v in pairs]


@pytest.mark.parametrize(
    "effect, shape, A, E, B",
    [
        ("fade 20s", "l", 20, None, 0),
        ("fade q 10s 40s 5s", "q", 10, 40, 5),
        ("fade h 10s -5s", "h", 10, -5, 10),
        ("fade t 8s +30s 12s", "t", 8, 38, 12),
        ("fade p 0.001 =60s 0.0005", "p", 16, 60, 8),
        ("fade t 4s 100s 30s", "t", 4, 100, 30),  # stop past the end pads with zeros
        ("fade t 100s 0s 200s", "t", 100, None, 200),  # fades longer than the buffer
    ],
)
def test_fade_positions_anchors_and_shapes(effect, shape, A, E, B):
    xs = FLOATS
    n = len(xs)
    E = n if E is None else (n + E if E < 0 else E)
    expected_f = apply_factors(fade_ref([np.float32(x) for x in xs], shape, A, E, B), integer=False)
    assert_bits(apply_f32(xs, [effect]), np.array(expected_f, np.float32))
    expected_i = apply_factors(fade_ref([int(v) for v in INTS], shape, A, E, B), integer=True)
    assert_bits(apply_i32(INTS, [effect]), expected_i)


def test_fade_in_seconds_cuts_at_the_end_anchor():
    out = apply_f32(np.ones(RATE, np.float32), ["fade 0.1 -0.5"])
    assert out.shape == (8000,)
    assert out[0] == np.float32(1e-5)  # the logarithmic fade starts at 1e-5, not 0


def test_fade_refuses_an_impossible_length():
    with pytest.raises(ValueError, match=r"^\[INPUT_ERROR\] fade stop position"):
        apply_f32(np.ones(4, np.float32), ["fade 0 =1e12"])


def test_reverse_twice_gives_the_input_back():
    assert_bits(apply_f32(FLOATS, ["reverse"]), FLOATS[::-1])
    assert_bits(apply_i32(INTS, ["reverse", "reverse"]), INTS)


@pytest.mark.parametrize("effect", ["gain -3", "gain -n -l", "vol 2 amplitude 0.5", "dcshift 0.1", "contrast",
                                    "overdrive", "tremolo 5", "fade 1", "reverse"])
def test_empty_buffers(effect):
    assert apply_f32(np.zeros(0, np.float32), [effect]).shape == (0,)
    assert apply_i32(np.zeros(0, np.int32), [effect]).shape == (0,)
