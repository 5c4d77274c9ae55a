#include "ext/kernel/source_cache.h"

#include "ext/audio/parser/format.h"

namespace corvala::kernel {

std::expected<SourceAudio, KernelError> SourceAudioCache::get(
    std::int64_t file_id, const std::unordered_map<std::int64_t, std::string>& paths, const SourceLoader& load) {
    {
        std::lock_guard lock(mutex_);
        ++clock_;
        if (auto it = entries_.find(file_id); it != entries_.end()) {
            it->second.last_used = clock_;
            return it->second.audio;
        }
    }
    const auto path = paths.find(file_id);
    if (path == paths.end()) {
        return std::unexpected(KernelError::value(audio::format("no source file with id {}", file_id)));
    }
    auto samples = load(path->second);
    if (!samples) {
        return std::unexpected(KernelError::value(
            audio::format("failed to read source audio '{}': {}", path->second, samples.error())));
    }
    const std::uint64_t bytes = 4 * static_cast<std::uint64_t>(samples->size());
    auto buffer = std::make_shared<const audio::SampleBuffer<float>>(std::move(*samples));

    std::lock_guard lock(mutex_);
    ++clock_;
    if (auto it = entries_.find(file_id); it != entries_.end()) {
        used_bytes_ -= it->second.bytes;
        it->second = Entry{buffer, bytes, clock_};
    } else {
        entries_.emplace(file_id, Entry{buffer, bytes, clock_});
    }
    used_bytes_ += bytes;
    // The entry just inserted holds the newest clock value, so it is never its own victim.
    while (used_bytes_ > budget_ && entries_.size() > 1) {
        auto victim = entries_.begin();
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->second.last_used < victim->second.last_used) victim = it;
        }
        used_bytes_ -= victim->second.bytes;
        entries_.erase(victim);
    }
    return buffer;
}

std::uint64_t SourceAudioCache::capacity() const {
    std::lock_guard lock(mutex_);
    return budget_;
}

std::vector<std::int64_t> SourceAudioCache::resident() const {
    std::lock_guard lock(mutex_);
    std::vector<std::int64_t> ids;
    for (const auto& [id, entry] : entries_) ids.push_back(id);
    return ids;
}

std::uint64_t SourceAudioCache::used_bytes() const {
    std::lock_guard lock(mutex_);
    return used_bytes_;
}

}  // namespace corvala::kernel
