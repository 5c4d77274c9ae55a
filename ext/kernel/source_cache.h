// Decoded 16 kHz source audio shared by the mixtures of a session: a least-recently-used cache
// keyed by file id and bounded by a byte budget.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "ext/audio/samples.h"
#include "ext/kernel/kernel_error.h"

namespace corvala::kernel {

using SourceAudio = std::shared_ptr<const audio::SampleBuffer<float>>;

// Reads and resamples one file; on failure the displayed text of the error.
using SourceLoader = std::function<std::expected<audio::SampleBuffer<float>, std::string>(const std::string& path)>;

class SourceAudioCache {
public:
    explicit SourceAudioCache(std::uint64_t budget) : budget_(budget) {}

    // The cached audio of `file_id`, loading it on a miss. The mutex is held only for the map:
    // never while loading, so two callers missing on one file both load it.
    std::expected<SourceAudio, KernelError> get(std::int64_t file_id,
                                                const std::unordered_map<std::int64_t, std::string>& paths,
                                                const SourceLoader& load);

    std::uint64_t capacity() const;
    // For tests: the resident file ids and the bytes they use.
    std::vector<std::int64_t> resident() const;
    std::uint64_t used_bytes() const;

private:
    struct Entry {
        SourceAudio audio;
        std::uint64_t bytes = 0;
        std::uint64_t last_used = 0;
    };

    mutable std::mutex mutex_;
    const std::uint64_t budget_;
    std::uint64_t used_bytes_ = 0;
    std::uint64_t clock_ = 0;
    std::unordered_map<std::int64_t, Entry> entries_;
};

}  // namespace corvala::kernel
