// A realization session: the frozen plan of one dataset, its source-audio cache and the count
// of finished realizations. Only the cache and the counter change after construction.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

#include "ext/kernel/plan.h"
#include "ext/kernel/source_cache.h"

namespace corvala::kernel {

struct Session {
    Session(Plan plan_, std::uint64_t cache_bytes) : plan(std::move(plan_)), cache(cache_bytes) {}

    const Plan plan;
    SourceAudioCache cache;
    std::atomic<std::uint64_t> completed{0};
};

}  // namespace corvala::kernel
