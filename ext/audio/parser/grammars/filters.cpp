// Grammars of the biquad filter effects.
#include <string>
#include <string_view>

#include "ext/audio/parser/format.h"
#include "ext/audio/parser/grammars/common.h"
#include "ext/audio/parser/grammars/grammars.h"
#include "ext/audio/parser/readers.h"

namespace corvala::audio::grammars {

namespace {

// highpass and lowpass: [-1|-2] frequency [width].
template <EffectKind K>
ParseResult pass_filter(const EffectArgs& args) {
    const std::string_view name = args.name();
    if (args.empty()) {
        return fail(args.arity(format("{} takes at least frequency argument", name)));
    }
    PassParams p;
    std::size_t k = 1;
    if (args[1] == "-1" || args[1] == "-2") {
        p.poles = args[1] == "-1" ? 1 : 2;
        k = 2;
    }
    if (k > args.size()) {
        return fail(args.arity(format("{} missing frequency argument", name)));
    }
    auto frequency = checked_frequency(args, args[k]);
    if (!frequency) {
        return fail(std::move(frequency.error()));
    }
    p.frequency = *frequency;
    if (++k <= args.size()) {
        if (p.poles == 1) {
            return fail(args.unsupported("width allowed only with -2", "remove width or use -2"));
        }
        auto width = checked_width(args, args[k], WidthUnit::q, k);
        if (!width) {
            return fail(std::move(width.error()));
        }
        p.width = *width;
    }
    if (++k <= args.size()) {
        return fail(args.arity(format("{} takes at most 3 arguments", name)));
    }
    std::string text = format("{} -{} {:.6}", name, p.poles, p.frequency);
    if (p.width) {
        text += format(" {}{}", p.width->value, unit_letter(p.width->unit));
    }
    return parsed<K>(p, std::move(text));
}

// bass and treble: gain [frequency [width]].
template <EffectKind K>
ParseResult shelf(const EffectArgs& args, double default_frequency) {
    const std::string_view name = args.name();
    if (args.empty()) {
        return fail(args.arity(format("{} takes at least 1 argument: gain [frequency [width]]", name)));
    }
    ShelfParams p;
    p.frequency = default_frequency;
    auto gain = finite_db(args, args[1]);
    if (!gain) {
        return fail(std::move(gain.error()));
    }
    p.gain_db = *gain;
    if (args.size() >= 2) {
        auto frequency = checked_frequency(args, args[2]);
        if (!frequency) {
            return fail(std::move(frequency.error()));
        }
        p.frequency = *frequency;
    }
    if (args.size() >= 3) {
        auto width = checked_width(args, args[3], WidthUnit::slope, 3);
        if (!width) {
            return fail(std::move(width.error()));
        }
        p.width = *width;
    }
    if (args.size() > 3) {
        return fail(args.arity(format("{} takes at most 3 arguments", name)));
    }
    return parsed<K>(p, format("{} {:.6} {:.6} {:.6}{}", name, p.gain_db, p.frequency, p.width.value,
                               unit_letter(p.width.unit)));
}

}  // namespace

ParseResult equalizer(const EffectArgs& args) {
    if (args.size() != 3) {
        return fail(args.arity("equalizer takes exactly 3 arguments: frequency width gain"));
    }
    auto frequency = checked_frequency(args, args[1]);
    if (!frequency) {
        return fail(std::move(frequency.error()));
    }
    auto width = checked_width(args, args[2], WidthUnit::q, 2);
    if (!width) {
        return fail(std::move(width.error()));
    }
    auto gain = finite_db(args, args[3]);
    if (!gain) {
        return fail(std::move(gain.error()));
    }
    const EqualizerParams p{*frequency, *width, *gain};
    return parsed<EffectKind::equalizer>(
        p, format("equalizer {:.6} {}{} {:.6}", p.frequency, p.width.value, unit_letter(p.width.unit), p.gain_db));
}

ParseResult highpass(const EffectArgs& args) { return pass_filter<EffectKind::highpass>(args); }
ParseResult lowpass(const EffectArgs& args) { return pass_filter<EffectKind::lowpass>(args); }

ParseResult bandpass(const EffectArgs& args) {
    if (args.empty()) {
        return fail(args.arity("bandpass takes at least frequency and width arguments"));
    }
    BandpassParams p;
    std::size_t k = 1;
    if (args[1] == "-c") {
        p.constant_skirt = true;
        k = 2;
    }
    if (args.size() < k + 1) {
        return fail(args.arity("bandpass takes frequency and width arguments"));
    }
    auto frequency = checked_frequency(args, args[k]);
    if (!frequency) {
        return fail(std::move(frequency.error()));
    }
    auto width = checked_width(args, args[k + 1], WidthUnit::hz, k + 1);
    if (!width) {
        return fail(std::move(width.error()));
    }
    if (args.size() > k + 1) {
        return fail(args.arity("bandpass takes at most 3 arguments"));
    }
    p.frequency = *frequency;
    p.width = *width;
    return parsed<EffectKind::bandpass>(p, format(p.constant_skirt ? "bandpass -c {:.6} {:.6}{}" : "bandpass {:.6} {:.6}{}",
                                                  p.frequency, p.width.value, unit_letter(p.width.unit)));
}

ParseResult bandreject(const EffectArgs& args) {
    if (args.empty()) {
        return fail(args.arity("bandreject takes frequency and width arguments"));
    }
    auto frequency = checked_frequency(args, args[1]);
    if (!frequency) {
        return fail(std::move(frequency.error()));
    }
    if (args.size() < 2) {
        return fail(args.arity("bandreject takes frequency and width arguments"));
    }
    auto width = checked_width(args, args[2], WidthUnit::hz, 2);
    if (!width) {
        return fail(std::move(width.error()));
    }
    if (args.size() > 2) {
        return fail(args.arity("bandreject takes at most 2 arguments"));
    }
    const BandrejectParams p{*frequency, *width};
    return parsed<EffectKind::bandreject>(
        p, format("bandreject {:.6} {:.6}{}", p.frequency, p.width.value, unit_letter(p.width.unit)));
}

ParseResult allpass(const EffectArgs& args) {
    if (args.size() != 2) {
        return fail(args.arity("allpass takes exactly 2 arguments: frequency width"));
    }
    auto frequency = checked_frequency(args, args[1]);
    if (!frequency) {
        return fail(std::move(frequency.error()));
    }
    auto width = checked_width(args, args[2], WidthUnit::q, 2);
    if (!width) {
        return fail(std::move(width.error()));
    }
    if (width->unit == WidthUnit::slope) {
        return fail(args.unit(args[2], format("allpass width unit must be one of [h, k, o, q]: {}",
                                              unit_letter(width->unit))));
    }
    const AllpassParams p{*frequency, *width};
    return parsed<EffectKind::allpass>(
        p, format("allpass {:.6} {}{}", p.frequency, p.width.value, unit_letter(p.width.unit)));
}

ParseResult bass(const EffectArgs& args) { return shelf<EffectKind::bass>(args, 100.0); }
ParseResult treble(const EffectArgs& args) { return shelf<EffectKind::treble>(args, 3000.0); }

ParseResult band(const EffectArgs& args) {
    BandParams p;
    std::size_t k = 1;
    if (!args.empty() && args[1] == "-n") {
        p.noise = true;
        k = 2;
    }
    if (k > args.size()) {
        return fail(args.arity("Missing center frequency"));
    }
    // No range or positivity checks, but inf and NaN are refused: they would make the
    // resonator's coefficients NaN.
    auto frequency = finite_frequency(args, args[k]);
    if (!frequency) {
        return fail(std::move(frequency.error()));
    }
    p.frequency = *frequency;
    p.width = Width{p.frequency / 2.0, WidthUnit::hz};
    if (++k <= args.size()) {
        // Index 2 even after -n.
        auto width = finite_width(args, args[k], WidthUnit::hz, 2);
        if (!width) {
            return fail(std::move(width.error()));
        }
        p.width = *width;
    }
    std::string text = p.noise ? "band -n" : "band";
    text += format(" {:.6} {:.6}{}", p.frequency, p.width.value, unit_letter(p.width.unit));
    return parsed<EffectKind::band>(p, std::move(text));
}

}  // namespace corvala::audio::grammars
