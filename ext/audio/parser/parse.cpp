#include "ext/audio/parser/parse.h"

#include <array>
#include <vector>

#include "ext/audio/parser/format.h"
#include "ext/audio/parser/grammars/grammars.h"
#include "ext/audio/parser/tokenizer.h"
#include "ext/audio/parser/unicode_case.h"

namespace corvala::audio {

namespace {

constexpr std::string_view SUPPORTED_EFFECTS_HINT =
    "supported effects: gain, norm, equalizer, highpass, lowpass, bandpass, bandreject, allpass, bass, "
    "treble, pitch, tempo, rate, vol, dcshift, contrast, overdrive, compand, mcompand, echo, echos, "
    "flanger, phaser, chorus, reverb, fade, reverse, sinc, hilbert, loudness, tremolo, speed, stretch";

struct EffectName {
    std::string_view name;
    Grammar grammar;
};

constexpr std::array<EffectName, 34> EFFECT_NAMES{{
    {"gain", grammars::gain}, {"norm", grammars::norm}, {"vol", grammars::vol},
    {"dcshift", grammars::dcshift}, {"contrast", grammars::contrast}, {"overdrive", grammars::overdrive},
    {"fade", grammars::fade}, {"reverse", grammars::reverse}, {"tremolo", grammars::tremolo},
    {"equalizer", grammars::equalizer}, {"highpass", grammars::highpass}, {"lowpass", grammars::lowpass},
    {"bandpass", grammars::bandpass}, {"bandreject", grammars::bandreject}, {"band", grammars::band},
    {"allpass", grammars::allpass}, {"bass", grammars::bass}, {"treble", grammars::treble},
    {"compand", grammars::compand}, {"mcompand", grammars::mcompand}, {"echo", grammars::echo},
    {"echos", grammars::echos}, {"chorus", grammars::chorus}, {"flanger", grammars::flanger},
    {"phaser", grammars::phaser}, {"reverb", grammars::reverb}, {"pitch", grammars::pitch},
    {"tempo", grammars::tempo}, {"speed", grammars::speed}, {"stretch", grammars::stretch},
    {"rate", grammars::rate}, {"sinc", grammars::sinc}, {"hilbert", grammars::hilbert},
    {"loudness", grammars::loudness},
}};

}  // namespace

ParseResult grammars::not_built(const EffectArgs& args) {
    return std::unexpected(args.unsupported(format("{} is not available in this build", args.name()),
                                            std::string(SUPPORTED_EFFECTS_HINT)));
}

ParseResult parse_effect(std::string_view text) {
    const std::vector<std::string> tokens = split_effect_tokens(text);
    if (tokens.empty()) {
        return std::unexpected(EffectError::input("Empty effect string"));
    }
    const std::string name = unicode_lower(tokens[0]);
    for (const EffectName& entry : EFFECT_NAMES) {
        if (entry.name == name) {
            return entry.grammar(EffectArgs(entry.name, tokens, text));
        }
    }
    return std::unexpected(EffectError::unsupported(name, format("Unknown effect: {}", name),
                                                    std::string(SUPPORTED_EFFECTS_HINT), std::string(text)));
}

std::expected<EffectList, EffectError> parse_effect_chain(std::span<const std::string> chain) {
    EffectList effects;
    effects.reserve(chain.size());
    for (const std::string& text : chain) {
        ParseResult parsed = parse_effect(text);
        if (!parsed) {
            return std::unexpected(std::move(parsed.error()));
        }
        effects.push_back(std::move(parsed->spec));
    }
    return effects;
}

}  // namespace corvala::audio
