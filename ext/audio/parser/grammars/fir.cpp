// Grammars of the FIR design effects.
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ext/audio/parser/format.h"
#include "ext/audio/parser/grammars/common.h"
#include "ext/audio/parser/grammars/grammars.h"
#include "ext/audio/parser/numbers.h"

namespace corvala::audio::grammars {

namespace {

// A frequency with an optional trailing k (x1000), as the sinc cutoffs and -t take it.
std::optional<double> read_khz(std::string_view text) {
    const bool khz = text.ends_with('k');
    if (khz) {
        text.remove_suffix(1);
    }
    auto value = read_number(text);
    if (value && khz) {
        *value *= 1000.0;
    }
    return value;
}

struct Cutoffs {
    double highpass = 0.0;  // 0 when absent
    double lowpass = 0.0;   // 0 when absent
};

// -L (low-pass only), H, or H-[L].
std::expected<Cutoffs, EffectError> read_cutoffs(const EffectArgs& args, const std::string& token) {
    const auto piece = [&](std::string_view text) -> std::expected<double, EffectError> {
        if (text.empty()) {
            return fail(args.unit(token, "empty frequency"));
        }
        if (auto value = read_khz(text)) {
            return *value;
        }
        return fail(args.unit(token, format("invalid frequency: {}", text)));
    };
    const std::string_view text = token;
    Cutoffs cutoffs;
    if (text.starts_with('-')) {
        auto lowpass = piece(text.substr(1));
        if (!lowpass) {
            return fail(std::move(lowpass.error()));
        }
        cutoffs.lowpass = *lowpass;
        return cutoffs;
    }
    const std::size_t dash = text.find('-');
    if (dash != std::string_view::npos && text.find('-', dash + 1) != std::string_view::npos) {
        return fail(args.unit(token, "invalid cutoff range"));
    }
    auto highpass = piece(text.substr(0, dash));
    if (!highpass) {
        return fail(std::move(highpass.error()));
    }
    cutoffs.highpass = *highpass;
    if (dash != std::string_view::npos && dash + 1 < text.size()) {
        auto lowpass = piece(text.substr(dash + 1));
        if (!lowpass) {
            return fail(std::move(lowpass.error()));
        }
        cutoffs.lowpass = *lowpass;
    }
    return cutoffs;
}

// A numeric option value: unreadable, then outside [low, high].
std::expected<double, EffectError> sinc_number(const EffectArgs& args, const std::string& value,
                                               std::string_view invalid, double low, double high,
                                               std::string_view out_of_range) {
    auto number = read_number(value);
    if (!number) {
        return fail(args.unit(value, std::string(invalid)));
    }
    if (!in_closed(*number, low, high)) {
        return fail(args.unit(value, std::string(out_of_range)));
    }
    return *number;
}

std::string sinc_text(const SincParams& p) {
    std::string text = "sinc";
    if (p.round) text += " -r";
    if (p.attenuation_db != 0.0) text += format(" -a {:.6}", p.attenuation_db);
    if (p.beta) text += format(" -b {:.6}", *p.beta);
    if (p.phase == 0.0) {
        text += " -M";
    } else if (p.phase == 25.0) {
        text += " -I";
    } else if (p.phase == 50.0) {
        text += " -L";
    } else {
        text += format(" -p {:.6}", p.phase);
    }
    if (p.highpass_taps) {
        text += format(" -n {}", *p.highpass_taps);
    } else if (p.highpass_transition) {
        text += format(" -t {:.6}", *p.highpass_transition);
    }
    if (p.highpass_frequency > 0.0 && p.lowpass_frequency > 0.0) {
        text += format(" {:.6}-{:.6}", p.highpass_frequency, p.lowpass_frequency);
    } else if (p.highpass_frequency > 0.0) {
        text += format(" {:.6}", p.highpass_frequency);
    } else {
        text += format(" -{:.6}", p.lowpass_frequency);
    }
    if (p.lowpass_taps && p.lowpass_taps != p.highpass_taps) {
        text += format(" -n {}", *p.lowpass_taps);
    } else if (p.lowpass_transition && p.lowpass_transition != p.highpass_transition) {
        text += format(" -t {:.6}", *p.lowpass_transition);
    }
    return text;
}

}  // namespace

ParseResult sinc(const EffectArgs& args) {
    SincParams p;
    bool have_cutoffs = false;
    bool have_attenuation = false;
    for (std::size_t k = 1; k <= args.size(); ++k) {
        const std::string& token = args[k];
        if (token.size() != 2 || token[0] != '-' || std::string_view("rabpMILnt").find(token[1]) == std::string_view::npos) {
            if (have_cutoffs) {
                return fail(args.arity(format("Unexpected argument: {}", token)));
            }
            auto cutoffs = read_cutoffs(args, token);
            if (!cutoffs) {
                return fail(std::move(cutoffs.error()));
            }
            p.highpass_frequency = cutoffs->highpass;
            p.lowpass_frequency = cutoffs->lowpass;
            have_cutoffs = true;
            continue;
        }
        const char option = token[1];
        switch (option) {
            case 'r': p.round = true; continue;
            case 'M': p.phase = 0.0; continue;
            case 'I': p.phase = 25.0; continue;
            case 'L': p.phase = 50.0; continue;
            default: break;
        }
        std::string_view missing;
        switch (option) {
            case 'a': missing = "-a requires an attenuation value"; break;
            case 'b': missing = "-b requires a beta value"; break;
            case 'p': missing = "-p requires a phase value"; break;
            case 'n': missing = "-n requires a tap count"; break;
            default: missing = "-t requires a transition bandwidth"; break;
        }
        auto value_token = option_value(args, k++, missing);
        if (!value_token) {
            return fail(std::move(value_token.error()));
        }
        const std::string& value = **value_token;
        if (option == 'n') {
            const auto taps = read_tap_count(value);
            if (!taps) {
                return fail(args.unit(value, "invalid tap count"));
            }
            if (*taps < 11 || *taps > 32767) {
                return fail(args.unit(value, "tap count must be between 11 and 32767"));
            }
            // Before the cutoffs a value sets both edges; the last one anywhere sets the low-pass edge.
            if (!have_cutoffs) p.highpass_taps = *taps;
            p.lowpass_taps = *taps;
            continue;
        }
        if (option == 't') {
            const auto hz = read_khz(value);
            // An infinite width passes "at least 1 Hz" but makes the Kaiser parameter NaN.
            if (!hz || std::isinf(*hz)) {
                return fail(args.unit(value, format("invalid frequency: {}", value)));
            }
            if (!(*hz >= 1.0)) {
                return fail(args.unit(value, "transition bandwidth must be at least 1 Hz"));
            }
            if (!have_cutoffs) p.highpass_transition = *hz;
            p.lowpass_transition = *hz;
            continue;
        }
        std::expected<double, EffectError> number =
            option == 'a'   ? sinc_number(args, value, "invalid attenuation", 40.0, 180.0,
                                          "attenuation must be between 40 and 180")
            : option == 'b' ? sinc_number(args, value, "invalid beta", 0.0, 256.0, "beta must be between 0 and 256")
                            : sinc_number(args, value, "invalid phase", 0.0, 100.0, "phase must be between 0 and 100");
        if (!number) {
            return fail(std::move(number.error()));
        }
        if (option == 'a') {
            p.attenuation_db = *number;
            have_attenuation = true;
        } else if (option == 'b') {
            p.beta = *number;
        } else {
            p.phase = *number;
        }
    }
    if (!have_cutoffs) {
        return fail(args.arity("Missing cutoff frequency"));
    }
    if (have_attenuation && p.beta) {
        return fail(args.flag("-b", "-a and -b are mutually exclusive"));
    }
    if ((p.highpass_transition && p.highpass_taps) || (p.lowpass_transition && p.lowpass_taps)) {
        return fail(args.flag("-n", "-t and -n are mutually exclusive for the same side"));
    }
    std::string text = sinc_text(p);
    return parsed<EffectKind::sinc>(std::move(p), std::move(text));
}

ParseResult hilbert(const EffectArgs& args) {
    HilbertParams p;
    for (std::size_t k = 1; k <= args.size(); k += 2) {
        if (args[k] != "-n") {
            return fail(args.unsupported(format("Unexpected argument: {}", args[k]), "supported options: -n taps"));
        }
        auto value = option_value(args, k, "-n requires a tap count");
        if (!value) {
            return fail(std::move(value.error()));
        }
        const auto taps = read_tap_count(**value);
        if (!taps) {
            return fail(args.unit(**value, "invalid tap count"));
        }
        p.taps = *taps;
    }
    // The default needs no check; a given count is checked once, after the last pair.
    if (!args.empty()) {
        if (p.taps < 3 || p.taps > 32767) {
            return fail(args.unit(format("{}", p.taps), "taps must be in range [3, 32767]"));
        }
        if (p.taps % 2 == 0) {
            return fail(args.unit(format("{}", p.taps), "taps must be odd"));
        }
    }
    return parsed<EffectKind::hilbert>(p, format("hilbert -n {}", p.taps));
}

ParseResult loudness(const EffectArgs& args) {
    LoudnessParams p;
    if (args.size() >= 1) {
        auto gain = read_unit_value(args, args[1], "invalid gain");
        if (!gain) {
            return fail(std::move(gain.error()));
        }
        p.gain_db = *gain;
    }
    if (args.size() >= 2) {
        auto reference = read_unit_value(args, args[2], "invalid reference");
        if (!reference) {
            return fail(std::move(reference.error()));
        }
        p.reference_db = *reference;
    }
    if (args.size() >= 3) {
        const auto half_taps = read_tap_count(args[3]);
        if (!half_taps) {
            return fail(args.unit(args[3], "invalid tap count"));
        }
        p.half_taps = *half_taps;
    }
    if (args.size() >= 4) {
        return fail(args.arity("too many arguments"));
    }
    if (!in_closed(p.gain_db, -50.0, 15.0)) {
        return fail(args.unit(format("{}", p.gain_db), "gain must be in range [-50, 15]"));
    }
    if (!in_closed(p.reference_db, 50.0, 75.0)) {
        return fail(args.unit(format("{}", p.reference_db), "reference must be in range [50, 75]"));
    }
    if (p.half_taps < 127 || p.half_taps > 2047) {
        return fail(args.unit(format("{}", p.half_taps), "half-taps must be in range [127, 2047]"));
    }
    return parsed<EffectKind::loudness>(p, format("loudness {:.6} {:.6} {}", p.gain_db, p.reference_db, p.half_taps));
}

}  // namespace corvala::audio::grammars
