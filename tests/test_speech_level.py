"""Active speech level (P.56 Method B): the building blocks and the end-to-end level."""

import math

import numpy as np
import pytest

from corvala import ext

p56 = ext.asl_p56_internal
F = np.float32
RATE = 16000
THRESHOLDS = (F(2.0) ** np.arange(-15, 0)).astype(np.float32)
EPS = 2.0**-23


def speech_like(seconds, seed=0):
    """Noise under a 3 Hz rectified-sine envelope with stretches of silence."""
    rng = np.random.default_rng(seed)
    n = int(seconds * RATE)
    i = np.arange(n)
    envelope = np.abs(np.sin(i * (2 * np.pi * 3 / RATE))) * ((i // (RATE // 2)) % 3 != 2)
    return (0.3 * envelope * rng.standard_normal(n)).astype(np.float32)


def tone(amplitude, seconds, freq=440.0):
    i = np.arange(int(seconds * RATE))
    return (amplitude * np.sin(2 * np.pi * freq * i / RATE)).astype(np.float32)


def sequential_sq(x):
    """The float32 sum of squares accumulated in order (cumsum is sequential, unlike sum)."""
    return float(np.cumsum(x * x, dtype=np.float32)[-1]) if len(x) else 0.0


def composed_level(x):
    q, margin, eps, h, c = p56.compute_envelope(x, RATE)
    a = p56.count_activity(q, c, h, len(q))
    return p56.compute_asl_from_thresholds(a, c, sequential_sq(x), eps, margin)


# --- compute_envelope ---


def reference_envelope(x, fs):
    """Two cascaded one-pole smoothers of |x| in float32, from their definition."""
    g = F(math.exp(F(-1.0) / (F(fs) * F(0.03))))
    gc = F(1.0) - g
    p = q = F(0.0)
    out = []
    for v in x:
        p = g * p + gc * abs(v)
        q = g * q + gc * p
        out.append(q)
    return np.array(out, dtype=np.float32)


@pytest.mark.parametrize("fs", [16000, 8000])
def test_envelope_is_the_float32_cascade(fs):
    x = np.random.default_rng(1).standard_normal(300).astype(np.float32)
    x[100:150] = 0.0
    q, margin, eps, h, c = p56.compute_envelope(x, fs)
    assert q.dtype == np.float32 and q.flags.c_contiguous and q.flags.writeable
    np.testing.assert_array_equal(q, reference_envelope(x, fs))
    assert margin == F(15.9) and eps == EPS
    assert c.dtype == np.float32
    np.testing.assert_array_equal(c, THRESHOLDS)
    # Strided and reversed views are read in logical order.
    np.testing.assert_array_equal(p56.compute_envelope(x[::-3], fs)[0], reference_envelope(x[::-3].copy(), fs))


# The product is taken in float32: in double, 16000 * float32(0.2) is just above 3200.
@pytest.mark.parametrize("fs, h", [(16000, 3200), (8000, 1600), (44100, 8820), (1, 1), (0, 0)])
def test_hangover_samples(fs, h):
    got = p56.compute_envelope(np.zeros(3, np.float32), fs)[3]
    assert type(got) is int and got == h


def test_envelope_of_nothing():
    q, *_ = p56.compute_envelope(np.zeros(0, np.float32), RATE)
    assert q.dtype == np.float32 and q.shape == (0,)


# --- count_activity ---


@pytest.mark.parametrize(
    "q, c, h, length, expected",
    [
        # One crossing, then a hangover of two samples at each threshold.
        ([0.5, 0, 0, 0, 0], [0.1, 0.2], 2, 5, [2, 2]),
        # The hangover starts used up: no count before the first crossing.
        ([0.01] * 4, [0.1], 10, 4, [-1]),
        # h 0: a sample below a threshold ends the scan there.
        ([0.5, 0.05, 0.5], [0.1, 0.2], 0, 3, [1, 1]),
        # The scan stops at the first threshold neither reached nor in hangover, so a higher one
        # that the sample does reach is not visited.
        ([0.15], [0.2, 0.1], 0, 1, [-1, -1]),
        ([0.3, 0.15, 0.15], [0.2, 0.1], 1, 3, [1, 1]),
        # Only the first `length` samples; none for 0 or a negative length.
        ([0.5, 0.5, 0.5], [0.1], 0, 1, [0]),
        ([0.5, 0.5, 0.5], [0.1], 0, 0, [-1]),
        ([0.5, 0.5, 0.5], [0.1], 0, -3, [-1]),
        ([0.5], [], 0, 1, []),
    ],
)
def test_count_activity_cases(q, c, h, length, expected):
    a = p56.count_activity(np.array(q, np.float32), np.array(c, np.float32), h, length)
    assert a.dtype == np.int32
    assert a.tolist() == expected


@pytest.mark.parametrize("h", [0, 7, 3200])
def test_count_activity_counts_samples_within_the_hangover_of_a_crossing(h):
    # For increasing thresholds, sample i counts at threshold j when some sample in [i - h, i]
    # reaches it.
    q = p56.compute_envelope(speech_like(3), RATE)[0]
    idx = np.arange(len(q))
    expected = []
    for cj in THRESHOLDS:
        last = np.maximum.accumulate(np.where(q >= cj, idx, -h - 2))
        expected.append(int(np.count_nonzero(idx - last <= h)) - 1)
    assert p56.count_activity(q, THRESHOLDS, h, len(q)).tolist() == expected


# --- bin_interp ---


def reference_bin_interp(u_cnt, l_cnt, u_thr, l_thr, margin, tol):
    """Returns the level and the number of bisection passes."""
    u_cnt, l_cnt, u_thr, l_thr, margin, tol = (F(v) for v in (u_cnt, l_cnt, u_thr, l_thr, margin, tol))
    tol = abs(tol)
    if abs(u_cnt - u_thr - margin) < tol:
        return u_cnt, 0
    if abs(l_cnt - l_thr - margin) < tol:
        return l_cnt, 0

    def mean(a, b):
        return F((float(a) + float(b)) / 2.0)

    cnt, thr = mean(u_cnt, l_cnt), mean(u_thr, l_thr)
    k = 2
    diff = cnt - thr - margin
    while abs(diff) > tol:
        if k >= 21:
            tol = tol * F(1.1)
        if diff > tol:
            cnt, thr = mean(u_cnt, cnt), mean(u_thr, thr)
        elif diff < -tol:
            cnt, thr = mean(l_cnt, cnt), mean(l_thr, thr)
        k += 1
        diff = cnt - thr - margin
    return cnt, k - 2


@pytest.mark.parametrize(
    "args, passes",
    [
        ((20.0, 0.0, 4.0, -30.0, 16.0, 0.5), "none"),  # upper end exactly the margin above
        ((-10.0, 5.0, -30.0, -11.0, 15.9, 0.5), "none"),  # lower end within tol
        ((0.0, 0.0, -14.9, -18.9, 15.9, 0.01), "few"),  # settles before the widening
        # The midpoint oscillates and the loop ends by the widening tol; where it ends depends on
        # the pass at which the widening starts.
        ((-22.83, -21.7, -35.18, -41.2, 15.9, 0.0017), "widening"),
        ((-8.39, -0.88, -21.37, -27.39, 15.9, -0.0036), "widening"),  # tol taken as its absolute value
        ((-30.0, -2.0, -47.0, -41.0, 15.9, 1e-30), "widening"),
        ((3e38, 3e38, 0.0, 0.0, 15.9, 0.5), "widening"),  # the sum of the ends overflows float32
        ((0.0, 0.0, 0.0, -32.0, 15.9, 0.5), "none"),  # the midpoint is within 0.5 of the margin
    ],
)
def test_bin_interp_follows_its_definition(args, passes):
    expected, n = reference_bin_interp(*args)
    assert {"none": n == 0, "few": 0 < n < 19, "widening": n >= 19}[passes], n
    assert p56.bin_interp(*args) == float(expected)


def test_bin_interp_exact_hit_returns_the_upper_count_itself():
    assert p56.bin_interp(20.0, 0.0, 4.0, -30.0, 16.0, 1e-6) == 20.0
    assert p56.bin_interp(u_cnt=-3.0, l_cnt=7.0, u_thr=-60.0, l_thr=-9.0, margin=16.0, tol=0.5) == 7.0


@pytest.mark.parametrize("tol", [0.0, -0.0])
def test_bin_interp_rejects_a_zero_tolerance_that_could_never_widen(tol):
    with pytest.raises(ValueError, match="tol must not be zero"):
        p56.bin_interp(0.0, 0.0, 0.0, -32.0, 15.9, tol)


# --- compute_asl_from_thresholds ---


def asl(a, c, sq, margin=15.9):
    return p56.compute_asl_from_thresholds(np.array(a, np.int32), np.array(c, np.float32), sq, EPS, margin)


def test_level_is_the_mean_square_over_the_active_samples():
    # Threshold 1 sits 15.8 dB under 10*log10(38 / 100), within 0.5 dB of the margin, so the level
    # is that mean square (counts are offset by 2).
    assert asl([98, 98], [0.01, 0.1], 38.0) == pytest.approx(0.38, rel=1e-6)


@pytest.mark.parametrize(
    "a, c, sq",
    [
        ([-1, 98], [0.01, 0.1], 38.0),  # nothing counted at the lowest threshold
        ([98, 98], [0.5, 0.9], 38.0),  # lowest threshold within the margin, although the next qualifies
        ([98, 98], [0.01, 0.01], 38.0),  # no threshold comes within the margin
        ([98], [0.01], 38.0),  # a single threshold never qualifies
    ],
)
def test_no_active_level_gives_zero(a, c, sq):
    assert asl(a, c, sq) == 0.0


def test_eps_keeps_the_level_of_a_zero_count_finite():
    # Count -2 (0 once offset) does not qualify, but its level is the lower end of the next
    # interpolation; eps in the denominator keeps it finite.
    level = asl([98, -2, 98], [0.01, 0.1, 0.1], 24.0)
    assert math.isfinite(level) and level > 0.0


def test_extra_counts_beyond_the_thresholds_are_ignored():
    assert asl([98, 98, 5, 5], [0.01, 0.1], 38.0) == asl([98, 98], [0.01, 0.1], 38.0)


@pytest.mark.parametrize(
    "a, c, message",
    [
        ([], [0.1], "a must hold at least one activity count"),
        ([1], [], "c must hold at least one threshold"),
        ([1, 2], [0.1, 0.2, 0.3], "a holds 2 activity counts, fewer than the 3 thresholds in c"),
    ],
)
def test_compute_asl_rejects_undefined_inputs(a, c, message):
    with pytest.raises(ValueError) as info:
        asl(a, c, 1.0)
    assert str(info.value) == message


def test_count_activity_rejects_a_length_past_the_envelope():
    with pytest.raises(ValueError) as info:
        p56.count_activity(np.zeros(4, np.float32), THRESHOLDS, 0, 5)
    assert str(info.value) == "length 5 is greater than the length of the envelope q (4)"


# --- asl_p56 ---


@pytest.mark.parametrize("amplitude", [0.3, 0.03])
@pytest.mark.parametrize("duty", [1.0, 0.5, 0.125])
def test_tone_bursts_measure_their_power_whatever_the_duty_cycle(amplitude, duty):
    on = tone(amplitude, 4.0)
    period = np.zeros(int(4.0 / duty * RATE), np.float32)
    period[: len(on)] = on
    x = np.tile(period, 3)
    power = amplitude**2 / 2
    level = ext.asl_p56(x)
    # The plain mean square falls with the duty cycle; the active level stays at the burst's power
    # (the hangover after each burst counts as active, hence a bias below 0 dB).
    assert abs(10 * math.log10(level / power)) < 0.5
    assert 10 * math.log10(np.mean(x.astype(np.float64) ** 2) / power) == pytest.approx(10 * math.log10(duty), abs=0.01)


@pytest.mark.parametrize(
    "x",
    [
        np.zeros(RATE, np.float32),
        np.zeros(0, np.float32),
        tone(2e-5, 1.0),  # audible in the mean square, but its envelope stays below 2^-15
    ],
    ids=["silence", "empty", "sub-threshold"],
)
def test_no_active_speech_gives_zero(x):
    assert ext.asl_p56(x) == 0.0


@pytest.mark.parametrize("seed", [0, 1, 2])
def test_asl_p56_equals_its_building_blocks(seed):
    x = speech_like(4, seed)
    level = ext.asl_p56(x)
    assert level > 0.0
    assert level == composed_level(x)
    # A strided view gives the level of its logical samples.
    assert ext.asl_p56(x[::-2]) == composed_level(x[::-2].copy())


def test_read_only_input_is_accepted_and_left_alone():
    x = speech_like(1)
    before = x.copy()
    x.flags.writeable = False
    assert ext.asl_p56(audio=x) == composed_level(before)
    np.testing.assert_array_equal(x, before)


# --- argument conversion ---

Q = np.zeros(4, np.float32)
A = np.zeros(15, np.int32)


@pytest.mark.parametrize(
    "call, parameter, exception",
    [
        (lambda: ext.asl_p56(np.zeros(4)), "audio", TypeError),
        (lambda: ext.asl_p56([0.0, 1.0]), "audio", TypeError),
        (lambda: p56.compute_envelope(Q, 1.5), "sample_rate", TypeError),
        (lambda: p56.compute_envelope(Q, 2**63), "sample_rate", OverflowError),
        (lambda: p56.count_activity(Q, A, 0, 4), "c", TypeError),
        (lambda: p56.count_activity(Q, THRESHOLDS, "3", 4), "h_samples", TypeError),
        (lambda: p56.count_activity(Q, THRESHOLDS, 3, None), "length", TypeError),
        (lambda: p56.compute_asl_from_thresholds(A.astype(np.int64), THRESHOLDS, 1.0, EPS, 15.9), "a", TypeError),
        (lambda: p56.compute_asl_from_thresholds(A, THRESHOLDS, "1", EPS, 15.9), "sq", TypeError),
        (lambda: p56.compute_asl_from_thresholds(A, THRESHOLDS, 1.0, EPS, None), "margin", TypeError),
        (lambda: p56.bin_interp(0.0, 0.0, 0.0, 0.0, 15.9, "x"), "tol", TypeError),
    ],
)
def test_conversion_errors_name_the_parameter(call, parameter, exception):
    with pytest.raises(exception) as info:
        call()
    assert info.value.__notes__ == [f"while processing '{parameter}'"]


def test_binding_errors_use_cpythons_wording():
    with pytest.raises(TypeError) as info:
        p56.count_activity(Q, THRESHOLDS, 0)
    assert str(info.value) == "count_activity() missing 1 required positional argument: 'length'"
