// Active speech level by ITU-T P.56 Method B: envelope, activity counts with hangover, and the
// threshold whose activity level sits the margin above it, found by interpolation. Arithmetic is
// float32 except the interpolation midpoints (double, stored back as float32).
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <span>
#include <string>

#include "ext/audio/samples.h"

namespace corvala::speech {

inline constexpr float ENVELOPE_TIME = 0.03f;  // seconds
inline constexpr float HANGOVER_TIME = 0.2f;   // seconds
inline constexpr float MARGIN_DB = 15.9f;
inline constexpr float EPS = 0x1p-23f;
inline constexpr float BISECTION_TOL_DB = 0.5f;
inline constexpr std::int64_t END_TO_END_SAMPLE_RATE = 16000;
inline constexpr std::size_t NUM_THRESHOLDS = 15;

// 2^-15, 2^-14, ..., 2^-1: 6.02 dB apart.
inline constexpr std::array<float, NUM_THRESHOLDS> THRESHOLDS = [] {
    std::array<float, NUM_THRESHOLDS> c{};
    float v = 0x1p-15f;
    for (float& t : c) {
        t = v;
        v *= 2.0f;
    }
    return c;
}();

struct SpeechLevelError {
    std::string message;
};

struct Envelope {
    audio::SampleBuffer<float> q;
    float margin = MARGIN_DB;
    float eps = EPS;
    std::int64_t h_samples = 0;
    std::array<float, NUM_THRESHOLDS> c = THRESHOLDS;
};

// The smoothing coefficient of both envelope poles and the hangover in samples for a rate.
float envelope_coefficient(std::int64_t sample_rate);
std::int64_t hangover_samples(std::int64_t sample_rate);

Envelope compute_envelope(audio::SampleView<float> audio, std::int64_t sample_rate);

// One count per threshold, scanned in threshold order with an early stop per sample. `length`
// past the envelope is rejected, and so is one whose counts would not fit int32; a negative
// `length` scans nothing.
std::expected<audio::SampleBuffer<std::int32_t>, SpeechLevelError> count_activity(
    audio::SampleView<float> q, std::span<const float> c, std::int64_t h_samples, std::int64_t length);

// Rejects a zero tolerance: the widening from the 20th pass multiplies it and would never end.
std::expected<float, SpeechLevelError> bin_interp(float u_cnt, float l_cnt, float u_thr, float l_thr, float margin,
                                                  float tol);

// Counts are taken wider than int32 so that adding 2 cannot overflow. Rejects empty `a` or `c`
// and fewer counts than thresholds.
std::expected<float, SpeechLevelError> compute_asl_from_thresholds(std::span<const std::int64_t> a,
                                                                   std::span<const float> c, float sq, float eps,
                                                                   float margin);

// What asl_p56 takes from one pass over the signal: the in-order float32 sum of squares and the
// activity counts at THRESHOLDS, equal to those of compute_envelope at `sample_rate` followed by
// count_activity over the whole envelope.
struct ActivityPass {
    float sq = 0.0f;
    std::array<std::int64_t, NUM_THRESHOLDS> a{};
};
ActivityPass p56_activity_pass(audio::SampleView<float> audio, std::int64_t sample_rate);

// The active speech level (mean square) of a 16 kHz signal; 0.0 when no active speech is found.
float asl_p56(audio::SampleView<float> audio);

}  // namespace corvala::speech
