// Grammars of the time and pitch effects.
#include <array>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>

#include "ext/audio/parser/format.h"
#include "ext/audio/parser/grammars/common.h"
#include "ext/audio/parser/grammars/grammars.h"
#include "ext/audio/parser/numbers.h"
#include "ext/audio/parser/unicode_case.h"

namespace corvala::audio::grammars {

namespace {

constexpr std::array<std::string_view, 3> LENGTH_INVALID{
    "Invalid segment value: {}", "Invalid search value: {}", "Invalid overlap value: {}"};

// The optional overlap-add lengths of pitch and tempo, from argument k on. They become sample
// counts, so they must be finite.
template <typename P>
std::expected<void, EffectError> read_lengths(const EffectArgs& args, std::size_t k, std::string_view too_many,
                                              P& p) {
    static constexpr std::array<std::optional<double> P::*, 3> FIELDS{&P::segment, &P::search, &P::overlap};
    for (std::size_t i = 0; k <= args.size(); ++i, ++k) {
        if (i == FIELDS.size()) {
            return std::unexpected(args.arity(std::string(too_many)));
        }
        auto value = read_finite_value(args, args[k], LENGTH_INVALID[i]);
        if (!value) return std::unexpected(std::move(value.error()));
        p.*FIELDS[i] = *value;
    }
    return {};
}

template <typename P>
std::string lengths_text(const P& p) {
    std::string text;
    for (const std::optional<double>& length : {p.segment, p.search, p.overlap}) {
        if (length) text += format(" {:.6}", *length);
    }
    return text;
}

bool is_tempo_mode(std::string_view token) { return token == "-m" || token == "-s" || token == "-l"; }

}  // namespace

ParseResult pitch(const EffectArgs& args) {
    if (args.empty()) {
        return std::unexpected(args.arity("pitch takes at least shift argument"));
    }
    PitchParams p;
    std::size_t k = 1;
    if (args[1] == "-q") {
        p.quick = true;
        k = 2;
        if (args.size() < 2) {
            return std::unexpected(args.arity("pitch missing shift argument"));
        }
    }
    auto shift = read_finite_value(args, args[k], "Invalid shift value: {}");
    if (!shift) return std::unexpected(std::move(shift.error()));
    p.shift = *shift;
    if (auto ok = read_lengths(args, k + 1, "pitch takes at most 4 arguments (plus optional -q)", p); !ok) {
        return std::unexpected(std::move(ok.error()));
    }
    std::string text = format("pitch{} {:.6}", p.quick ? " -q" : "", p.shift) + lengths_text(p);
    return ParsedEffect{EffectSpec::make<EffectKind::pitch>(p), std::move(text)};
}

ParseResult tempo(const EffectArgs& args) {
    TempoParams p;
    std::size_t k = 1;
    for (; k <= args.size(); ++k) {
        const std::string& token = args[k];
        if (token == "-q") {
            if (p.quick) {
                return std::unexpected(args.unsupported("Duplicate -q flag", "remove duplicate -q"));
            }
            p.quick = true;
        } else if (is_tempo_mode(token)) {
            if (p.mode) {
                if (*p.mode == token[1]) {
                    return std::unexpected(
                        args.unsupported(format("Duplicate {} flag", token), format("remove duplicate {}", token)));
                }
                return std::unexpected(
                    args.unsupported(format("Conflicting tempo mode flags: -{} and {}", *p.mode, token),
                                     "use only one of -m, -s, or -l"));
            }
            p.mode = token[1];
        } else {
            break;
        }
    }
    if (k > args.size()) {
        return std::unexpected(args.arity("tempo missing factor argument"));
    }
    const std::string& token = args[k];
    auto factor = read_unit_value(args, token, "Invalid factor value: {}");
    if (!factor) return std::unexpected(std::move(factor.error()));
    if (!(*factor > 0.0)) {
        return std::unexpected(args.unit(token, format("factor must be positive: {}", *factor)));
    }
    // An infinite factor would make the output length and the skips meaningless.
    if (std::isinf(*factor)) {
        return std::unexpected(args.unit(token, format("Invalid factor value: {}", token)));
    }
    p.factor = *factor;
    if (auto ok = read_lengths(args, k + 1, "tempo takes at most 4 arguments (plus optional flags)", p); !ok) {
        return std::unexpected(std::move(ok.error()));
    }
    std::string text = "tempo";
    if (p.quick) text += " -q";
    if (p.mode) text += format(" -{}", *p.mode);
    text += format(" {:.6}", p.factor) + lengths_text(p);
    return ParsedEffect{EffectSpec::make<EffectKind::tempo>(p), std::move(text)};
}

ParseResult speed(const EffectArgs& args) {
    if (args.size() != 1) {
        return std::unexpected(args.arity("speed takes exactly 1 argument: factor[c]"));
    }
    const std::string& token = args[1];
    double factor = 0.0;
    if (token.back() == 'c') {
        const auto cents = read_number(std::string_view(token).substr(0, token.size() - 1));
        if (!cents) {
            return std::unexpected(args.unit(token, "invalid cents value"));
        }
        factor = std::pow(2.0, *cents / 1200.0);
    } else {
        const auto plain = read_number(token);
        if (!plain) {
            return std::unexpected(args.unit(token, "invalid speed factor"));
        }
        factor = *plain;
    }
    if (!(std::isfinite(factor) && factor > 0.0)) {
        return std::unexpected(args.unit(token, "speed factor must be positive and finite"));
    }
    return ParsedEffect{EffectSpec::make<EffectKind::speed>(SpeedParams{factor}), format("speed {:.6}", factor)};
}

ParseResult stretch(const EffectArgs& args) {
    struct StretchNumber {
        double StretchParams::* member;
        std::string_view invalid;
    };
    // By position; position 3 is the fade type.
    static constexpr std::array<StretchNumber, 5> NUMBERS{{
        {&StretchParams::factor, "invalid factor"}, {&StretchParams::window, "invalid window"}, {nullptr, ""},
        {&StretchParams::shift, "invalid shift ratio"}, {&StretchParams::fading, "invalid fading ratio"},
    }};
    constexpr std::size_t FADE_POSITION = 3;
    StretchParams p;
    for (std::size_t k = 1; k <= args.size(); ++k) {
        const std::string& token = args[k];
        if (k > NUMBERS.size()) {
            return std::unexpected(args.arity("too many arguments"));
        }
        if (k == FADE_POSITION) {
            if (!unicode_lower(token).starts_with('l')) {
                return std::unexpected(args.unit(token, "only 'lin' fade type is supported"));
            }
            continue;
        }
        // The factor is judged after all arguments; window, shift and fading become sample counts
        // and must be finite.
        const StretchNumber& number = NUMBERS[k - 1];
        auto value = k == 1 ? read_unit_value(args, token, number.invalid)
                            : read_finite_value(args, token, number.invalid);
        if (!value) return std::unexpected(std::move(value.error()));
        p.*number.member = *value;
    }
    if (!(p.factor > 0.0)) {
        return std::unexpected(args.unit(shortest(p.factor), "factor must be > 0"));
    }
    if (std::isinf(p.factor)) {
        return std::unexpected(args.unit(args[1], "invalid factor"));
    }
    std::string text = format("stretch {:.6} {:.6} lin {:.6} {:.6}", p.factor, p.window, p.shift, p.fading);
    return ParsedEffect{EffectSpec::make<EffectKind::stretch>(p), std::move(text)};
}

ParseResult rate(const EffectArgs& args) {
    static constexpr std::string_view QUALITY_LETTERS = "qlmhv";
    RateParams p;
    std::optional<double> target;
    for (std::size_t k = 1; k <= args.size(); ++k) {
        const std::string& token = args[k];
        if (token.size() == 2 && token[0] == '-' && QUALITY_LETTERS.find(token[1]) != std::string_view::npos) {
            p.quality = token[1];
            continue;
        }
        // The target rate sets the converter's ratio and the output length, so it must be finite.
        const auto value = read_number(token);
        if (!value || !std::isfinite(*value)) {
            return std::unexpected(EffectError::input(format("Invalid argument for rate: {}", token)));
        }
        target = *value;
    }
    if (!target) {
        return std::unexpected(args.arity("rate requires a target sample rate"));
    }
    p.rate = *target;
    return ParsedEffect{EffectSpec::make<EffectKind::rate>(p), format("rate -{} {:.6}", p.quality, p.rate)};
}

}  // namespace corvala::audio::grammars
