// Cache artifacts through the file system: the writer, the reader and the in-memory parse the
// reader shares.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ext/kernel/data_io.h"

namespace corvala::kernel {
namespace {

class Artifacts : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "corvala-artifacts-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        context_ = ArtifactContext{pattern, "digest", 2};
    }
    void TearDown() override { std::filesystem::remove_all(context_.location); }

    std::vector<std::byte> file_bytes() const {
        std::ifstream in(artifact_path(context_, "mixture", "m", "x"), std::ios::binary);
        std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto* first = reinterpret_cast<const std::byte*>(chars.data());
        return {first, first + chars.size()};
    }

    ArtifactContext context_;
};

// Found by fuzz_artifact under UBSan: an empty tensor's bytes with no address reached memcpy,
// whose source must never be null. Empty nodes (a mixture of no samples) are written this way.
TEST_F(Artifacts, EmptyTensorsWithoutStorageRoundTrip) {
    const std::vector<std::byte> bytes(12, std::byte{3});
    const std::uint64_t empty[] = {0};
    const std::uint64_t three[] = {3};
    const TensorData tensors[] = {
        {"first", Dtype::F32, empty, {}}, {"middle", Dtype::F32, three, bytes}, {"last", Dtype::I16, empty, {}}};
    ASSERT_TRUE(write_artifact(context_, "mixture", "m", "x", tensors, {}).has_value());

    const auto read = read_artifact(context_, "mixture", "m", "x");
    ASSERT_TRUE(read.has_value() && read->has_value());
    const ArtifactHit& hit = **read;
    ASSERT_EQ(hit.tensors().size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(hit.tensors()[i].name, tensors[i].name);
        EXPECT_EQ(hit.data(hit.tensors()[i]).size(), tensors[i].data.size());
    }
    EXPECT_TRUE(std::ranges::equal(hit.data(hit.tensors()[1]), bytes));
}

TEST_F(Artifacts, ParsingBytesChecksWhatReadingTheFileChecks) {
    const std::vector<std::byte> bytes(8, std::byte{1});
    const std::uint64_t shape[] = {8};
    const TensorData tensors[] = {{"label", Dtype::U8, shape, bytes}};
    const std::string str_keys[] = {"label", "label"};
    ASSERT_TRUE(write_artifact(context_, "mixture", "m", "x", tensors, str_keys).has_value());
    const auto file = file_bytes();

    const auto parsed = parse_artifact(context_, "mixture", "m", "x", file);
    ASSERT_TRUE(parsed.has_value() && parsed->has_value());
    EXPECT_EQ((*parsed)->file.data(), file.data());  // borrowed, not copied
    EXPECT_EQ((*parsed)->str_keys, std::vector<std::string>{"label"});
    // Another triple or epoch expects another key: a miss, as for the file.
    EXPECT_FALSE(parse_artifact(context_, "mixture", "m", "y", file).value().has_value());
    EXPECT_FALSE(parse_artifact({context_.location, "digest", 3}, "mixture", "m", "x", file).value().has_value());
    EXPECT_FALSE(parse_artifact(context_, "mixture", "m", "x", std::span(file).first(file.size() - 1)).value());
}

}  // namespace
}  // namespace corvala::kernel
