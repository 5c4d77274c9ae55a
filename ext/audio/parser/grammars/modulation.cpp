// Grammars of the delay, modulation and reverb effects.
#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "ext/audio/parser/format.h"
#include "ext/audio/parser/grammars/common.h"
#include "ext/audio/parser/grammars/grammars.h"
#include "ext/audio/parser/unicode_case.h"

namespace corvala::audio::grammars {

namespace {

// A numeric field of a parameter record and how its argument is checked.
template <typename P>
struct Field {
    double P::* member;
    CheckedValue check;
};

std::string_view modulation_flag(Waveform w) { return w == Waveform::sine ? "-s" : "-t"; }

// --- echo, echos ----------------------------------------------------------------------------

constexpr CheckedValue ECHO_GAIN_IN{"invalid gain-in", "must be a float [0, 1]", 0.0, 1.0, false,
                                    "gain-in {} out of range [0, 1]", "must be a float [0, 1]"};
constexpr CheckedValue ECHO_GAIN_OUT{"invalid gain-out", "must be a float >= 0", 0.0, NO_LIMIT, false,
                                     "gain-out {} must be >= 0", "must be a float >= 0"};
constexpr std::array<Field<EchoTap>, 2> ECHO_TAP{{
    {&EchoTap::delay_ms, {"invalid delay", "must be a positive float (ms)", 0.0, NO_LIMIT, true,
                          "delay {} must be > 0", "must be a positive float (ms)"}},
    {&EchoTap::decay, {"invalid decay", "must be a float [0, 1]", 0.0, 1.0, false,
                       "decay {} out of range [0, 1]", "must be a float [0, 1]"}},
}};
constexpr std::size_t MAX_TAPS = 7;

template <EffectKind K>
ParseResult echo_family(const EffectArgs& args) {
    if (args.size() < 4 || args.size() % 2 != 0) {
        return std::unexpected(args.arity(format("{} gain-in gain-out delay decay [delay decay ...]", args.name())));
    }
    EchoParams p;
    auto gain_in = read_checked(args, 1, ECHO_GAIN_IN);
    if (!gain_in) return std::unexpected(std::move(gain_in.error()));
    auto gain_out = read_checked(args, 2, ECHO_GAIN_OUT);
    if (!gain_out) return std::unexpected(std::move(gain_out.error()));
    p.gain_in = *gain_in;
    p.gain_out = *gain_out;
    std::size_t k = 3;
    while (k <= args.size()) {
        EchoTap tap;
        for (const Field<EchoTap>& field : ECHO_TAP) {
            auto value = read_checked(args, k++, field.check);
            if (!value) return std::unexpected(std::move(value.error()));
            tap.*field.member = *value;
        }
        p.taps.push_back(tap);
    }
    if (p.taps.size() > MAX_TAPS) {
        return std::unexpected(args.parse(std::nullopt, std::nullopt,
                                          format("max 7 taps for {}, found {}", args.name(), p.taps.size()),
                                          "reduce the number of delay/decay pairs"));
    }
    std::string text = format("{} {:.6} {:.6}", args.name(), p.gain_in, p.gain_out);
    for (const EchoTap& tap : p.taps) text += format(" {:.6} {:.6}", tap.delay_ms, tap.decay);
    return ParsedEffect{EffectSpec::make<K>(std::move(p)), std::move(text)};
}

// --- chorus ---------------------------------------------------------------------------------

constexpr CheckedValue CHORUS_GAIN_IN{"invalid gain-in", "must be a float [0, 1]", 0.0, 1.0, false,
                                      "gain-in {} out of range [0, 1]", "must be between 0 and 1"};
constexpr CheckedValue CHORUS_GAIN_OUT{"invalid gain-out", "must be a float >= 0", 0.0, NO_LIMIT, false,
                                       "gain-out {} must be positive", "must be >= 0"};
constexpr std::array<Field<ChorusVoice>, 4> CHORUS_VOICE{{
    {&ChorusVoice::delay_ms, {"invalid delay", "must be a float [20, 100] (ms)", 20.0, 100.0, false,
                              "delay {} out of range [20, 100]", "must be between 20 and 100 ms"}},
    {&ChorusVoice::decay, {"invalid decay", "must be a float [0, 1]", 0.0, 1.0, false,
                           "decay {} out of range [0, 1]", "must be between 0 and 1"}},
    {&ChorusVoice::speed, {"invalid speed", "must be a float [0.1, 5] (Hz)", 0.1, 5.0, false,
                           "speed {} out of range [0.1, 5]", "must be between 0.1 and 5 Hz"}},
    {&ChorusVoice::depth_ms, {"invalid depth", "must be a float [0, 10] (ms)", 0.0, 10.0, false,
                              "depth {} out of range [0, 10]", "must be between 0 and 10 ms"}},
}};
constexpr std::size_t CHORUS_VOICE_ARGS = CHORUS_VOICE.size() + 1;  // the numbers and -s|-t
constexpr std::size_t MAX_VOICES = 7;

// --- flanger --------------------------------------------------------------------------------

struct FlangerNumber {
    std::size_t position;
    Field<FlangerParams> field;
};

constexpr std::array<FlangerNumber, 6> FLANGER_NUMBERS{{
    {1, {&FlangerParams::delay, {"invalid delay", "must be a float [0, 30] (ms)", 0.0, 30.0, false,
                                 "delay {} out of range [0, 30]", "must be between 0 and 30 ms"}}},
    {2, {&FlangerParams::depth, {"invalid depth", "must be a float [0, 10] (ms)", 0.0, 10.0, false,
                                 "depth {} out of range [0, 10]", "must be between 0 and 10 ms"}}},
    {3, {&FlangerParams::regen, {"invalid regen", "must be a float [-95, 95] (%)", -95.0, 95.0, false,
                                 "regen {} out of range [-95, 95]", "must be between -95 and 95 percent"}}},
    {4, {&FlangerParams::width, {"invalid width", "must be a float [0, 100] (%)", 0.0, 100.0, false,
                                 "width {} out of range [0, 100]", "must be between 0 and 100 percent"}}},
    {5, {&FlangerParams::speed, {"invalid speed", "must be a float [0.1, 10] (Hz)", 0.1, 10.0, false,
                                 "speed {} out of range [0.1, 10]", "must be between 0.1 and 10 Hz"}}},
    {7, {&FlangerParams::phase, {"invalid phase", "must be a float [0, 100] (%)", 0.0, 100.0, false,
                                 "phase {} out of range [0, 100]", "must be between 0 and 100 percent"}}},
}};
constexpr std::size_t FLANGER_SHAPE_POSITION = 6;
constexpr std::size_t FLANGER_INTERPOLATION_POSITION = 8;
constexpr std::size_t FLANGER_MAX_ARGS = 8;

template <typename E>
struct Word {
    std::string_view word;
    E value;
};

constexpr std::array<Word<Waveform>, 4> SHAPE_WORDS{{
    {"sine", Waveform::sine}, {"sin", Waveform::sine}, {"triangle", Waveform::triangle}, {"tri", Waveform::triangle},
}};
constexpr std::array<Word<Interpolation>, 4> INTERPOLATION_WORDS{{
    {"linear", Interpolation::linear}, {"lin", Interpolation::linear},
    {"quadratic", Interpolation::quadratic}, {"quad", Interpolation::quadratic},
}};

template <typename E, std::size_t N>
const Word<E>* find_word(const std::array<Word<E>, N>& words, const std::string& token) {
    const std::string lower = unicode_lower(token);
    const auto it = std::find_if(words.begin(), words.end(), [&](const Word<E>& w) { return w.word == lower; });
    return it == words.end() ? nullptr : &*it;
}

// --- phaser ---------------------------------------------------------------------------------

constexpr std::array<Field<PhaserParams>, 5> PHASER_NUMBERS{{
    {&PhaserParams::gain_in, {"invalid gain-in", "must be a float [0, 1]", 0.0, 1.0, false,
                              "gain-in {} out of range [0, 1]", "must be between 0 and 1"}},
    {&PhaserParams::gain_out, {"invalid gain-out", "must be a float >= 0", 0.0, NO_LIMIT, false,
                               "gain-out {} must be >= 0", "must be positive"}},
    {&PhaserParams::delay, {"invalid delay", "must be a float [0, 5] (ms)", 0.0, 5.0, false,
                            "delay {} out of range [0, 5]", "must be between 0 and 5 ms"}},
    {&PhaserParams::decay, {"invalid decay", "must be a float [0, 0.99]", 0.0, 0.99, false,
                            "decay {} out of range [0, 0.99]", "must be between 0 and 0.99"}},
    {&PhaserParams::speed, {"invalid speed", "must be a float [0.1, 2.0] (Hz)", 0.1, 2.0, false,
                            "speed {} out of range [0.1, 2.0]", "must be between 0.1 and 2 Hz"}},
}};

// --- reverb ---------------------------------------------------------------------------------

constexpr std::array<Field<ReverbParams>, 6> REVERB_NUMBERS{{
    {&ReverbParams::reverberance, {"invalid reverberance", "must be a float [0, 100]", 0.0, 100.0, false,
                                   "reverberance {} out of range [0, 100]", "must be between 0 and 100"}},
    {&ReverbParams::hf_damping, {"invalid HF-damping", "must be a float [0, 100]", 0.0, 100.0, false,
                                 "HF-damping {} out of range [0, 100]", "must be between 0 and 100"}},
    {&ReverbParams::room_scale, {"invalid room-scale", "must be a float [0, 100]", 0.0, 100.0, false,
                                 "room-scale {} out of range [0, 100]", "must be between 0 and 100"}},
    {&ReverbParams::stereo_depth, {"invalid stereo-depth", "must be a float [0, 100]", 0.0, 100.0, false,
                                   "stereo-depth {} out of range [0, 100]", "must be between 0 and 100"}},
    {&ReverbParams::pre_delay, {"invalid pre-delay", "must be a float [0, 500] (ms)", 0.0, 500.0, false,
                                "pre-delay {} out of range [0, 500]", "must be between 0 and 500 ms"}},
    {&ReverbParams::wet_gain, {"invalid wet-gain", "must be a float [-10, 10] (dB)", -10.0, 10.0, false,
                               "wet-gain {} out of range [-10, 10]", "must be between -10 and 10 dB"}},
}};

}  // namespace

ParseResult echo(const EffectArgs& args) { return echo_family<EffectKind::echo>(args); }
ParseResult echos(const EffectArgs& args) { return echo_family<EffectKind::echos>(args); }

ParseResult chorus(const EffectArgs& args) {
    if (args.size() < 2 + CHORUS_VOICE_ARGS || (args.size() - 2) % CHORUS_VOICE_ARGS != 0) {
        return std::unexpected(args.arity("chorus gain-in gain-out <delay decay speed depth -s|-t>"));
    }
    ChorusParams p;
    auto gain_in = read_checked(args, 1, CHORUS_GAIN_IN);
    if (!gain_in) return std::unexpected(std::move(gain_in.error()));
    auto gain_out = read_checked(args, 2, CHORUS_GAIN_OUT);
    if (!gain_out) return std::unexpected(std::move(gain_out.error()));
    p.gain_in = *gain_in;
    p.gain_out = *gain_out;
    std::size_t k = 3;
    while (k <= args.size()) {
        ChorusVoice voice;
        for (const Field<ChorusVoice>& field : CHORUS_VOICE) {
            auto value = read_checked(args, k++, field.check);
            if (!value) return std::unexpected(std::move(value.error()));
            voice.*field.member = *value;
        }
        const std::string& flag = args[k++];
        if (flag == "-s") {
            voice.modulation = Waveform::sine;
        } else if (flag == "-t") {
            voice.modulation = Waveform::triangle;
        } else {
            return std::unexpected(args.flag(flag, "invalid modulation flag (must be -s or -t)"));
        }
        p.voices.push_back(voice);
    }
    if (p.voices.size() > MAX_VOICES) {
        return std::unexpected(args.parse(std::nullopt, std::nullopt,
                                          format("max 7 voices for chorus, found {}", p.voices.size()),
                                          "reduce the number of voice parameters"));
    }
    std::string text = format("chorus {:.6} {:.6}", p.gain_in, p.gain_out);
    for (const ChorusVoice& v : p.voices) {
        text += format(" {:.6} {:.6} {:.6} {:.6} {}", v.delay_ms, v.decay, v.speed, v.depth_ms,
                       modulation_flag(v.modulation));
    }
    return ParsedEffect{EffectSpec::make<EffectKind::chorus>(std::move(p)), std::move(text)};
}

ParseResult flanger(const EffectArgs& args) {
    if (args.size() > FLANGER_MAX_ARGS) {
        return std::unexpected(args.arity("flanger [delay depth regen width speed shape phase interp]"));
    }
    FlangerParams p;
    for (std::size_t k = 1; k <= args.size(); ++k) {
        const std::string& token = args[k];
        if (k == FLANGER_SHAPE_POSITION) {
            const auto* word = find_word(SHAPE_WORDS, token);
            if (word == nullptr) {
                return std::unexpected(args.parse(k, token, format("invalid wave shape: {}", token),
                                                  "must be sine or triangle"));
            }
            p.shape = word->value;
        } else if (k == FLANGER_INTERPOLATION_POSITION) {
            const auto* word = find_word(INTERPOLATION_WORDS, token);
            if (word == nullptr) {
                return std::unexpected(args.parse(k, token, format("invalid interpolation: {}", token),
                                                  "must be linear or quadratic"));
            }
            p.interpolation = word->value;
        } else {
            const auto item = std::find_if(FLANGER_NUMBERS.begin(), FLANGER_NUMBERS.end(),
                                           [k](const FlangerNumber& n) { return n.position == k; });
            auto value = read_checked(args, k, item->field.check);
            if (!value) return std::unexpected(std::move(value.error()));
            p.*item->field.member = *value;
        }
    }
    std::string text = format("flanger {:.6} {:.6} {:.6} {:.6} {:.6} {} {:.6} {}", p.delay, p.depth, p.regen,
                              p.width, p.speed, p.shape == Waveform::sine ? "sine" : "triangle", p.phase,
                              p.interpolation == Interpolation::linear ? "linear" : "quadratic");
    return ParsedEffect{EffectSpec::make<EffectKind::flanger>(p), std::move(text)};
}

ParseResult phaser(const EffectArgs& args) {
    static constexpr std::string_view ARITY = "phaser [gain-in gain-out delay decay speed [-s|-t]]";
    PhaserParams p;
    // The whole token list is scanned for its shape before any number is read.
    std::vector<std::size_t> numbers;
    bool flag_seen = false;
    for (std::size_t k = 1; k <= args.size(); ++k) {
        const std::string& token = args[k];
        if (token == "-s" || token == "-t") {
            if (flag_seen) {
                return std::unexpected(args.flag(token, "duplicate or multiple modulation flags"));
            }
            flag_seen = true;
            p.modulation = token == "-s" ? Waveform::sine : Waveform::triangle;
        } else if (flag_seen || numbers.size() == PHASER_NUMBERS.size()) {
            return std::unexpected(args.arity(std::string(ARITY)));
        } else {
            numbers.push_back(k);
        }
    }
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        auto value = read_checked(args, numbers[i], PHASER_NUMBERS[i].check);
        if (!value) return std::unexpected(std::move(value.error()));
        p.*PHASER_NUMBERS[i].member = *value;
    }
    std::string text = format("phaser {:.6} {:.6} {:.6} {:.6} {:.6} {}", p.gain_in, p.gain_out, p.delay, p.decay,
                              p.speed, modulation_flag(p.modulation));
    return ParsedEffect{EffectSpec::make<EffectKind::phaser>(p), std::move(text)};
}

ParseResult reverb(const EffectArgs& args) {
    ReverbParams p;
    std::size_t first = 1;
    if (!args.empty() && (args[1] == "-w" || args[1] == "--wet-only")) {
        p.wet_only = true;
        first = 2;
    }
    if (args.size() + 1 - first > REVERB_NUMBERS.size()) {
        return std::unexpected(args.arity(
            "reverb [-w|--wet-only] [reverberance [HF-damping [room-scale [stereo-depth [pre-delay [wet-gain]]]]]]"));
    }
    for (std::size_t k = first; k <= args.size(); ++k) {
        const Field<ReverbParams>& field = REVERB_NUMBERS[k - first];
        auto value = read_checked(args, k, field.check);
        if (!value) return std::unexpected(std::move(value.error()));
        p.*field.member = *value;
    }
    std::string text = format("reverb {}{:.6} {:.6} {:.6} {:.6} {:.6} {:.6}", p.wet_only ? "-w " : "",
                              p.reverberance, p.hf_damping, p.room_scale, p.stereo_depth, p.pre_delay, p.wet_gain);
    return ParsedEffect{EffectSpec::make<EffectKind::reverb>(p), std::move(text)};
}

}  // namespace corvala::audio::grammars
