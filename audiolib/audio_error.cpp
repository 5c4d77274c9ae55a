#include "audiolib/audio_error.h"

#include <array>
#include <string_view>
#include <system_error>

namespace corvala::audiolib {

namespace {

// Short name of the decoding library in the decoder variant's text.
constexpr std::string_view DECODER_NAME = "ffmpeg";

// Indexed by AudioErrorKind; "{}" marks where the payload goes.
constexpr std::array<std::string_view, 25> TEMPLATES{
    "Computation error: {}",
    "Division by zero",
    "Invalid feature mode",
    "Invalid parameter: {}",
    "Invalid input length",
    "Invalid overlap type",
    "Invalid window type",
    "Invalid band window type",
    "Invalid transform type",
    "Invalid transform window type",
    "Invalid compression type",
    "Array must have more than one dimension",
    "The last dimension must be a multiple of 2",
    "Lock error: {}",
    "IO error: {}",
    "AIFF error: {}",
    "WAV error: {}",
    "SPHERE error: {}",
    "",  // decoder: built below
    "Unsupported audio format: {}",
    "No audio track",
    "No audio sample rate",
    "No audio packets",
    "No audio channels",
    "Resample error: {}",
};

}  // namespace

AudioError end_of_data_error() { return {AudioErrorKind::io, "failed to fill whole buffer"}; }

AudioError os_error(int errno_value) {
    return {AudioErrorKind::io, std::error_code(errno_value, std::generic_category()).message()};
}

std::string render(const AudioError& error) {
    if (error.kind == AudioErrorKind::decoder) {
        std::string out(DECODER_NAME);
        out += " error: ";
        out += error.text;
        return out;
    }
    const std::size_t index = static_cast<std::size_t>(error.kind);
    const std::string_view tmpl = index < TEMPLATES.size() ? TEMPLATES[index] : std::string_view("{}");
    const std::size_t at = tmpl.find("{}");
    if (at == std::string_view::npos) {
        return std::string(tmpl);
    }
    std::string out;
    out.reserve(tmpl.size() + error.text.size());
    out.append(tmpl.substr(0, at)).append(error.text).append(tmpl.substr(at + 2));
    return out;
}

}  // namespace corvala::audiolib
