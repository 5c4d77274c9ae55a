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

// Grammars not built yet report themselves as unavailable instead of guessing.
ParseResult unavailable(const EffectArgs& args) {
    return std::unexpected(args.unsupported(format("{} is not available in this build", args.name()),
                                            std::string(SUPPORTED_EFFECTS_HINT)));
}

constexpr std::array<EffectName, 34> EFFECT_NAMES{{
    {"gain", grammars::gain},         {"norm", grammars::norm},       {"vol", unavailable},
    {"dcshift", unavailable},         {"contrast", unavailable},      {"overdrive", unavailable},
    {"fade", unavailable},            {"reverse", unavailable},       {"tremolo", unavailable},
    {"equalizer", unavailable},       {"highpass", unavailable},      {"lowpass", unavailable},
    {"bandpass", unavailable},        {"bandreject", unavailable},    {"band", unavailable},
    {"allpass", unavailable},         {"bass", unavailable},          {"treble", unavailable},
    {"compand", unavailable},         {"mcompand", unavailable},      {"echo", unavailable},
    {"echos", unavailable},           {"chorus", unavailable},        {"flanger", unavailable},
    {"phaser", unavailable},          {"reverb", unavailable},        {"pitch", unavailable},
    {"tempo", unavailable},           {"speed", unavailable},         {"stretch", unavailable},
    {"rate", unavailable},            {"sinc", unavailable},          {"hilbert", unavailable},
    {"loudness", unavailable},
}};

}  // namespace

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
