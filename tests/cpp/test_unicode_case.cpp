#include "ext/audio/parser/unicode_case.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

using corvala::audio::unicode_lower;

struct Case {
    const char* name;
    std::string_view input;
    std::string_view expected;
};

// Expected values are those of Python's str.lower() on the text decoded with surrogatepass,
// invalid bytes kept as they are.
constexpr Case kCases[] = {
    {"empty", "", ""},
    {"ascii", "Hello, World! 09 [Z]@`", "hello, world! 09 [z]@`"},
    {"sharp s unchanged", "STRAßE", "straße"},
    {"two-byte Latin-1 and Cyrillic", "ÀÉÎÕÜ ПРИВЕТ", "àéîõü привет"},
    {"alternating upper and lower", "ĀāĂăĹĺ", "āāăăĺĺ"},
    {"dotted capital I expands", "İSTANBUL", "i\u0307stanbul"},
    {"length changes", "ΩȺ𐐀", "ωⱥ𐐨"},  // 3 -> 2, 2 -> 3 and 4 -> 4 bytes
    {"Cherokee", "ᎠᏴ", "ꭰᏼ"},
    {"sigma final and non-final", "ΟΔΥΣΣΕΥΣ", "οδυσσευς"},
    {"lone sigma", "Σ", "σ"},
    {"initial sigma", "ΣΑ", "σα"},
    {"sigma after sigma", "ΣΣ", "σς"},
    {"sigma after ascii letter", "AΣ", "aς"},
    {"space ends the word", "ΑΣ Α", "ας α"},
    {"digit ends the word", "ΑΣ1", "ας1"},
    {"ignorable after sigma, then cased", "ΑΣ'Α", "ασ'α"},
    {"ignorable after sigma at end", "ΑΣ'", "ας'"},
    {"ignorables before sigma", "Α'\u0301Σ", "α'\u0301ς"},
    {"combining mark after sigma", "ΑΣ\u0301.1", "ας\u0301.1"},
    {"only ignorables before sigma", "\u0301Σ", "\u0301σ"},
    // U+02B0 is both cased and case-ignorable; the scans skip it.
    {"cased ignorable before", "ʰΣ", "ʰσ"},
    {"cased ignorable between", "ΑʰΣ", "αʰς"},
    {"cased ignorable after", "ΑΣʰΑ", "ασʰα"},
    {"surrogates pass through", "\xED\xA0\x80\xED\xB0\x80Q", "\xED\xA0\x80\xED\xB0\x80q"},
    {"surrogate before sigma is not cased", "A\xED\xA0\x80Σ", "a\xED\xA0\x80σ"},
    {"surrogate after sigma is not cased", "AΣ\xED\xB0\x80", "aς\xED\xB0\x80"},
    {"invalid bytes copied", "A\xC0\xAF" "B\xFF\xF5\xE0\x80\x80", "a\xC0\xAF" "b\xFF\xF5\xE0\x80\x80"},
    {"stray continuation after sigma", "AΣ\x80", "aς\x80"},
    {"stray continuation before sigma", "\x80Σ", "\x80σ"},
    {"truncated sigma", "A\xCE", "a\xCE"},
    {"truncated after sigma", "AΣ\xCC", "aς\xCC"},
    {"truncated three-byte", "B\xE2\x82", "b\xE2\x82"},
};

TEST(UnicodeLower, MatchesPythonLower) {
    for (const Case& c : kCases) {
        EXPECT_EQ(unicode_lower(c.input), c.expected) << c.name;
    }
}

// A sequence cut by the end of the view must not be completed from the bytes beyond it.
TEST(UnicodeLower, StopsAtEndOfView) {
    const std::string buffer = "\xF0\x90\x90\x80\xCE\xA3";  // U+10400, capital sigma
    EXPECT_EQ(unicode_lower(std::string_view(buffer).substr(0, 3)), "\xF0\x90\x90");
    EXPECT_EQ(unicode_lower(std::string_view(buffer).substr(0, 5)), "\xF0\x90\x90\xA8\xCE");
    // The look-ahead of a final sigma stops at the view's end too: "AΣ" then "A" outside it.
    const std::string word = "A\xCE\xA3" "A";
    EXPECT_EQ(unicode_lower(std::string_view(word).substr(0, 3)), "a\xCF\x82");
}

}  // namespace
