// The source-audio cache: hits, misses, eviction by least recent use, failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ext/kernel/source_cache.h"

namespace corvala::kernel {
namespace {

class SourceCacheTest : public ::testing::Test {
protected:
    std::unordered_map<std::int64_t, std::string> paths{{1, "a.wav"}, {2, "b.wav"}, {3, "c.wav"}, {4, "empty.wav"}};
    std::vector<std::string> loads;
    SourceLoader loader = [this](const std::string& path) -> std::expected<audio::SampleBuffer<float>, std::string> {
        loads.push_back(path);
        if (path == "empty.wav") return std::unexpected("Input array cannot be empty");
        return audio::SampleBuffer<float>(1000, static_cast<float>(path[0]));
    };

    static std::vector<std::int64_t> sorted(std::vector<std::int64_t> ids) {
        std::sort(ids.begin(), ids.end());
        return ids;
    }
};

TEST_F(SourceCacheTest, EvictsTheLeastRecentlyUsed) {
    SourceAudioCache cache(8000);
    for (std::int64_t id : {1, 2, 1, 3}) ASSERT_TRUE(cache.get(id, paths, loader));
    // A was used at the third access, so B is the victim when C arrives.
    EXPECT_EQ(sorted(cache.resident()), (std::vector<std::int64_t>{1, 3}));
    EXPECT_EQ(cache.used_bytes(), 8000u);
    EXPECT_EQ(loads, (std::vector<std::string>{"a.wav", "b.wav", "c.wav"}));
}

TEST_F(SourceCacheTest, HitsShareTheBufferWithoutCopying) {
    SourceAudioCache cache(1 << 20);
    auto first = cache.get(1, paths, loader);
    auto second = cache.get(1, paths, loader);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->get(), second->get());
    EXPECT_EQ(loads.size(), 1u);
}

TEST_F(SourceCacheTest, ZeroBudgetKeepsOnlyTheNewestAndOversizeEntriesStay) {
    SourceAudioCache cache(0);
    EXPECT_EQ(cache.capacity(), 0u);
    auto a = cache.get(1, paths, loader);
    EXPECT_EQ(cache.resident(), (std::vector<std::int64_t>{1}));  // larger than the budget, kept
    ASSERT_TRUE(cache.get(2, paths, loader));
    EXPECT_EQ(cache.resident(), (std::vector<std::int64_t>{2}));
    EXPECT_EQ((**a)[0], 'a');  // a handed-out buffer outlives its eviction
}

TEST_F(SourceCacheTest, FailuresLeaveTheCacheUnchanged) {
    SourceAudioCache cache(1 << 20);
    auto missing = cache.get(9, paths, loader);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error(), KernelError::value("no source file with id 9"));
    auto empty = cache.get(4, paths, loader);
    ASSERT_FALSE(empty);
    EXPECT_EQ(empty.error(),
              KernelError::value("failed to read source audio 'empty.wav': Input array cannot be empty"));
    EXPECT_TRUE(cache.resident().empty());
    EXPECT_EQ(cache.used_bytes(), 0u);
}

}  // namespace
}  // namespace corvala::kernel
