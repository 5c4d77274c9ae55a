// The parsed effect model: one EffectSpec per chain string, a tagged union of the effect's kind
// and its parameter record. Units and defaults are resolved by the grammars, so processors read
// these records as they are and never re-check them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "ext/audio/parser/time_spec.h"

namespace corvala::audio {

// Order of the alternatives of EffectSpec::params.
enum class EffectKind : std::uint8_t {
    gain, equalizer, highpass, pitch, tempo, lowpass, bandpass, bandreject, allpass, bass, treble,
    rate, vol, dcshift, contrast, overdrive, compand, mcompand, chorus, echo, echos, flanger,
    phaser, reverb, fade, hilbert, loudness, tremolo, speed, stretch, band, sinc, reverse,
};

inline constexpr std::size_t EFFECT_KIND_COUNT = 33;

inline constexpr std::string_view EFFECT_KIND_NAMES[EFFECT_KIND_COUNT] = {
    "gain", "equalizer", "highpass", "pitch", "tempo", "lowpass", "bandpass", "bandreject", "allpass",
    "bass", "treble", "rate", "vol", "dcshift", "contrast", "overdrive", "compand", "mcompand", "chorus",
    "echo", "echos", "flanger", "phaser", "reverb", "fade", "hilbert", "loudness", "tremolo", "speed",
    "stretch", "band", "sinc", "reverse",
};

inline std::string_view effect_kind_name(EffectKind kind) {
    return EFFECT_KIND_NAMES[static_cast<std::size_t>(kind)];
}

// Unit of a filter width: h Hz, k kHz, o octaves, q quality factor, s shelf slope.
enum class WidthUnit : char { hz = 'h', khz = 'k', octaves = 'o', q = 'q', slope = 's' };

struct Width {
    double value = 0.0;
    WidthUnit unit = WidthUnit::q;
};

enum class Waveform : std::uint8_t { sine, triangle };

// --- level and simple effects ---------------------------------------------------------------

struct GainParams {
    double gain_db = 0.0;
    bool normalize = false;  // -n
    bool limiter = false;    // -l
    bool headroom = false;   // -h
    bool reclaim = false;    // -r
};

enum class VolType : std::uint8_t { amplitude, db, power };

struct VolParams {
    double gain = 1.0;        // linear amplitude factor
    double gain_value = 1.0;  // the number as typed
    VolType gain_type = VolType::amplitude;
    std::optional<double> limiter_gain;
};

struct DcshiftParams {
    double shift = 0.0;
    std::optional<double> limiter_gain;
};

struct ContrastParams {
    double enhancement = 75.0;
};

struct OverdriveParams {
    double gain_db = 20.0;
    double color = 20.0;
};

struct TremoloParams {
    double speed = 0.0;   // Hz
    double depth = 40.0;  // percent
};

// Values follow the shape letters q, h, l, t, p.
enum class FadeShape : std::uint8_t { quarter_sine = 0, half_sine = 1, logarithmic = 2, linear = 3, parabola = 4 };

enum class FadeAnchor : std::uint8_t {
    absolute,          // =
    after_fade_in,     // +
    before_end,        // -
};

struct FadeStop {
    FadeAnchor anchor = FadeAnchor::absolute;
    TimeSpec position;
};

struct FadeParams {
    FadeShape shape = FadeShape::logarithmic;
    TimeSpec fade_in;
    std::optional<FadeStop> stop;
    std::optional<TimeSpec> fade_out;
};

struct ReverseParams {};

// --- biquad family --------------------------------------------------------------------------

struct EqualizerParams {
    double frequency = 0.0;
    Width width;
    double gain_db = 0.0;
};

struct PassParams {  // highpass, lowpass
    int poles = 2;
    double frequency = 0.0;
    std::optional<Width> width;
};

struct BandpassParams {
    double frequency = 0.0;
    Width width;
    bool constant_skirt = false;  // -c
};

struct BandrejectParams {
    double frequency = 0.0;
    Width width;
};

struct AllpassParams {
    double frequency = 0.0;
    Width width;
};

struct ShelfParams {  // bass, treble
    double gain_db = 0.0;
    double frequency = 0.0;
    Width width{0.5, WidthUnit::slope};
};

struct BandParams {
    double frequency = 0.0;
    Width width{0.0, WidthUnit::hz};
    bool noise = false;  // -n
};

// --- FIR design effects ---------------------------------------------------------------------

struct SincParams {
    double highpass_frequency = 0.0;  // 0 when absent
    double lowpass_frequency = 0.0;   // 0 when absent
    double attenuation_db = 0.0;      // 0 when not given
    std::optional<double> beta;
    double phase = 50.0;  // percent
    bool round = false;   // -r
    std::optional<double> highpass_transition;  // Hz
    std::optional<double> lowpass_transition;   // Hz
    std::optional<std::uint32_t> highpass_taps;
    std::optional<std::uint32_t> lowpass_taps;
};

struct HilbertParams {
    std::uint32_t taps = 211;
};

struct LoudnessParams {
    double gain_db = -10.0;
    double reference_db = 65.0;
    std::uint32_t half_taps = 1023;
};

// --- dynamics -------------------------------------------------------------------------------

struct AttackDecay {
    double attack = 0.0;  // seconds
    double decay = 0.0;   // seconds
};

struct TransferPoint {
    double input_db = 0.0;  // may be -inf
    double output_db = 0.0;
};

struct CompandParams {
    std::vector<AttackDecay> attack_decay;
    std::vector<TransferPoint> points;
    std::optional<double> soft_knee_db;
    double gain_db = 0.0;
    double initial_volume_db = 0.0;
    double delay = 0.0;  // seconds
};

struct McompandBand {
    CompandParams compand;
    std::optional<double> crossover;  // Hz; closes the band, absent on the last band
};

struct McompandParams {
    std::vector<McompandBand> bands;
};

// --- delay, modulation and reverb -----------------------------------------------------------

struct EchoTap {
    double delay_ms = 0.0;
    double decay = 0.0;
};

struct EchoParams {  // echo, echos
    double gain_in = 0.0;
    double gain_out = 0.0;
    std::vector<EchoTap> taps;  // at most 7
};

struct ChorusVoice {
    double delay_ms = 0.0;
    double decay = 0.0;
    double speed = 0.0;     // Hz
    double depth_ms = 0.0;
    Waveform modulation = Waveform::sine;
};

struct ChorusParams {
    double gain_in = 0.0;
    double gain_out = 0.0;
    std::vector<ChorusVoice> voices;  // at most 7
};

enum class Interpolation : std::uint8_t { linear, quadratic };

struct FlangerParams {
    double delay = 0.0;   // ms
    double depth = 2.0;   // ms
    double regen = 0.0;   // percent
    double width = 71.0;  // percent
    double speed = 0.5;   // Hz
    Waveform shape = Waveform::sine;
    double phase = 25.0;  // percent
    Interpolation interpolation = Interpolation::linear;
};

struct PhaserParams {
    double gain_in = 0.4;
    double gain_out = 0.74;
    double delay = 3.0;  // ms
    double decay = 0.4;
    double speed = 0.5;  // Hz
    Waveform modulation = Waveform::sine;
};

struct ReverbParams {
    bool wet_only = false;
    double reverberance = 50.0;
    double hf_damping = 50.0;
    double room_scale = 100.0;
    double stereo_depth = 100.0;
    double pre_delay = 0.0;  // ms
    double wet_gain = 0.0;   // dB
};

// --- time and pitch -------------------------------------------------------------------------

struct PitchParams {
    double shift = 0.0;
    std::optional<double> segment;
    std::optional<double> search;
    std::optional<double> overlap;
    bool quick = false;  // -q
};

struct TempoParams {
    double factor = 1.0;
    std::optional<double> segment;
    std::optional<double> search;
    std::optional<double> overlap;
    std::optional<char> mode;  // 'm', 's' or 'l'
    bool quick = false;        // -q
};

struct SpeedParams {
    double factor = 1.0;  // plain ratio, cents already converted
};

struct StretchParams {
    double factor = 1.0;
    double window = 20.0;
    double shift = 0.0;
    double fading = 0.0;
};

struct RateParams {
    double rate = 0.0;   // target rate, Hz
    char quality = 'h';  // q, l, m, h or v
};

// Alternatives in EffectKind order; echo/echos, highpass/lowpass and bass/treble share records.
using EffectParams = std::variant<GainParams, EqualizerParams, PassParams, PitchParams, TempoParams,
                                  PassParams, BandpassParams, BandrejectParams, AllpassParams,
                                  ShelfParams, ShelfParams, RateParams, VolParams, DcshiftParams,
                                  ContrastParams, OverdriveParams, CompandParams, McompandParams,
                                  ChorusParams, EchoParams, EchoParams, FlangerParams, PhaserParams,
                                  ReverbParams, FadeParams, HilbertParams, LoudnessParams,
                                  TremoloParams, SpeedParams, StretchParams, BandParams, SincParams,
                                  ReverseParams>;

static_assert(std::variant_size_v<EffectParams> == EFFECT_KIND_COUNT);

struct EffectSpec {
    EffectParams params;

    EffectKind kind() const { return static_cast<EffectKind>(params.index()); }

    template <EffectKind K>
    static EffectSpec make(std::variant_alternative_t<static_cast<std::size_t>(K), EffectParams> p) {
        return EffectSpec{EffectParams(std::in_place_index<static_cast<std::size_t>(K)>, std::move(p))};
    }
    template <EffectKind K>
    const auto& get() const {
        return std::get<static_cast<std::size_t>(K)>(params);
    }
};

using EffectList = std::vector<EffectSpec>;

}  // namespace corvala::audio
