#include "ext/asl_p56.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "ext/audio/parser/format.h"

namespace corvala::speech {

namespace {

std::unexpected<SpeechLevelError> reject(std::string message) {
    return std::unexpected(SpeechLevelError{std::move(message)});
}

// Stored back as float32 after averaging in double.
float mean(float a, float b) { return static_cast<float>((static_cast<double>(a) + static_cast<double>(b)) / 2.0); }

float interpolate(float u_cnt, float l_cnt, float u_thr, float l_thr, float margin, float tol) {
    tol = std::fabs(tol);
    if (std::fabs(u_cnt - u_thr - margin) < tol) {
        return u_cnt;
    }
    if (std::fabs(l_cnt - l_thr - margin) < tol) {
        return l_cnt;
    }
    float cnt = mean(u_cnt, l_cnt);
    float thr = mean(u_thr, l_thr);
    float diff = cnt - thr - margin;
    // The midpoint moves halfway to one end each pass and may oscillate; the widening tolerance
    // (which reaches infinity within about a thousand passes) ends the loop.
    for (int k = 2; std::fabs(diff) > tol; ++k) {
        if (k >= 21) {
            tol *= 1.1f;
        }
        if (diff > tol) {
            cnt = mean(u_cnt, cnt);
            thr = mean(u_thr, thr);
        } else if (diff < -tol) {
            cnt = mean(l_cnt, cnt);
            thr = mean(l_thr, thr);
        }
        diff = cnt - thr - margin;
    }
    return cnt;
}

// The thresholds are the powers of two 2^-15 ... 2^-1, so the number of them at or below v is
// read from v's exponent. NaN and anything below 2^-15 reach none; infinity reaches all.
constexpr bool thresholds_are_powers_of_two() {
    for (std::size_t j = 0; j < NUM_THRESHOLDS; ++j) {
        if (THRESHOLDS[j] != std::bit_cast<float>(static_cast<std::uint32_t>(112 + j) << 23)) {
            return false;
        }
    }
    return true;
}
static_assert(thresholds_are_powers_of_two());

int threshold_level(float v) {
    const int above_floor = static_cast<int>(std::bit_cast<std::uint32_t>(v) >> 23) - 111;
    const int level = std::min(above_floor, static_cast<int>(NUM_THRESHOLDS));
    return v >= THRESHOLDS[0] ? level : 0;
}

}  // namespace

float envelope_coefficient(std::int64_t sample_rate) {
    return std::exp(-1.0f / (static_cast<float>(sample_rate) * ENVELOPE_TIME));
}

std::int64_t hangover_samples(std::int64_t sample_rate) {
    // float32(INT64_MAX) * 0.2 is well inside int64, so the conversion is always defined.
    return static_cast<std::int64_t>(std::ceil(static_cast<float>(sample_rate) * HANGOVER_TIME));
}

Envelope compute_envelope(audio::SampleView<float> audio, std::int64_t sample_rate) {
    Envelope env;
    env.h_samples = hangover_samples(sample_rate);
    env.q.resize(audio.length);
    const float g = envelope_coefficient(sample_rate);
    const float gc = 1.0f - g;
    // Both smoothers in one pass: q[i] needs only p[i] and q[i - 1].
    float p = 0.0f;
    float q = 0.0f;
    for (std::size_t i = 0; i < audio.length; ++i) {
        p = g * p + gc * std::fabs(audio[i]);
        q = g * q + gc * p;
        env.q[i] = q;
    }
    return env;
}

std::expected<audio::SampleBuffer<std::int32_t>, SpeechLevelError> count_activity(
    audio::SampleView<float> q, std::span<const float> c, std::int64_t h_samples, std::int64_t length) {
    if (length > static_cast<std::int64_t>(q.length)) {
        return reject(audio::format("length {} is greater than the length of the envelope q ({})", length,
                                    q.length));
    }
    // A count reaches at most length - 1.
    constexpr std::int64_t MAX_LENGTH = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    if (length > MAX_LENGTH) {
        return reject(audio::format("length {} is too long for int32 activity counts", length));
    }
    audio::SampleBuffer<std::int32_t> a(c.size(), -1);
    std::vector<std::int64_t> hang(c.size(), h_samples);
    for (std::int64_t i = 0; i < length; ++i) {
        const float v = q[static_cast<std::size_t>(i)];
        for (std::size_t j = 0; j < c.size(); ++j) {
            if (v >= c[j]) {
                ++a[j];
                hang[j] = 0;
            } else if (hang[j] < h_samples) {
                ++a[j];
                ++hang[j];
            } else {
                break;
            }
        }
    }
    return a;
}

std::expected<float, SpeechLevelError> bin_interp(float u_cnt, float l_cnt, float u_thr, float l_thr, float margin,
                                                  float tol) {
    if (tol == 0.0f) {
        return reject("tol must not be zero: the interpolation would never end");
    }
    return interpolate(u_cnt, l_cnt, u_thr, l_thr, margin, tol);
}

std::expected<float, SpeechLevelError> compute_asl_from_thresholds(std::span<const std::int64_t> a,
                                                                   std::span<const float> c, float sq, float eps,
                                                                   float margin) {
    if (a.empty()) {
        return reject("a must hold at least one activity count");
    }
    if (c.empty()) {
        return reject("c must hold at least one threshold");
    }
    if (a.size() < c.size()) {
        return reject(audio::format("a holds {} activity counts, fewer than the {} thresholds in c", a.size(),
                                    c.size()));
    }
    if (a[0] == -1) {
        return 0.0f;
    }
    // Adding 2 in double cannot overflow, and is exact for every count below 2^53.
    auto shifted = [&](std::size_t i) { return static_cast<float>(static_cast<double>(a[i]) + 2.0); };
    const std::size_t n = c.size();
    std::vector<float> level(n);
    std::vector<float> thr(n);
    level[0] = 10.0f * std::log10(eps + sq / shifted(0));
    thr[0] = 20.0f * std::log10(eps + c[0]);
    if (margin > level[0] - thr[0]) {
        return 0.0f;
    }
    for (std::size_t i = 1; i < n; ++i) {
        level[i] = 10.0f * std::log10(eps + sq / (eps + shifted(i)));
        thr[i] = 20.0f * std::log10(eps + c[i]);
    }
    for (std::size_t i = 1; i < n; ++i) {
        if (a[i] != -2 && level[i] - thr[i] <= margin) {
            const float db = interpolate(level[i], level[i - 1], thr[i], thr[i - 1], margin, BISECTION_TOL_DB);
            return std::pow(10.0f, db / 10.0f);
        }
    }
    return 0.0f;
}

ActivityPass p56_activity_pass(audio::SampleView<float> audio, std::int64_t sample_rate) {
    // THRESHOLDS are increasing, so a threshold's hangover counter never falls below that of a lower
    // one and the early stop of count_activity never skips a threshold that would count. Each
    // threshold j then counts the samples within h_samples after one at or above it: sample i is
    // counted at every j below the highest threshold level reached in [i - h, i]. That window
    // maximum is kept with the last index at which each level was reached, and the counts are
    // gathered as run lengths of it.
    const auto n = static_cast<std::int64_t>(audio.length);
    // A negative hangover never applies, like 0; one longer than the signal acts as the signal's length.
    const std::int64_t h = std::clamp<std::int64_t>(hangover_samples(sample_rate), 0, n);
    const float g = envelope_coefficient(sample_rate);
    const float gc = 1.0f - g;

    std::array<std::int64_t, NUM_THRESHOLDS + 1> last_at_level;
    last_at_level.fill(-h - 1);
    std::array<std::int64_t, NUM_THRESHOLDS + 1> run_length{};
    int window_level = 0;
    int run_level = 0;
    std::int64_t run_start = 0;

    float p = 0.0f;
    float q = 0.0f;
    float sq = 0.0f;
    const std::byte* at = audio.data;
    for (std::int64_t i = 0; i < n; ++i, at += audio.byte_stride) {
        float x;
        std::memcpy(&x, at, sizeof x);
        p = g * p + gc * std::fabs(x);
        q = g * q + gc * p;
        sq += x * x;
        const int level = threshold_level(q);
        last_at_level[static_cast<std::size_t>(level)] = i;
        window_level = std::max(window_level, level);
        if (last_at_level[static_cast<std::size_t>(window_level)] < i - h) [[unlikely]] {
            // Stops at `level` at the latest, just stamped with i.
            do {
                --window_level;
            } while (last_at_level[static_cast<std::size_t>(window_level)] < i - h);
        }
        if (window_level != run_level) [[unlikely]] {
            run_length[static_cast<std::size_t>(run_level)] += i - run_start;
            run_start = i;
            run_level = window_level;
        }
    }
    run_length[static_cast<std::size_t>(run_level)] += n - run_start;

    ActivityPass pass;
    pass.sq = sq;
    std::int64_t counted = 0;
    for (std::size_t j = NUM_THRESHOLDS; j-- > 0;) {
        counted += run_length[j + 1];
        pass.a[j] = counted - 1;
    }
    return pass;
}

float asl_p56(audio::SampleView<float> audio) {
    const ActivityPass pass = p56_activity_pass(audio, END_TO_END_SAMPLE_RATE);
    // Cannot be rejected: counts and thresholds are both NUM_THRESHOLDS long.
    return compute_asl_from_thresholds(pass.a, THRESHOLDS, pass.sq, EPS, MARGIN_DB).value_or(0.0f);
}

}  // namespace corvala::speech
