// The error value of the audio library (readers, decoder, resampler, transforms, features) and
// its displayed texts.
#pragma once

#include <cstdint>
#include <string>

namespace corvala::audiolib {

// In the order of the variant table; the numeric value is the variant's index.
enum class AudioErrorKind : std::uint8_t {
    computation,
    division_by_zero,
    invalid_feature_mode,
    invalid_parameter,
    invalid_input_length,
    invalid_overlap_type,
    invalid_window_type,
    invalid_band_window_type,
    invalid_transform_type,
    invalid_transform_window_type,
    invalid_compression_type,
    too_few_dimensions,
    odd_last_dimension,
    lock,
    io,
    aiff,
    wav,
    sphere,
    decoder,
    unsupported_format,
    no_audio_track,
    no_audio_sample_rate,
    no_audio_packets,
    no_audio_channels,
    resample,
};

// `text` is the payload of the variants that carry one (for io, the I/O error's own text).
struct AudioError {
    AudioErrorKind kind = AudioErrorKind::io;
    std::string text;

    bool operator==(const AudioError&) const = default;
};

// The I/O error of a read that finds the end of the data before the bytes it needs.
AudioError end_of_data_error();
// The I/O error for an operating-system error number.
AudioError os_error(int errno_value);

// The displayed text: the message of the Python exception.
std::string render(const AudioError& error);

}  // namespace corvala::audiolib
