// Sample conversions and the working-buffer copy of the chain runner.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "ext/audio/chain.h"
#include "ext/audio/samples.h"

namespace corvala::audio {
namespace {

TEST(SampleConversions, RoundHalfAwayFromZeroAndSaturate) {
    const std::vector<std::pair<double, std::int32_t>> cases{
        {0.5, 1},          {-0.5, -1},         {1.4999, 1},         {-1.5, -2},
        {2147483647.4, INT32_MAX}, {2147483647.5, INT32_MAX}, {1e300, INT32_MAX},
        {-2147483648.4, INT32_MIN}, {-2147483648.5, INT32_MIN}, {-1e300, INT32_MIN},
        {std::numeric_limits<double>::infinity(), INT32_MAX},
        {-std::numeric_limits<double>::infinity(), INT32_MIN},
        {std::numeric_limits<double>::quiet_NaN(), 0},
    };
    for (const auto& [v, expected] : cases) {
        EXPECT_EQ(round_saturate_i32(v), expected) << v;
    }
}

TEST(SampleConversions, FullScaleMapsToTheInt32Ends) {
    EXPECT_EQ(float_to_i32_sample(1.0f), INT32_MAX);
    EXPECT_EQ(float_to_i32_sample(-1.0f), INT32_MIN);
    EXPECT_EQ(float_to_i32_sample(2.0f), INT32_MAX);
    EXPECT_EQ(float_to_i32_sample(0x1p-32f), 1);  // exactly half a step rounds away from zero
    EXPECT_EQ(i32_to_float_sample(INT32_MIN), -1.0f);
    EXPECT_EQ(i32_to_float_sample(INT32_MAX), 1.0f);  // rounds once, to the nearest float
    EXPECT_EQ(i32_to_float_sample(1 << 8), 0x1p-23f);
}

SampleView<float> view_of(const std::vector<float>& v, std::ptrdiff_t step = 1) {
    const auto n = (v.size() + static_cast<std::size_t>(step) - 1) / static_cast<std::size_t>(step);
    return {reinterpret_cast<const std::byte*>(v.data()), n, step * static_cast<std::ptrdiff_t>(sizeof(float))};
}

TEST(CopyFiniteSamples, ReportsTheFirstNonFiniteSample) {
    std::vector<float> v(10000, 0.25f);
    v[9000] = std::numeric_limits<float>::quiet_NaN();
    v[5000] = -std::numeric_limits<float>::infinity();  // in a later scan block than index 100
    v[100] = std::numeric_limits<float>::quiet_NaN();
    auto copied = copy_finite_samples(view_of(v));
    ASSERT_FALSE(copied);
    EXPECT_EQ(render(copied.error()), "NaN detected at index 100");
    v[100] = 0.0f;
    EXPECT_EQ(render(copy_finite_samples(view_of(v)).error()), "Inf detected at index 5000");
    // Strided views report logical positions.
    EXPECT_EQ(render(copy_finite_samples(view_of(v, 2)).error()), "Inf detected at index 2500");
}

TEST(CopyFiniteSamples, CopiesStridedAndReversedViewsInLogicalOrder) {
    const std::vector<float> v{1, 2, 3, 4, 5, 6, 7};
    SampleView<float> reversed{reinterpret_cast<const std::byte*>(v.data() + 6), 4, -2 * 4};
    auto copied = copy_finite_samples(reversed);
    ASSERT_TRUE(copied);
    EXPECT_EQ(std::vector<float>(copied->begin(), copied->end()), (std::vector<float>{7, 5, 3, 1}));
    EXPECT_TRUE(copy_finite_samples(SampleView<float>{})->empty());
}

TEST(ApplyChain, EmptyChainReturnsTheSamples) {
    SampleBuffer<std::int32_t> buffer{1, -2, 3};
    auto out = apply_chain_i32(buffer, {});
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, buffer);
}

}  // namespace
}  // namespace corvala::audio
