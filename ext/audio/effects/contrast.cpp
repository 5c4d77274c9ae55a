// contrast: a sine-shaped boost of the mid range. Works on integer values in both paths.
#include <cmath>

#include "ext/audio/effects/level.h"

namespace corvala::audio::effects {

namespace {

template <typename T>
void apply_contrast(const ContrastParams& p, SampleBuffer<T>& buffer) {
    const double k = p.enhancement / 750.0;
    map_int_samples(buffer, [k](std::int32_t n) {
        const double d = static_cast<double>(n) * 7.314590396335798e-10;  // pi / 2^32: full scale -> pi/2
        return round_saturate_i32(std::sin(d + k * std::sin(4.0 * d)) * 2147483647.0);
    });
}

}  // namespace

void contrast(const ContrastParams& p, SampleBuffer<float>& buffer) { apply_contrast(p, buffer); }
void contrast(const ContrastParams& p, SampleBuffer<std::int32_t>& buffer) { apply_contrast(p, buffer); }

}  // namespace corvala::audio::effects
