// Tokenizing, name resolution, the shared token readers and the report texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ext/audio/effect_error.h"
#include "ext/audio/parser/parse.h"
#include "ext/audio/parser/readers.h"
#include "ext/audio/parser/tokenizer.h"

namespace corvala::audio {
namespace {

using Tokens = std::vector<std::string>;

struct TokenCase {
    std::string text;
    Tokens tokens;
};

class SplitTokens : public ::testing::TestWithParam<TokenCase> {};

TEST_P(SplitTokens, GivesTokens) { EXPECT_EQ(split_effect_tokens(GetParam().text), GetParam().tokens); }

INSTANTIATE_TEST_SUITE_P(
    Table, SplitTokens,
    ::testing::Values(
        TokenCase{"", {}}, TokenCase{" \t\n ", {}}, TokenCase{"gain -3", {"gain", "-3"}},
        TokenCase{"  gain   -3  ", {"gain", "-3"}},
        // Quoted and unquoted pieces next to each other join into one token.
        TokenCase{"a\"b c\"d", {"ab cd"}}, TokenCase{"gain \"\" -3", {"gain", "-3"}},
        TokenCase{"gain \"-3\"", {"gain", "-3"}}, TokenCase{"gain \\-3", {"gain", "-3"}},
        // An escape makes quotes, backslashes and spaces literal, inside quotes or not.
        TokenCase{"a\\ b", {"a b"}}, TokenCase{"\"a\\\"b\"", {"a\"b"}}, TokenCase{"a\\\\b", {"a\\b"}},
        TokenCase{"x\\", {"x"}}, TokenCase{"\"open quote runs on", {"open quote runs on"}},
        // Unicode white space separates (NEL, NBSP, ideographic space, line separator).
        TokenCase{"a\u0085b\u00a0c\u3000d\u2028e", {"a", "b", "c", "d", "e"}},
        TokenCase{"a\\\u3000b", {"a\u3000b"}}, TokenCase{"\"a\u2003b\"", {"a\u2003b"}},
        // Other multi-byte characters stay whole; invalid bytes are kept as they are.
        TokenCase{"\u00e9t\u00e9 \xed\xa0\x80", {"\u00e9t\u00e9", "\xed\xa0\x80"}},
        TokenCase{"\xff\\\xfe \xc2", {"\xff\xfe", "\xc2"}}));

TEST(ParseEffect, EmptyStringIsAnInputError) {
    for (const char* text : {"", "   ", "\"\""}) {
        auto parsed = parse_effect(text);
        ASSERT_FALSE(parsed);
        EXPECT_EQ(render(parsed.error()), "[INPUT_ERROR] Empty effect string") << text;
    }
}

TEST(ParseEffect, NameIsLowerCasedAndMatchedExactly) {
    ASSERT_TRUE(parse_effect("GAIN -3"));
    EXPECT_EQ(parse_effect("Gain -3")->canonical, parse_effect("gain -3")->canonical);
    auto unknown = parse_effect("G\u00c4INX 1");
    ASSERT_FALSE(unknown);
    EXPECT_EQ(unknown.error().kind, EffectErrorKind::unsupported);
    EXPECT_EQ(unknown.error().effect, "g\u00e4inx");
    EXPECT_EQ(unknown.error().reason, "Unknown effect: g\u00e4inx");
    EXPECT_EQ(unknown.error().original, "G\u00c4INX 1");
    // No prefixes or abbreviations.
    EXPECT_FALSE(parse_effect("gai -3"));
    EXPECT_FALSE(parse_effect("gains -3"));
}

TEST(ParseEffectChain, FirstErrorWinsAndEmptyChainIsEmpty) {
    EXPECT_TRUE(parse_effect_chain({})->empty());
    const std::vector<std::string> chain{"gain 1", "gain x", "nope"};
    auto parsed = parse_effect_chain(chain);
    ASSERT_FALSE(parsed);
    EXPECT_EQ(render(parsed.error()),
              "[UNIT_ERROR] effect='gain' token='x' reason='Invalid dB value: x' original='gain x'");
    const std::vector<std::string> good{"gain 1", "norm"};
    EXPECT_EQ(parse_effect_chain(good)->size(), 2u);
}

TEST(Render, EveryKindHasItsTemplate) {
    const std::vector<std::pair<EffectError, std::string>> cases{
        {EffectError::parse(2, "x", "r", "h", "o", "t"),
         "[EFFECT_PARSE_ERROR] effect='x' index=2 token='t' reason='r' hint='h' original='o'"},
        {EffectError::parse(std::nullopt, "x", "r", "h", "o", std::nullopt),
         "[EFFECT_PARSE_ERROR] effect='x' reason='r' hint='h' original='o'"},
        {EffectError::arity("x", "r", "o'q"), "[ARITY_ERROR] effect='x' reason='r' original='o'q'"},
        {EffectError::flag("x", "t", "r", "o"), "[FLAG_ERROR] effect='x' token='t' reason='r' original='o'"},
        {EffectError::unit("x", "t", "r", "o"), "[UNIT_ERROR] effect='x' token='t' reason='r' original='o'"},
        {EffectError::unsupported("x", "d", "h", "o"), "[UNSUPPORTED] effect='x' detail='d' hint='h' original='o'"},
        {EffectError::input("m"), "[INPUT_ERROR] m"},
        {EffectError::nan_at(5), "NaN detected at index 5"},
        {EffectError::inf_at(0), "Inf detected at index 0"},
    };
    for (const auto& [error, text] : cases) {
        EXPECT_EQ(render(error), text);
    }
}

class Readers : public ::testing::Test {
protected:
    std::vector<std::string> tokens{"equalizer"};
    EffectArgs args{"equalizer", tokens, "equalizer x"};
};

TEST_F(Readers, Frequency) {
    EXPECT_EQ(*read_frequency(args, "1.5k"), 1500.0);
    EXPECT_EQ(*read_frequency(args, "440"), 440.0);
    auto upper = read_frequency(args, "1K");
    ASSERT_FALSE(upper);
    EXPECT_EQ(upper.error().reason, "Invalid numeric value: 1K");
    auto bad = read_frequency(args, "1.2.3k");
    ASSERT_FALSE(bad);
    EXPECT_EQ(render(bad.error()),
              "[UNIT_ERROR] effect='equalizer' token='1.2.3k' reason='Invalid numeric value: 1.2.3' "
              "original='equalizer x'");
}

TEST_F(Readers, Width) {
    auto octaves = read_width(args, "2o", WidthUnit::q, 2);
    EXPECT_EQ(octaves->value, 2.0);
    EXPECT_EQ(octaves->unit, WidthUnit::octaves);
    auto plain = read_width(args, "100", WidthUnit::hz, 2);
    EXPECT_EQ(plain->value, 100.0);
    EXPECT_EQ(plain->unit, WidthUnit::hz);
    auto bad = read_width(args, "q", WidthUnit::q, 2);
    ASSERT_FALSE(bad);
    EXPECT_EQ(render(bad.error()),
              "[EFFECT_PARSE_ERROR] effect='equalizer' index=2 token='q' reason='invalid unit: q' "
              "hint='see effect_help(\"equalizer\")' original='equalizer x'");
}

TEST_F(Readers, DbTakesNoUnit) {
    EXPECT_EQ(*read_db(args, "-6"), -6.0);
    auto bad = read_db(args, "3dB");
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().reason, "Invalid dB value: 3dB");
}

}  // namespace
}  // namespace corvala::audio
