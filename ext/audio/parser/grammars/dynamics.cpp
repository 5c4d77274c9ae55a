// Grammars of the compander effects.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "ext/audio/parser/format.h"
#include "ext/audio/parser/grammars/common.h"
#include "ext/audio/parser/grammars/grammars.h"
#include "ext/audio/parser/numbers.h"
#include "ext/audio/parser/readers.h"
#include "ext/audio/parser/tokenizer.h"

namespace corvala::audio::grammars {

namespace {

constexpr double MINUS_INF = -std::numeric_limits<double>::infinity();

// One compander's settings and its text; mcompand prints the text of each band inside its own.
struct CompandBand {
    CompandParams params;
    std::string text;
};

std::vector<std::string> split_commas(std::string_view text) {
    std::vector<std::string> pieces;
    for (std::size_t start = 0;;) {
        const std::size_t comma = text.find(',', start);
        pieces.emplace_back(text.substr(start, comma - start));
        if (comma == std::string_view::npos) {
            return pieces;
        }
        start = comma + 1;
    }
}

std::string band_text(const CompandParams& p) {
    std::string times;
    for (const AttackDecay& pair : p.attack_decay) {
        if (!times.empty()) times += ',';
        times += format("{:.6},{:.6}", pair.attack, pair.decay);
    }
    // fixed6 prints minus infinity as -inf, the form the transfer list accepts.
    std::string points = p.soft_knee_db ? format("{:.6}:", *p.soft_knee_db) : std::string();
    for (std::size_t i = 0; i < p.points.size(); ++i) {
        if (i > 0) points += ',';
        points += format("{:.6},{:.6}", p.points[i].input_db, p.points[i].output_db);
    }
    return format("{} {} {:.6} {:.6} {:.6}", times, points, p.gain_db, p.initial_volume_db, p.delay);
}

std::expected<void, EffectError> read_attack_decay(const EffectArgs& args, CompandParams& p) {
    const std::string& list = args[1];
    const std::vector<std::string> pieces = split_commas(list);
    if (pieces.size() % 2 != 0) {
        return std::unexpected(
            args.unit(list, format("{} attack/decay list must contain pairs: {}", args.name(), list)));
    }
    for (std::size_t i = 0; i < pieces.size(); i += 2) {
        auto attack = read_unit_value(args, pieces[i], "invalid attack value: {}");
        if (!attack) return std::unexpected(std::move(attack.error()));
        auto decay = read_unit_value(args, pieces[i + 1], "invalid decay value: {}");
        if (!decay) return std::unexpected(std::move(decay.error()));
        if (!(*attack > 0.0 && *decay > 0.0)) {
            return std::unexpected(args.unit(list, "attack and decay values must be strictly positive"));
        }
        // An infinite time would freeze the envelope; refuse it as unreadable.
        if (std::isinf(*attack)) {
            return std::unexpected(args.unit(pieces[i], format("invalid attack value: {}", pieces[i])));
        }
        if (std::isinf(*decay)) {
            return std::unexpected(args.unit(pieces[i + 1], format("invalid decay value: {}", pieces[i + 1])));
        }
        p.attack_decay.push_back({*attack, *decay});
    }
    return {};
}

std::expected<void, EffectError> read_transfer(const EffectArgs& args, CompandParams& p) {
    std::string_view list = args[2];
    if (const std::size_t colon = list.find(':'); colon != std::string_view::npos) {
        auto knee = read_finite_value(args, std::string(list.substr(0, colon)), "invalid soft-knee value: {}");
        if (!knee) return std::unexpected(std::move(knee.error()));
        p.soft_knee_db = *knee;
        list.remove_prefix(colon + 1);
    }
    const std::vector<std::string> pieces = split_commas(list);
    std::vector<double> values;
    values.reserve(pieces.size());
    for (const std::string& piece : pieces) {
        // Minus infinity is the one non-finite level a transfer function may name.
        const auto v = read_number(piece);
        if (!v || !(std::isfinite(*v) || *v == MINUS_INF)) {
            return std::unexpected(args.unit(piece, format("invalid transfer value: {}", piece)));
        }
        values.push_back(*v);
    }
    for (std::size_t i = 0; i < values.size(); i += 2) {
        const double in = values[i];
        p.points.push_back({in, i + 1 < values.size() ? values[i + 1] : in});
    }
    for (std::size_t k = 1; k < p.points.size(); ++k) {
        const double in = p.points[k].input_db;
        const double previous = p.points[k - 1].input_db;
        if (!(in > previous || in == MINUS_INF)) {
            return std::unexpected(
                args.parse(k, pieces[2 * k],
                           format("transfer function input values must be strictly increasing: {} <= {}", in, previous),
                           "ensure in-dB values are strictly increasing"));
        }
    }
    return {};
}

std::expected<void, EffectError> read_levels_and_delay(const EffectArgs& args, CompandParams& p) {
    if (args.size() >= 3) {
        auto gain = read_finite_value(args, args[3], "invalid gain value: {}");
        if (!gain) return std::unexpected(std::move(gain.error()));
        p.gain_db = *gain;
    }
    if (args.size() >= 4) {
        auto volume = read_finite_value(args, args[4], "invalid initial volume value: {}");
        if (!volume) return std::unexpected(std::move(volume.error()));
        p.initial_volume_db = *volume;
    }
    if (args.size() >= 5) {
        const std::string& token = args[5];
        auto delay = read_unit_value(args, token, "invalid delay value: {}");
        if (!delay) return std::unexpected(std::move(delay.error()));
        if (*delay < 0.0) {
            return std::unexpected(args.unit(token, "delay must be non-negative"));
        }
        // The delay becomes a ring length in samples.
        if (!std::isfinite(*delay)) {
            return std::unexpected(args.unit(token, format("invalid delay value: {}", token)));
        }
        p.delay = *delay;
    }
    return {};
}

// One compander from the tokens of `args`, under its name (compand, or mcompand for a band).
std::expected<CompandBand, EffectError> parse_compand_band(const EffectArgs& args) {
    if (args.size() < 2 || args.size() > 5) {
        return std::unexpected(args.arity(format("{} takes 2 to 5 arguments", args.name())));
    }
    CompandParams p;
    if (auto ok = read_attack_decay(args, p); !ok) return std::unexpected(std::move(ok.error()));
    if (auto ok = read_transfer(args, p); !ok) return std::unexpected(std::move(ok.error()));
    if (auto ok = read_levels_and_delay(args, p); !ok) return std::unexpected(std::move(ok.error()));
    std::string text = band_text(p);
    return CompandBand{std::move(p), std::move(text)};
}

}  // namespace

ParseResult compand(const EffectArgs& args) {
    auto band = parse_compand_band(args);
    if (!band) {
        return std::unexpected(std::move(band.error()));
    }
    std::string text = format("compand {}", band->text);
    return ParsedEffect{EffectSpec::make<EffectKind::compand>(std::move(band->params)), std::move(text)};
}

ParseResult mcompand(const EffectArgs& args) {
    if (args.size() < 3 || args.size() % 2 == 0) {
        return std::unexpected(
            args.arity("mcompand takes quoted compand args and crossover frequencies (at least 2 bands)"));
    }
    McompandParams p;
    std::string items;
    double previous_crossover = 0.0;
    for (std::size_t k = 1; k <= args.size(); ++k) {
        const std::string& token = args[k];
        if (k % 2 == 1) {
            const std::size_t band_number = (k - 1) / 2;
            // Position 0 of a band's tokens is the name slot that EffectArgs skips.
            std::vector<std::string> band_tokens{std::string(args.name())};
            for (std::string& t : split_effect_tokens(token)) band_tokens.push_back(std::move(t));
            auto band = parse_compand_band(EffectArgs(args.name(), band_tokens, args.original()));
            if (!band) {
                EffectError error = std::move(band.error());
                if (error.kind == EffectErrorKind::unit || error.kind == EffectErrorKind::parse) {
                    error.reason = format("Band {}: {}", band_number, error.reason);
                }
                return std::unexpected(std::move(error));
            }
            if (!items.empty()) items += ' ';
            items += format("\"{}\"", band->text);
            p.bands.push_back({std::move(band->params), std::nullopt});
            continue;
        }
        auto crossover = read_frequency(args, token);
        if (!crossover) {
            return std::unexpected(std::move(crossover.error()));
        }
        if (!(*crossover > 0.0 && *crossover < 8000.0)) {
            return std::unexpected(
                args.unit(token, format("crossover frequency must be between 0 and 8000 Hz: {}", token)));
        }
        if (!(*crossover > previous_crossover)) {
            return std::unexpected(args.unit(
                token, format("crossover frequencies must be strictly increasing: {} <= {}", *crossover,
                              previous_crossover)));
        }
        previous_crossover = *crossover;
        p.bands.back().crossover = *crossover;
        items += format(" {:.6}", *crossover);
    }
    const double first_delay = p.bands.front().compand.delay;
    for (const McompandBand& band : p.bands) {
        if (!(std::abs(band.compand.delay - first_delay) <= 1e-6)) {
            return std::unexpected(args.unsupported("divergent compander delays are not supported",
                                                    "ensure all compand argument strings use the same delay value"));
        }
    }
    return ParsedEffect{EffectSpec::make<EffectKind::mcompand>(std::move(p)), format("mcompand {}", items)};
}

}  // namespace corvala::audio::grammars
