// Decimal reading, the two number formats and template filling.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "ext/audio/parser/format.h"
#include "ext/audio/parser/numbers.h"

namespace corvala::audio {
namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

struct ReadCase {
    const char* text;
    double expected;
};

class ReadNumberAccepts : public ::testing::TestWithParam<ReadCase> {};

// Bit-exact comparison so that rounding errors and the sign of zero both count.
TEST_P(ReadNumberAccepts, GivesCorrectlyRoundedValue) {
    const ReadCase& c = GetParam();
    const std::optional<double> value = read_number(c.text);
    ASSERT_TRUE(value.has_value()) << c.text;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(*value), std::bit_cast<std::uint64_t>(c.expected))
        << c.text << " read as " << *value;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadNumberAccepts,
    ::testing::Values(
        ReadCase{"0", 0.0}, ReadCase{"-0", -0.0}, ReadCase{"+3", 3.0}, ReadCase{"-3", -3.0},
        ReadCase{"1.", 1.0}, ReadCase{".5", 0.5}, ReadCase{"-.5e1", -5.0},
        ReadCase{"2E+2", 200.0}, ReadCase{"25e-1", 2.5}, ReadCase{"0.1", 0.1},
        ReadCase{"000123.4500", 123.45},
        // Halfway between two doubles: ties to even, but any further digit breaks the tie.
        ReadCase{"9007199254740993", 9007199254740992.0},
        ReadCase{"9007199254740993.000000000000000000001", 9007199254740994.0},
        ReadCase{"2.2250738585072011e-308", 2.2250738585072009e-308},
        ReadCase{"4.9e-324", std::numeric_limits<double>::denorm_min()},
        ReadCase{"1.7976931348623157e308", std::numeric_limits<double>::max()},
        // Out of range: the decimal magnitude decides between infinity and zero.
        ReadCase{"1e400", INF}, ReadCase{"-1e400", -INF}, ReadCase{"1e-400", 0.0},
        ReadCase{"-1e-400", -0.0}, ReadCase{"2e-324", 0.0}, ReadCase{"1e999999999999999999", INF},
        ReadCase{"0.0000000000000000000001e-999999999999", 0.0},
        ReadCase{"100000000000000000000000e-24000000000000", 0.0},
        ReadCase{"0.00001e330", INF}, ReadCase{"0e999999999999", 0.0},
        ReadCase{"-0.000e-99999999999999", -0.0},
        ReadCase{"inf", INF}, ReadCase{"-INF", -INF}, ReadCase{"+Infinity", INF},
        ReadCase{"iNfInItY", INF}));

TEST(ReadNumber, ReadsNanWordsInAnyCase) {
    for (const char* text : {"nan", "NaN", "-nan", "+NAN"}) {
        const std::optional<double> value = read_number(text);
        ASSERT_TRUE(value.has_value()) << text;
        EXPECT_TRUE(std::isnan(*value)) << text;
    }
}

TEST(ReadNumber, RefusesEverythingOutsideTheGrammar) {
    for (const char* text :
         {"", "+", "-", ".", "+.", "e5", ".e5", "1e", "1e+", "1e-", "1.2.3", "--1", "+-1", " 1",
          "1 ", "3dB", "10ms", "1,5", "0x10", "1_000", "nan(1)", "infin", "in", "infinityy", "1k",
          "1e5.5", "1d5", "\xef\xbc\x91"}) {
        EXPECT_FALSE(read_number(text).has_value()) << '"' << text << '"';
    }
}

TEST(ReadNumber, StopsAtTheViewEnd) {
    const std::string_view text("12345", 2);
    EXPECT_EQ(read_number(text), 12.0);
}

// The sign of the exponent alone does not tell overflow from underflow.
TEST(ReadNumber, OutOfRangeDirectionCountsMantissaDigits) {
    EXPECT_EQ(read_number("0." + std::string(700, '0') + "1e350"), 0.0);
    EXPECT_EQ(read_number("1" + std::string(700, '0') + "e-350"), INF);
    EXPECT_EQ(read_number("-1" + std::string(400, '0')), -INF);
    EXPECT_EQ(read_number("0." + std::string(400, '0') + "1"), 0.0);
}

struct FormatCase {
    double value;
    const char* fixed6;
    const char* shortest;
};

class NumberFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(NumberFormats, PrintBothForms) {
    const FormatCase& c = GetParam();
    EXPECT_EQ(fixed6(c.value), c.fixed6);
    EXPECT_EQ(shortest(c.value), c.shortest);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NumberFormats,
    ::testing::Values(
        FormatCase{3.0, "3.000000", "3"}, FormatCase{2.0, "2.000000", "2"},
        FormatCase{-0.5, "-0.500000", "-0.5"}, FormatCase{0.0, "0.000000", "0"},
        FormatCase{-0.0, "-0.000000", "-0"}, FormatCase{0.1, "0.100000", "0.1"},
        // Exact binary ties at the sixth decimal round to the even digit.
        FormatCase{0.0078125, "0.007812", "0.0078125"},
        FormatCase{0.0234375, "0.023438", "0.0234375"},
        FormatCase{-0.0390625, "-0.039062", "-0.0390625"},
        // 2.0000005 lies just above the tie in binary, so it rounds up.
        FormatCase{2.0000005, "2.000001", "2.0000005"},
        FormatCase{1e-7, "0.000000", "0.0000001"}, FormatCase{123.456, "123.456000", "123.456"},
        FormatCase{-1234.5678, "-1234.567800", "-1234.5678"},
        FormatCase{1e21, "1000000000000000000000.000000", "1000000000000000000000"},
        // Shortest digits padded with zeros, not the exact integer 99999999999999991611392.
        FormatCase{1e23, "99999999999999991611392.000000", "100000000000000000000000"},
        FormatCase{9007199254740993.0, "9007199254740992.000000", "9007199254740992"},
        FormatCase{INF, "inf", "inf"}, FormatCase{-INF, "-inf", "-inf"},
        FormatCase{std::numeric_limits<double>::quiet_NaN(), "NaN", "NaN"},
        FormatCase{-std::numeric_limits<double>::quiet_NaN(), "NaN", "NaN"}));

TEST(NumberFormats, ExtremeMagnitudesPrintInFull) {
    const std::string tiny = shortest(std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(tiny, "0." + std::string(323, '0') + "5");
    EXPECT_EQ(read_number(tiny), std::numeric_limits<double>::denorm_min());

    const std::string largest = shortest(-std::numeric_limits<double>::max());
    EXPECT_EQ(largest, "-17976931348623157" + std::string(292, '0'));

    const std::string huge = fixed6(1e300);
    ASSERT_EQ(huge.size(), 301u + 7u);
    EXPECT_EQ(huge.substr(0, 17), "10000000000000000");
    EXPECT_NE(huge.substr(0, 301), "1" + std::string(300, '0'));  // exact binary digits
    EXPECT_TRUE(huge.ends_with(".000000"));
    EXPECT_EQ(read_number(huge), 1e300);

    EXPECT_EQ(fixed6(-std::numeric_limits<double>::max()).size(), 317u);
}

TEST(NumberFormats, ShortestReadsBackExactly) {
    for (double v : {0.1, 1.0 / 3.0, 2.0 / 3.0 * 1e-10, 123456789.012345678, 5e-324 * 3,
                     std::numeric_limits<double>::min(), 1e22, 1e16 + 2, 3.0e200}) {
        for (double signed_v : {v, -v}) {
            const std::string text = shortest(signed_v);
            EXPECT_EQ(text.find('e'), std::string::npos) << text;
            EXPECT_EQ(read_number(text), signed_v) << text;
        }
    }
}

TEST(Format, FillsPlaceholdersInOrder) {
    EXPECT_EQ(format("gain {} {:.6} {}{}", "-n", -3.0, 'q', 2.5), "gain -n -3.000000 q2.5");
    EXPECT_EQ(format("at {} of {}", std::size_t{7}, -12), "at 7 of -12");
    EXPECT_EQ(format("{}", std::string("tok")), "tok");
    EXPECT_EQ(format("plain text"), "plain text");
}

TEST(Format, OtherBracesAreLiteralAndSurplusPlaceholdersStay) {
    EXPECT_EQ(format("{x} {:.3} {{}", 1.5), "{x} {:.3} {1.5");
    EXPECT_EQ(format("see effect_help(\"{}\")", "gain"), "see effect_help(\"gain\")");
    EXPECT_EQ(format("{} and {:.6} and {}", 1.0), "1 and {:.6} and {}");
    EXPECT_EQ(format("{:.6}", 0.5, "dropped"), "0.500000");
    EXPECT_EQ(format("trail {", 1.0), "trail {");
}

}  // namespace
}  // namespace corvala::audio
