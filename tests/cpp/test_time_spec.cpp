// Time expressions: clock times, sample counts and seconds joined by + and -.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "ext/audio/parser/time_spec.h"

namespace corvala::audio {
namespace {

constexpr std::uint64_t MAX_COUNT = std::numeric_limits<std::uint64_t>::max();

struct GoodCase {
    const char* text;
    char op;
    std::uint64_t samples;
    double seconds;
};

class TimeSpecReads : public ::testing::TestWithParam<GoodCase> {};

TEST_P(TimeSpecReads, GivesTotals) {
    const GoodCase& c = GetParam();
    const auto result = read_time_spec(c.text, c.op);
    ASSERT_TRUE(result.has_value()) << '"' << c.text << "\": " << result.error();
    EXPECT_EQ(result->samples, c.samples) << c.text;
    EXPECT_EQ(result->seconds, c.seconds) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, TimeSpecReads,
    ::testing::Values(
        GoodCase{"", '+', 0, 0.0}, GoodCase{"   ", '+', 0, 0.0}, GoodCase{"2 +", '+', 0, 2.0},
        GoodCase{"2 -  ", '+', 0, 2.0}, GoodCase{"1.5", '+', 0, 1.5},
        GoodCase{"2.5t", '+', 0, 2.5}, GoodCase{"1e1", '+', 0, 10.0},
        GoodCase{"1:30", '+', 0, 90.0}, GoodCase{"1:00:00", '+', 0, 3600.0},
        GoodCase{"0:1.5t", '+', 0, 1.5}, GoodCase{"2:0:0:0", '+', 0, 7200.0},
        GoodCase{"1:1:1:1", '+', 0, 3600.0 + 3600.0 + 60.0 + 1.0},
        GoodCase{"8000s", '+', 8000, 0.0}, GoodCase{"1.5e0s", '+', 2, 0.0},
        GoodCase{"2.5e0s", '+', 3, 0.0}, GoodCase{"0.49999999999999994e0s", '+', 0, 0.0},
        GoodCase{"2 + 100s", '+', 100, 2.0}, GoodCase{" 1+2-0.5 ", '+', 0, 2.5},
        // Subtraction clamps each total at zero on its own.
        GoodCase{"1 - 5", '+', 0, 0.0}, GoodCase{"10s + 3 - 20s - 1", '+', 0, 2.0},
        GoodCase{"5s - 2s + 1s", '+', 4, 0.0}, GoodCase{"3", '-', 0, 0.0},
        GoodCase{"3 + 4", '-', 0, 4.0},
        // Huge counts saturate; infinite seconds stay infinite, and inf - inf clamps to zero.
        GoodCase{"1e400s", '+', MAX_COUNT, 0.0}, GoodCase{"18446744073709551616s", '+', MAX_COUNT, 0.0},
        GoodCase{"18446744073709549568s", '+', 18446744073709549568u, 0.0},
        GoodCase{"1e19s + 1e19s", '+', MAX_COUNT, 0.0},
        GoodCase{"1e400s - 1s", '+', MAX_COUNT - 1, 0.0},
        GoodCase{"1e400 - 1e400", '+', 0, 0.0}, GoodCase{"1e999", '+', 0, HUGE_VAL}));

struct BadCase {
    const char* text;
    const char* message;
};

class TimeSpecFails : public ::testing::TestWithParam<BadCase> {};

TEST_P(TimeSpecFails, WithExactMessage) {
    const BadCase& c = GetParam();
    const auto result = read_time_spec(c.text, '+');
    ASSERT_FALSE(result.has_value()) << c.text;
    EXPECT_EQ(result.error(), c.message) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, TimeSpecFails,
    ::testing::Values(
        BadCase{"x", "invalid character in time spec at pos 0"},
        BadCase{"  +2", "invalid character in time spec at pos 2"},
        BadCase{"2 + x", "invalid character in time spec at pos 4"},
        BadCase{"2 + -3", "invalid character in time spec at pos 4"},
        BadCase{"\t2", "invalid character in time spec at pos 0"},
        BadCase{"2 x", "unexpected character at pos 2"},
        BadCase{"2 3", "unexpected character at pos 2"},
        BadCase{"1.5 inf", "unexpected character at pos 4"},
        BadCase{"2\t", "unexpected character at pos 1"},
        BadCase{"1.5s", "invalid time value: 1.5s"},
        BadCase{"1..5", "invalid time value: 1..5"},
        BadCase{"t", "invalid time value: "},
        BadCase{"1e", "invalid time value: 1e"},
        BadCase{"5tt", "invalid time value: 5t"},
        BadCase{"s", "invalid sample count: "},
        BadCase{"1ss", "invalid sample count: 1s"},
        BadCase{"1e-3s", "invalid time value: 1e"},
        BadCase{"1:", "invalid time component: "},
        BadCase{":30", "invalid time component: "},
        BadCase{"1:3s", "invalid time component: 3s"},
        BadCase{"1.2.3:30t", "invalid time component: 1.2.3"},
        BadCase{"1:30tt", "invalid time component: 30t"}));

}  // namespace
}  // namespace corvala::audio
