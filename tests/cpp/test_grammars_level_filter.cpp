// Parameter records filled by the level, filter and FIR grammars: the values the canonical texts
// do not show (converted gains, anchors, copied fade-outs, filter sides, defaults).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <variant>

#include "ext/audio/parser/parse.h"

namespace corvala::audio {
namespace {

template <EffectKind K>
auto record(const std::string& text) {
    using Params = std::variant_alternative_t<static_cast<std::size_t>(K), EffectParams>;
    auto parsed = parse_effect(text);
    if (!parsed || parsed->spec.kind() != K) {
        ADD_FAILURE() << text << " does not parse to its kind";
        return Params{};
    }
    return parsed->spec.get<K>();
}

TEST(LevelRecords, VolConvertsToALinearFactor) {
    const auto power = record<EffectKind::vol>("vol 0.5 power");
    EXPECT_EQ(power.gain, std::sqrt(0.5));
    EXPECT_EQ(power.gain_value, 0.5);
    EXPECT_EQ(power.gain_type, VolType::power);
    EXPECT_FALSE(power.limiter_gain);
    EXPECT_EQ(record<EffectKind::vol>("vol -4 power").gain, -2.0);
    const auto db = record<EffectKind::vol>("vol 6 dB 0.25");
    EXPECT_EQ(db.gain, std::pow(10.0, 6.0 / 20.0));
    EXPECT_EQ(db.limiter_gain, 0.25);
    EXPECT_EQ(record<EffectKind::vol>("vol -0.5").gain, -0.5);
}

TEST(LevelRecords, FadeShapeAnchorAndCopiedFadeOut) {
    const auto plain = record<EffectKind::fade>("fade 1");
    EXPECT_EQ(plain.shape, FadeShape::logarithmic);
    EXPECT_FALSE(plain.stop);
    EXPECT_FALSE(plain.fade_out);

    const auto absolute = record<EffectKind::fade>("fade q 1 8000s");
    EXPECT_EQ(absolute.shape, FadeShape::quarter_sine);
    ASSERT_TRUE(absolute.stop);
    EXPECT_EQ(absolute.stop->anchor, FadeAnchor::absolute);
    EXPECT_EQ(absolute.stop->position, (TimeSpec{8000, 0.0}));
    EXPECT_EQ(absolute.fade_out, (TimeSpec{0, 1.0}));

    const auto before_end = record<EffectKind::fade>("fade t 0.5 -+5 2s");
    EXPECT_EQ(before_end.shape, FadeShape::linear);
    EXPECT_EQ(before_end.stop->anchor, FadeAnchor::before_end);
    EXPECT_EQ(before_end.stop->position, (TimeSpec{0, 5.0}));
    EXPECT_EQ(before_end.fade_out, (TimeSpec{2, 0.0}));

    const auto after = record<EffectKind::fade>("fade p 1 +-5");
    EXPECT_EQ(after.shape, FadeShape::parabola);
    EXPECT_EQ(after.stop->anchor, FadeAnchor::after_fade_in);
    EXPECT_EQ(after.stop->position, (TimeSpec{0, 0.0}));
    EXPECT_EQ(record<EffectKind::fade>("fade h 1").shape, FadeShape::half_sine);
}

TEST(FilterRecords, DefaultsAndKinds) {
    const auto high = record<EffectKind::highpass>("highpass 100");
    EXPECT_EQ(high.poles, 2);
    EXPECT_FALSE(high.width);
    const auto low = record<EffectKind::lowpass>("lowpass -2 1k 3o");
    EXPECT_EQ(low.frequency, 1000.0);
    ASSERT_TRUE(low.width);
    EXPECT_EQ(low.width->unit, WidthUnit::octaves);
    EXPECT_EQ(record<EffectKind::lowpass>("lowpass -1 500").poles, 1);

    const auto bass = record<EffectKind::bass>("bass 6");
    EXPECT_EQ(bass.frequency, 100.0);
    EXPECT_EQ(bass.width.value, 0.5);
    EXPECT_EQ(bass.width.unit, WidthUnit::slope);
    EXPECT_EQ(record<EffectKind::treble>("treble 6").frequency, 3000.0);

    EXPECT_EQ(record<EffectKind::equalizer>("equalizer 1k 2 -6").width.unit, WidthUnit::q);
    EXPECT_EQ(record<EffectKind::bandreject>("bandreject 1k 100").width.unit, WidthUnit::hz);
    EXPECT_TRUE(record<EffectKind::bandpass>("bandpass -c 1k 100").constant_skirt);

    const auto band = record<EffectKind::band>("band -n 1000");
    EXPECT_TRUE(band.noise);
    EXPECT_EQ(band.width.value, 500.0);
    EXPECT_EQ(band.width.unit, WidthUnit::hz);
}

TEST(FirRecords, SincSidesAndSharedSettings) {
    const auto before = record<EffectKind::sinc>("sinc -n 101 1k-3k");
    EXPECT_EQ(before.highpass_frequency, 1000.0);
    EXPECT_EQ(before.lowpass_frequency, 3000.0);
    EXPECT_EQ(before.highpass_taps, 101u);
    EXPECT_EQ(before.lowpass_taps, 101u);

    const auto after = record<EffectKind::sinc>("sinc 1k -n 101");
    EXPECT_FALSE(after.highpass_taps);
    EXPECT_EQ(after.lowpass_taps, 101u);

    const auto both = record<EffectKind::sinc>("sinc -r -b 5 -p 10 -t 100 -3k -t 0.2k");
    EXPECT_EQ(both.highpass_frequency, 0.0);
    EXPECT_EQ(both.lowpass_frequency, 3000.0);
    EXPECT_EQ(both.highpass_transition, 100.0);
    EXPECT_EQ(both.lowpass_transition, 200.0);
    EXPECT_TRUE(both.round);
    EXPECT_EQ(both.beta, 5.0);
    EXPECT_EQ(both.phase, 10.0);
    EXPECT_EQ(both.attenuation_db, 0.0);

    EXPECT_EQ(record<EffectKind::hilbert>("hilbert").taps, 211u);
    const auto loud = record<EffectKind::loudness>("loudness -20 70 255");
    EXPECT_EQ(loud.gain_db, -20.0);
    EXPECT_EQ(loud.reference_db, 70.0);
    EXPECT_EQ(loud.half_taps, 255u);
}

}  // namespace
}  // namespace corvala::audio
