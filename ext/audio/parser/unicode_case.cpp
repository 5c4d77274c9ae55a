#include "ext/audio/parser/unicode_case.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

namespace corvala::audio {
namespace {

// Code points first..last map to code point + delta (stride 1: all of them; stride 2: every
// other one from first). Stride 0: the single code point first maps to the pool_length bytes of
// kLowerPool starting at delta.
struct LowerRange {
    char32_t first;
    char32_t last;
    std::int32_t delta;
    std::uint8_t stride;
    std::uint8_t pool_length;
};

struct CodeRange {
    char32_t first;
    char32_t last;
};

#include "ext/audio/parser/unicode_case_table.inc"

constexpr char32_t kCapitalSigma = 0x3A3;
// Stands for a byte that starts no valid sequence; lies outside every table.
constexpr char32_t kInvalidUnit = 0x110000;

template <class Range, std::size_t N>
const Range* find_range(const Range (&table)[N], char32_t cp) {
    const Range* it = std::upper_bound(std::begin(table), std::end(table), cp,
                                       [](char32_t c, const Range& r) { return c < r.first; });
    if (it == std::begin(table)) return nullptr;
    --it;
    return cp <= it->last ? it : nullptr;
}

enum class CaseClass : std::uint8_t { other, cased, ignorable };

CaseClass classify(char32_t cp) {
    if (find_range(kIgnorableRanges, cp) != nullptr) return CaseClass::ignorable;
    if (find_range(kCasedRanges, cp) != nullptr) return CaseClass::cased;
    return CaseClass::other;
}

struct Unit {
    char32_t cp;
    std::size_t length;
};

bool in_range(unsigned char b, unsigned lo, unsigned hi) { return b >= lo && b <= hi; }

// One unit of generalized UTF-8 at text[i] (i < size): a valid sequence, encoded surrogates
// included, or a single invalid byte.
Unit decode(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const std::size_t left = text.size() - i;
    const unsigned char b0 = byte(0);
    if (b0 < 0x80) return {b0, 1};
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        if (left >= 2 && in_range(byte(1), 0x80, 0xBF))
            return {static_cast<char32_t>((b0 & 0x1Fu) << 6 | (byte(1) & 0x3Fu)), 2};
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        if (left >= 3 && in_range(byte(1), b0 == 0xE0 ? 0xA0 : 0x80, 0xBF) && in_range(byte(2), 0x80, 0xBF))
            return {static_cast<char32_t>((b0 & 0x0Fu) << 12 | (byte(1) & 0x3Fu) << 6 | (byte(2) & 0x3Fu)), 3};
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        if (left >= 4 && in_range(byte(1), b0 == 0xF0 ? 0x90 : 0x80, b0 == 0xF4 ? 0x8F : 0xBF) &&
            in_range(byte(2), 0x80, 0xBF) && in_range(byte(3), 0x80, 0xBF))
            return {static_cast<char32_t>((b0 & 0x07u) << 18 | (byte(1) & 0x3Fu) << 12 | (byte(2) & 0x3Fu) << 6 |
                                          (byte(3) & 0x3Fu)),
                    4};
    }
    return {kInvalidUnit, 1};
}

void append_utf8(std::string& out, char32_t cp) {
    const auto put = [&](char32_t v) { out.push_back(static_cast<char>(v)); };
    if (cp < 0x80) {
        put(cp);
    } else if (cp < 0x800) {
        put(0xC0 | cp >> 6);
        put(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        put(0xE0 | cp >> 12);
        put(0x80 | (cp >> 6 & 0x3F));
        put(0x80 | (cp & 0x3F));
    } else {
        put(0xF0 | cp >> 18);
        put(0x80 | (cp >> 12 & 0x3F));
        put(0x80 | (cp >> 6 & 0x3F));
        put(0x80 | (cp & 0x3F));
    }
}

// Appends the lowercase of a non-ASCII unit whose bytes are `original`.
void append_lower(std::string& out, std::string_view original, char32_t cp) {
    const LowerRange* r = find_range(kLowerRanges, cp);
    if (r == nullptr || (r->stride == 2 && (cp - r->first) % 2 != 0)) {
        out.append(original);
    } else if (r->stride == 0) {
        out.append(kLowerPool + r->delta, r->pool_length);
    } else {
        append_utf8(out, static_cast<char32_t>(static_cast<std::int32_t>(cp) + r->delta));
    }
}

// Whether the first unit at or after i that is not case-ignorable is cased.
bool cased_follows(std::string_view text, std::size_t i) {
    while (i < text.size()) {
        const Unit u = decode(text, i);
        const CaseClass c = classify(u.cp);
        if (c != CaseClass::ignorable) return c == CaseClass::cased;
        i += u.length;
    }
    return false;
}

}  // namespace

std::string unicode_lower(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    // Only a capital sigma reads its context, so the case classes matter only if one occurs.
    const bool has_sigma = utf8.find("\xCE\xA3") != std::string_view::npos;
    bool cased_before = false;  // the last unit before i that is not case-ignorable is cased
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        Unit u{b, 1};
        if (b < 0x80) {
            out.push_back(static_cast<char>(b >= 'A' && b <= 'Z' ? b + ('a' - 'A') : b));
        } else {
            u = decode(utf8, i);
            if (u.cp == kCapitalSigma) {
                const bool final_sigma = cased_before && !cased_follows(utf8, i + u.length);
                out.append(final_sigma ? "\xCF\x82" : "\xCF\x83");
            } else {
                append_lower(out, utf8.substr(i, u.length), u.cp);
            }
        }
        if (has_sigma) {
            const CaseClass c = classify(u.cp);
            if (c != CaseClass::ignorable) cased_before = c == CaseClass::cased;
        }
        i += u.length;
    }
    return out;
}

}  // namespace corvala::audio
