#include "audiolib/raw_read_audio.h"

#include <cstdint>

#include "audiolib/aiff.h"
#include "audiolib/decoder.h"
#include "audiolib/sphere.h"
#include "audiolib/wav.h"

namespace corvala::audiolib {

namespace {

bool is_valid_utf8(std::string_view text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const auto b0 = static_cast<unsigned char>(text[i]);
        std::size_t need;
        unsigned lo = 0x80, hi = 0xBF;
        if (b0 < 0x80) {
            ++i;
            continue;
        } else if (b0 >= 0xC2 && b0 <= 0xDF) {
            need = 1;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            need = 2;
            if (b0 == 0xE0) lo = 0xA0;
            if (b0 == 0xED) hi = 0x9F;  // no encoded surrogates
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            need = 3;
            if (b0 == 0xF0) lo = 0x90;
            if (b0 == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (n - i <= need) return false;
        for (std::size_t k = 1; k <= need; ++k) {
            const auto b = static_cast<unsigned char>(text[i + k]);
            if (b < (k == 1 ? lo : 0x80u) || b > (k == 1 ? hi : 0xBFu)) return false;
        }
        i += need + 1;
    }
    return true;
}

// The last component that names something: empty and "." components are not names.
std::string_view final_component(std::string_view path) {
    while (!path.empty()) {
        while (!path.empty() && path.back() == '/') path.remove_suffix(1);
        const std::size_t slash = path.find_last_of('/');
        const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
        if (name != ".") return name;
        path.remove_suffix(name.size());
        // A path that is "." alone, or ends in it after the root, names no file.
        if (path.empty()) return {};
    }
    return {};
}

}  // namespace

std::optional<std::string_view> file_extension(std::string_view path) {
    const std::string_view name = final_component(path);
    if (name.empty() || name == "..") return std::nullopt;
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) return std::nullopt;
    const std::string_view ext = name.substr(dot + 1);
    if (!is_valid_utf8(ext)) return std::nullopt;
    return ext;
}

std::expected<RawAudio, AudioError> raw_read_audio(const std::string& path) {
    const auto ext = file_extension(path);
    if (!ext) {
        return std::unexpected(AudioError{AudioErrorKind::unsupported_format, "No extension"});
    }
    if (*ext == "wav") {
        auto wav = read_wav(path);
        if (wav) return wav;
        // A SPHERE file may carry the .wav extension; when that fails too, the WAV error stands.
        if (auto sphere = read_sphere(path)) return sphere;
        return wav;
    }
    if (*ext == "sph") return read_sphere(path);
    if (*ext == "aif" || *ext == "aiff" || *ext == "caf") return read_aiff(path);
    return decode_with_library(path);
}

}  // namespace corvala::audiolib
