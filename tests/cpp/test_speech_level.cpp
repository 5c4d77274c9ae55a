// The one-pass activity counting of asl_p56 against the threshold scan it replaces, over rates
// whose hangovers Python cannot reach through asl_p56 (which fixes the rate at 16 kHz).
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <random>
#include <vector>

#include "ext/asl_p56.h"

namespace corvala::speech {
namespace {

audio::SampleView<float> view_of(const std::vector<float>& v) {
    return {reinterpret_cast<const std::byte*>(v.data()), v.size(), sizeof(float)};
}

// Bursts of noise at levels spread over the thresholds, with gaps of silence, so that the window
// level rises, holds and expires many times.
std::vector<float> bursts(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::uniform_int_distribution<int> octave(-17, 1);
    std::uniform_int_distribution<std::size_t> span(1, 900);
    std::vector<float> x;
    while (x.size() < n) {
        const int o = octave(rng);
        const float amplitude = o < -16 ? 0.0f : std::ldexp(1.0f, o);
        for (std::size_t k = span(rng); k > 0 && x.size() < n; --k) {
            x.push_back(amplitude * noise(rng));
        }
    }
    return x;
}

struct PassCase {
    const char* name;
    std::vector<float> signal;
    std::int64_t sample_rate;
};

void PrintTo(const PassCase& c, std::ostream* os) { *os << c.name; }

class ActivityPassMatchesScan : public ::testing::TestWithParam<PassCase> {};

TEST_P(ActivityPassMatchesScan, CountsAndSquares) {
    const PassCase& c = GetParam();
    const auto x = view_of(c.signal);
    const Envelope env = compute_envelope(x, c.sample_rate);
    const auto scanned = count_activity(view_of(std::vector<float>(env.q.begin(), env.q.end())), THRESHOLDS,
                                        env.h_samples, static_cast<std::int64_t>(env.q.size()));
    ASSERT_TRUE(scanned.has_value());
    const ActivityPass pass = p56_activity_pass(x, c.sample_rate);
    for (std::size_t j = 0; j < NUM_THRESHOLDS; ++j) {
        EXPECT_EQ(pass.a[j], (*scanned)[j]) << c.name << ", threshold " << j;
    }
    float sq = 0.0f;
    for (float v : c.signal) {
        sq += v * v;
    }
    EXPECT_EQ(std::bit_cast<std::uint32_t>(pass.sq), std::bit_cast<std::uint32_t>(sq)) << c.name;
}

std::vector<float> with_specials() {
    std::vector<float> x = bursts(20000, 7);
    x[5000] = std::numeric_limits<float>::infinity();
    x[12000] = std::numeric_limits<float>::quiet_NaN();
    return x;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ActivityPassMatchesScan,
    ::testing::Values(PassCase{"16 kHz, h 3200", bursts(200000, 1), 16000},
                      PassCase{"8 kHz, h 1600", bursts(100000, 2), 8000},
                      PassCase{"rate 100, h 20", bursts(50000, 3), 100},
                      PassCase{"rate 5, h 1", bursts(20000, 4), 5},
                      PassCase{"rate 0, h 0", bursts(20000, 5), 0},
                      PassCase{"hangover longer than the signal", bursts(3000, 6), 16000},
                      PassCase{"negative rate: the envelope overflows", bursts(5000, 8), -16000},
                      PassCase{"inf then NaN in the signal", with_specials(), 16000},
                      PassCase{"empty", {}, 16000}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

}  // namespace
}  // namespace corvala::speech
