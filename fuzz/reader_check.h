// The properties every audio reader target checks.
#pragma once

#include <cstring>
#include <span>
#include <string>

#include "audiolib/audio_error.h"
#include "audiolib/raw_audio.h"
#include "fuzz/fuzz.h"

namespace corvala::fuzz {

template <typename FromBytes, typename FromPath>
void check_reader(std::span<const std::byte> bytes, FromBytes from_bytes, FromPath from_path) {
    const auto in_memory = from_bytes(bytes);
    static const std::string path = scratch_directory() + "/input";
    write_file(path, bytes);
    const auto from_file = from_path(path);
    FUZZ_CHECK(in_memory.has_value() == from_file.has_value());
    if (in_memory) {
        // Every sample takes at least one byte of the input.
        FUZZ_CHECK(in_memory->samples.size() <= bytes.size());
        FUZZ_CHECK(in_memory->sample_rate == from_file->sample_rate);
        FUZZ_CHECK(in_memory->samples.size() == from_file->samples.size());
        FUZZ_CHECK(in_memory->samples.size() == 0 ||
                   std::memcmp(in_memory->samples.data(), from_file->samples.data(),
                               in_memory->samples.size() * sizeof(float)) == 0);
    } else {
        FUZZ_CHECK(render(in_memory.error()) == render(from_file.error()));
    }
}

}  // namespace corvala::fuzz
