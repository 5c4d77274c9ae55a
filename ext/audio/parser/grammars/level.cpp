// Grammars of the level and simple effects.
#include <cmath>
#include <optional>
#include <string>
#include <string_view>

#include "ext/audio/parser/format.h"
#include "ext/audio/parser/grammars/common.h"
#include "ext/audio/parser/grammars/grammars.h"
#include "ext/audio/parser/readers.h"
#include "ext/audio/parser/time_spec.h"

namespace corvala::audio::grammars {

namespace {

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

// Fade shape letters, in the order of FadeShape.
constexpr std::string_view FADE_SHAPES = "qhltp";

// Seconds and samples together, samples alone, or seconds.
std::string time_text(const TimeSpec& t) {
    if (t.samples != 0 && t.seconds != 0.0) {
        return format("{:.6}+{}s", t.seconds, t.samples);
    }
    if (t.samples != 0) {
        return format("{}s", t.samples);
    }
    return format("{:.6}", t.seconds);
}

std::string gain_text(const GainParams& p) {
    std::string text = "gain";
    if (p.normalize) text += " -n";
    if (p.limiter) text += " -l";
    if (p.headroom) text += " -h";
    if (p.reclaim) text += " -r";
    return text + format(" {:.6}", p.gain_db);
}

}  // namespace

ParseResult gain(const EffectArgs& args) {
    GainParams p;
    for (std::size_t k = 1; k <= args.size(); ++k) {
        const std::string& arg = args[k];
        // -3 is a number; -.5 and -x are flag groups.
        if (arg.size() > 1 && arg[0] == '-' && !is_ascii_digit(arg[1])) {
            for (std::size_t i = 1; i < arg.size(); ++i) {
                switch (arg[i]) {
                    case 'h': p.headroom = true; break;
                    case 'l': p.limiter = true; break;
                    case 'n': p.normalize = true; break;
                    case 'r': p.reclaim = true; break;
                    default: {
                        // Report the whole offending character, not one byte of it.
                        std::size_t len = 1;
                        while (i + len < arg.size() && (static_cast<unsigned char>(arg[i + len]) & 0xC0) == 0x80) {
                            ++len;
                        }
                        return std::unexpected(
                            args.flag(arg, format("Unknown gain flag: -{}", std::string_view(arg).substr(i, len))));
                    }
                }
            }
            continue;
        }
        auto value = read_db(args, arg);
        if (!value) {
            return std::unexpected(std::move(value.error()));
        }
        p.gain_db = *value;
    }
    if (p.normalize && p.reclaim) {
        return std::unexpected(args.flag("-n/-r", "only one of -n, -r may be given"));
    }
    if (p.limiter && p.headroom) {
        return std::unexpected(args.flag("-l/-h", "only one of -l, -h may be given"));
    }
    std::string text = gain_text(p);
    return ParsedEffect{EffectSpec::make<EffectKind::gain>(p), std::move(text)};
}

ParseResult norm(const EffectArgs& args) {
    if (args.size() > 1) {
        return std::unexpected(args.arity("norm takes at most one argument"));
    }
    GainParams p;
    p.normalize = true;
    if (args.size() == 1) {
        auto level = read_db(args, args[1]);
        if (!level) {
            return std::unexpected(std::move(level.error()));
        }
        p.gain_db = *level;
    }
    return ParsedEffect{EffectSpec::make<EffectKind::gain>(p), format("gain -n {:.6}", p.gain_db)};
}


ParseResult vol(const EffectArgs& args) {
    if (args.empty()) {
        return fail(args.arity("vol requires at least a gain argument"));
    }
    if (args.size() > 3) {
        return fail(args.arity("vol takes at most 3 arguments"));
    }
    auto value = read_unit_value(args, args[1], "invalid gain value: {}");
    if (!value) {
        return fail(std::move(value.error()));
    }
    VolParams p;
    p.gain_value = *value;
    std::string_view type_word = "amplitude";
    if (args.size() >= 2) {
        type_word = args[2];
        if (type_word == "dB") {
            p.gain_type = VolType::db;
        } else if (type_word == "power") {
            p.gain_type = VolType::power;
        } else if (type_word != "amplitude") {
            return fail(args.parse(std::nullopt, args[2], format("unknown type: {}", args[2]),
                                   "type must be one of: dB, power, amplitude"));
        }
    }
    switch (p.gain_type) {
        case VolType::amplitude: p.gain = *value; break;
        case VolType::db: p.gain = std::pow(10.0, *value / 20.0); break;
        case VolType::power: p.gain = *value < 0.0 ? -std::sqrt(-*value) : std::sqrt(*value); break;
    }
    // inf or NaN here (typed, or a dB value too large) would make NaN samples; no range check catches it.
    if (!std::isfinite(p.gain)) {
        return fail(args.unit(args[1], format("invalid gain value: {}", args[1])));
    }
    std::string text = format("vol {:.6} {}", p.gain_value, type_word);
    if (args.size() == 3) {
        auto limiter = read_unit_value(args, args[3], "invalid limitergain: {}");
        if (!limiter) {
            return fail(std::move(limiter.error()));
        }
        if (!(*limiter > 0.0 && *limiter <= 1.0)) {
            return fail(args.parse(std::nullopt, args[3], "limitergain must be in (0, 1]",
                                   "limitergain must be a value in (0, 1]"));
        }
        p.limiter_gain = *limiter;
        text += format(" {:.6}", *limiter);
    }
    return parsed<EffectKind::vol>(p, std::move(text));
}

ParseResult dcshift(const EffectArgs& args) {
    if (args.empty()) {
        return fail(args.arity("dcshift requires at least a shift argument"));
    }
    if (args.size() > 2) {
        return fail(args.arity("dcshift takes at most 2 arguments"));
    }
    DcshiftParams p;
    auto shift = read_unit_value(args, args[1], "invalid shift value: {}");
    if (!shift) {
        return fail(std::move(shift.error()));
    }
    if (!in_closed(*shift, -2.0, 2.0)) {
        return fail(args.parse(1, args[1], "shift must be in [-2, 2]", "shift must be in [-2, 2]"));
    }
    p.shift = *shift;
    std::string text = format("dcshift {:.6}", p.shift);
    if (args.size() == 2) {
        auto limiter = read_unit_value(args, args[2], "invalid limitergain: {}");
        if (!limiter) {
            return fail(std::move(limiter.error()));
        }
        if (!(*limiter > 0.0 && *limiter <= 1.0)) {
            return fail(args.parse(2, args[2], "limitergain must be in (0, 1]", "limitergain must be in (0, 1]"));
        }
        p.limiter_gain = *limiter;
        text += format(" {:.6}", *limiter);
    }
    return parsed<EffectKind::dcshift>(p, std::move(text));
}

ParseResult contrast(const EffectArgs& args) {
    if (args.size() > 1) {
        return fail(args.arity("contrast takes at most 1 argument"));
    }
    ContrastParams p;
    if (args.size() == 1) {
        auto enhancement = read_unit_value(args, args[1], "invalid enhancement value: {}");
        if (!enhancement) {
            return fail(std::move(enhancement.error()));
        }
        if (!in_closed(*enhancement, 0.0, 100.0)) {
            return fail(args.parse(1, args[1], format("enhancement out of range: {}", *enhancement),
                                   "enhancement must be in [0, 100]"));
        }
        p.enhancement = *enhancement;
    }
    return parsed<EffectKind::contrast>(p, format("contrast {:.6}", p.enhancement));
}

ParseResult overdrive(const EffectArgs& args) {
    if (args.size() > 2) {
        return fail(args.arity("overdrive takes at most 2 arguments"));
    }
    OverdriveParams p;
    // Argument k (1 gain, 2 color): unreadable, then outside [0, 100].
    const auto percent = [&](std::size_t k, std::string_view name, double& field) -> std::optional<EffectError> {
        auto value = read_unit_value(args, args[k], "invalid " + std::string(name) + " value: {}");
        if (!value) {
            return std::move(value.error());
        }
        if (!in_closed(*value, 0.0, 100.0)) {
            return args.parse(k, args[k], format("{} out of range: {}", name, *value),
                              format("{} must be in [0, 100]", name));
        }
        field = *value;
        return std::nullopt;
    };
    if (args.size() >= 1) {
        if (auto error = percent(1, "gain", p.gain_db)) {
            return fail(std::move(*error));
        }
    }
    if (args.size() == 2) {
        if (auto error = percent(2, "color", p.color)) {
            return fail(std::move(*error));
        }
    }
    return parsed<EffectKind::overdrive>(p, format("overdrive {:.6} {:.6}", p.gain_db, p.color));
}

ParseResult tremolo(const EffectArgs& args) {
    if (args.empty() || args.size() > 2) {
        return fail(args.arity("tremolo takes 1 or 2 arguments: speed [depth]"));
    }
    TremoloParams p;
    auto speed = read_unit_value(args, args[1], "invalid speed");
    if (!speed) {
        return fail(std::move(speed.error()));
    }
    if (args.size() == 2) {
        auto depth = read_unit_value(args, args[2], "invalid depth");
        if (!depth) {
            return fail(std::move(depth.error()));
        }
        p.depth = *depth;
    }
    p.speed = *speed;
    if (p.speed < 0.0) {
        return fail(args.unit(format("{}", p.speed), "speed must be >= 0"));
    }
    // inf or NaN is not negative, yet makes every multiplier NaN: refused as an unreadable speed.
    if (!std::isfinite(p.speed)) {
        return fail(args.unit(args[1], "invalid speed"));
    }
    if (!(p.depth > 0.0 && p.depth <= 100.0)) {
        return fail(args.unit(format("{}", p.depth), "depth must be in range (0, 100]"));
    }
    return parsed<EffectKind::tremolo>(p, format("tremolo {:.6} {:.6}", p.speed, p.depth));
}

ParseResult fade(const EffectArgs& args) {
    FadeParams p;
    std::size_t k = 1;
    char shape = 'l';
    if (!args.empty() && args[1].size() == 1 && FADE_SHAPES.find(args[1][0]) != std::string_view::npos) {
        shape = args[1][0];
        k = 2;
    }
    p.shape = static_cast<FadeShape>(FADE_SHAPES.find(shape));
    if (k > args.size()) {
        return fail(args.arity("Missing fade-in length"));
    }
    auto fade_in = read_time_spec(args[k], '+');
    if (!fade_in) {
        return fail(args.unit(args[k], std::move(fade_in.error())));
    }
    p.fade_in = *fade_in;
    std::string text = format("fade {} {}", shape, time_text(p.fade_in));
    if (++k <= args.size()) {
        const std::string& token = args[k];
        std::string_view rest = token;
        char anchor = '=';
        char op = '+';
        if (!rest.empty() && (rest[0] == '=' || rest[0] == '+' || rest[0] == '-')) {
            anchor = rest[0];
            rest.remove_prefix(1);
            // After + or - a second sign is the expression's initial operator; after = it is not.
            if (anchor != '=' && !rest.empty() && (rest[0] == '+' || rest[0] == '-')) {
                op = rest[0];
                rest.remove_prefix(1);
            }
        }
        auto position = read_time_spec(rest, op);
        if (!position) {
            return fail(args.unit(token, std::move(position.error())));
        }
        const FadeAnchor anchor_kind = anchor == '=' ? FadeAnchor::absolute
                                       : anchor == '+' ? FadeAnchor::after_fade_in
                                                       : FadeAnchor::before_end;
        p.stop = FadeStop{anchor_kind, *position};
        text += format(" {}{}", anchor, time_text(*position));
        p.fade_out = p.fade_in;
        if (++k <= args.size()) {
            auto fade_out = read_time_spec(args[k], '+');
            if (!fade_out) {
                return fail(args.unit(args[k], std::move(fade_out.error())));
            }
            p.fade_out = *fade_out;
        }
        text += format(" {}", time_text(*p.fade_out));
        if (++k <= args.size()) {
            return fail(args.arity(format("Unexpected argument: {}", args[k])));
        }
    }
    return parsed<EffectKind::fade>(p, std::move(text));
}

ParseResult reverse(const EffectArgs& args) {
    if (!args.empty()) {
        return fail(args.arity("reverse takes no arguments"));
    }
    return parsed<EffectKind::reverse>(ReverseParams{}, "reverse");
}

}  // namespace corvala::audio::grammars
