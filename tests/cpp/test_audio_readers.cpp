// Audio input units that need no file: the error texts and the extension rule of the front door.
#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>

#include "audiolib/audio_error.h"
#include "audiolib/raw_read_audio.h"

namespace corvala::audiolib {
namespace {

struct TextCase {
    AudioErrorKind kind;
    const char* payload;
    const char* text;
};

class AudioErrorText : public ::testing::TestWithParam<TextCase> {};

TEST_P(AudioErrorText, RendersItsTemplate) {
    const TextCase& c = GetParam();
    EXPECT_EQ(render(AudioError{c.kind, c.payload}), c.text);
}

using K = AudioErrorKind;
INSTANTIATE_TEST_SUITE_P(
    AllVariants, AudioErrorText,
    ::testing::Values(TextCase{K::computation, "x", "Computation error: x"},
                      TextCase{K::division_by_zero, "", "Division by zero"},
                      TextCase{K::invalid_feature_mode, "", "Invalid feature mode"},
                      TextCase{K::invalid_parameter, "n_fft", "Invalid parameter: n_fft"},
                      TextCase{K::invalid_input_length, "", "Invalid input length"},
                      TextCase{K::invalid_overlap_type, "", "Invalid overlap type"},
                      TextCase{K::invalid_window_type, "", "Invalid window type"},
                      TextCase{K::invalid_band_window_type, "", "Invalid band window type"},
                      TextCase{K::invalid_transform_type, "", "Invalid transform type"},
                      TextCase{K::invalid_transform_window_type, "", "Invalid transform window type"},
                      TextCase{K::invalid_compression_type, "", "Invalid compression type"},
                      TextCase{K::too_few_dimensions, "", "Array must have more than one dimension"},
                      TextCase{K::odd_last_dimension, "", "The last dimension must be a multiple of 2"},
                      TextCase{K::lock, "poisoned", "Lock error: poisoned"},
                      TextCase{K::io, "Permission denied", "IO error: Permission denied"},
                      TextCase{K::aiff, "a", "AIFF error: a"}, TextCase{K::wav, "w", "WAV error: w"},
                      TextCase{K::sphere, "s", "SPHERE error: s"},
                      TextCase{K::decoder, "decode: Invalid data", "ffmpeg error: decode: Invalid data"},
                      TextCase{K::unsupported_format, "No extension", "Unsupported audio format: No extension"},
                      TextCase{K::no_audio_track, "", "No audio track"},
                      TextCase{K::no_audio_sample_rate, "", "No audio sample rate"},
                      TextCase{K::no_audio_packets, "", "No audio packets"},
                      TextCase{K::no_audio_channels, "", "No audio channels"},
                      TextCase{K::resample, "{}", "Resample error: {}"}));

TEST(AudioErrorText, IoErrorsUseTheSystemText) {
    EXPECT_EQ(render(os_error(ENOENT)), "IO error: No such file or directory");
    EXPECT_EQ(render(end_of_data_error()), "IO error: failed to fill whole buffer");
}

struct ExtensionCase {
    const char* path;
    std::optional<std::string> extension;
};

class FileExtension : public ::testing::TestWithParam<ExtensionCase> {};

TEST_P(FileExtension, FollowsTheFinalComponent) {
    const ExtensionCase& c = GetParam();
    const auto got = file_extension(c.path);
    ASSERT_EQ(got.has_value(), c.extension.has_value()) << c.path;
    if (got) {
        EXPECT_EQ(*got, *c.extension) << c.path;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FileExtension,
    ::testing::Values(ExtensionCase{"a.wav", "wav"}, ExtensionCase{"dir/x.tar.gz", "gz"},
                      ExtensionCase{"speech.WAV", "WAV"}, ExtensionCase{"x.", ""},
                      ExtensionCase{"..x", "x"}, ExtensionCase{"a.b/c.flac/", "flac"},
                      ExtensionCase{"a.b/c.mp3/.", "mp3"}, ExtensionCase{"a.d/noise", std::nullopt},
                      ExtensionCase{".hidden", std::nullopt}, ExtensionCase{"dir/.profile", std::nullopt},
                      ExtensionCase{"x/..", std::nullopt}, ExtensionCase{"..", std::nullopt},
                      ExtensionCase{".", std::nullopt}, ExtensionCase{"/", std::nullopt},
                      ExtensionCase{"", std::nullopt}, ExtensionCase{"x.w\xc3\xa4v", "w\xc3\xa4v"},
                      ExtensionCase{"x.\xff", std::nullopt}, ExtensionCase{"x.\xed\xa0\x80", std::nullopt},
                      ExtensionCase{"x.\xc3", std::nullopt}));

}  // namespace
}  // namespace corvala::audiolib
