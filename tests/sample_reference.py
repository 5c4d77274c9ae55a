"""The chain runner's sample conversions, written from their definitions, for effect tests."""

import numpy as np

I32_MAX, I32_MIN = 2**31 - 1, -(2**31)


def rs(v):
    """round_saturate_i32: half away from zero, saturating; NaN gives 0."""
    if v != v:
        return 0
    if v >= 2147483647.5:
        return I32_MAX
    if v <= -2147483648.5:
        return I32_MIN
    return int(v + 0.5) if v >= 0 else int(v - 0.5)


def f2i(x):
    """float_to_i32_sample."""
    return rs(float(x) * 2.0**31)


def i2f(n):
    """i32_to_float_sample."""
    return np.float32(n) * np.float32(2.0**-31)
