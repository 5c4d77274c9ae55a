// The safetensors reader on untrusted input, the writer's layout, and the UTF-8 helpers the
// store relies on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "ext/kernel/safetensors.h"
#include "ext/kernel/store.h"
#include "ext/kernel/utf8.h"

namespace corvala::kernel {
namespace {

std::vector<std::byte> file_of(const std::string& header, std::size_t data_bytes, std::uint64_t length_field) {
    std::vector<std::byte> file(8 + header.size() + data_bytes, std::byte{0});
    const auto length = header_length_bytes(length_field);
    std::memcpy(file.data(), length.data(), 8);
    std::memcpy(file.data() + 8, header.data(), header.size());
    return file;
}

std::vector<std::byte> file_of(const std::string& header, std::size_t data_bytes) {
    return file_of(header, data_bytes, header.size());
}

struct HeaderCase {
    const char* label;
    const char* header;
    std::size_t data_bytes;
};

class MalformedHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(MalformedHeader, IsRejected) {
    const HeaderCase& c = GetParam();
    EXPECT_FALSE(parse_safetensors(file_of(c.header, c.data_bytes)).has_value()) << c.label << ": " << c.header;
}

#define T(name, body) "\"" name "\":" body
#define F32_4 R"({"dtype":"F32","shape":[1],"data_offsets":[0,4]})"

INSTANTIATE_TEST_SUITE_P(
    Table, MalformedHeader,
    ::testing::Values(
        HeaderCase{"empty header", "", 0}, HeaderCase{"spaces only", "        ", 0},
        HeaderCase{"not JSON", "garbage!", 0}, HeaderCase{"array", "[]", 0}, HeaderCase{"string", "\"x\"", 0},
        HeaderCase{"unterminated", "{" T("a", F32_4), 4}, HeaderCase{"trailing value", "{}{}", 0},
        HeaderCase{"tensor not an object", "{" T("a", "[1]") "}", 4},
        HeaderCase{"missing dtype", "{" T("a", R"({"shape":[1],"data_offsets":[0,4]})") "}", 4},
        HeaderCase{"missing shape", "{" T("a", R"({"dtype":"F32","data_offsets":[0,4]})") "}", 4},
        HeaderCase{"missing offsets", "{" T("a", R"({"dtype":"F32","shape":[1]})") "}", 4},
        HeaderCase{"unknown field", "{" T("a", R"({"dtype":"F32","shape":[1],"data_offsets":[0,4],"x":1})") "}", 4},
        HeaderCase{"repeated field",
                   "{" T("a", R"({"dtype":"F32","dtype":"F32","shape":[1],"data_offsets":[0,4]})") "}", 4},
        HeaderCase{"unknown dtype", "{" T("a", R"({"dtype":"F128","shape":[1],"data_offsets":[0,16]})") "}", 16},
        HeaderCase{"dtype not a string", "{" T("a", R"({"dtype":4,"shape":[1],"data_offsets":[0,4]})") "}", 4},
        HeaderCase{"negative dim", "{" T("a", R"({"dtype":"F32","shape":[-1],"data_offsets":[0,4]})") "}", 4},
        HeaderCase{"fractional dim", "{" T("a", R"({"dtype":"F32","shape":[1.0],"data_offsets":[0,4]})") "}", 4},
        HeaderCase{"dim beyond 64 bits",
                   "{" T("a", R"({"dtype":"U8","shape":[18446744073709551616],"data_offsets":[0,1]})") "}", 1},
        HeaderCase{"shape not a list", "{" T("a", R"({"dtype":"F32","shape":1,"data_offsets":[0,4]})") "}", 4},
        HeaderCase{"nested shape", "{" T("a", R"({"dtype":"F32","shape":[[1]],"data_offsets":[0,4]})") "}", 4},
        HeaderCase{"shape product overflows",
                   "{" T("a", R"({"dtype":"F64","shape":[4294967296,4294967296],"data_offsets":[0,0]})") "}", 0},
        HeaderCase{"byte size overflows",
                   "{" T("a", R"({"dtype":"F64","shape":[2305843009213693952],"data_offsets":[0,0]})") "}", 0},
        HeaderCase{"one offset", "{" T("a", R"({"dtype":"F32","shape":[1],"data_offsets":[0]})") "}", 4},
        HeaderCase{"three offsets", "{" T("a", R"({"dtype":"F32","shape":[1],"data_offsets":[0,4,8]})") "}", 8},
        HeaderCase{"size mismatch", "{" T("a", R"({"dtype":"F32","shape":[2],"data_offsets":[0,4]})") "}", 8},
        HeaderCase{"end before begin", "{" T("a", R"({"dtype":"U8","shape":[0],"data_offsets":[4,0]})") "}", 4},
        HeaderCase{"past the data", "{" T("a", R"({"dtype":"F32","shape":[1],"data_offsets":[4,8]})") "}", 7},
        HeaderCase{"offset near 2^64",
                   "{" T("a", R"({"dtype":"U8","shape":[1],"data_offsets":[18446744073709551615,0]})") "}", 1},
        HeaderCase{"overlap", "{" T("a", F32_4) "," T("b", R"({"dtype":"U16","shape":[2],"data_offsets":[2,6]})") "}", 8},
        HeaderCase{"same range twice", "{" T("a", F32_4) "," T("b", F32_4) "}", 4},
        HeaderCase{"repeated name", "{" T("a", F32_4) "," T("a", R"({"dtype":"F32","shape":[1],"data_offsets":[4,8]})") "}", 8},
        HeaderCase{"sub-byte size", "{" T("a", R"({"dtype":"F4","shape":[3],"data_offsets":[0,1]})") "}", 1},
        HeaderCase{"metadata value not a string", "{" T("__metadata__", R"({"key":1})") "}", 0},
        HeaderCase{"metadata not an object", "{" T("__metadata__", R"("x")") "}", 0},
        HeaderCase{"metadata twice", "{" T("__metadata__", "{}") "," T("__metadata__", "{}") "}", 0},
        HeaderCase{"metadata key twice", "{" T("__metadata__", R"({"k":"a","k":"b"})") "}", 0},
        HeaderCase{"null tensor", "{" T("a", "null") "}", 0},
        HeaderCase{"invalid UTF-8 in a name", "{\"\xff\":" F32_4 "}", 4}),
    [](const auto& info) {
        std::string name = info.param.label;
        for (char& c : name) {
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        }
        return name;
    });

TEST(SafetensorsReader, AcceptsConsistentHeaders) {
    // Gaps, trailing bytes, empty tensors anywhere in bounds, sub-byte dtypes filling whole bytes,
    // and tensors listed out of data order are all consistent.
    const std::string header = "{" T("__metadata__", R"({"key":"k","str_keys":"[]"})") ","
                               T("b", R"({"dtype":"F32","shape":[1],"data_offsets":[8,12]})") ","
                               T("a", R"({"dtype":"U16","shape":[2,1],"data_offsets":[0,4]})") ","
                               T("e", R"({"dtype":"I64","shape":[3,0],"data_offsets":[2,2]})") ","
                               T("s", R"({"dtype":"U8","shape":[],"data_offsets":[12,13]})") ","
                               T("f4", R"({"dtype":"F4","shape":[2],"data_offsets":[13,14]})") ","
                               T("bf", R"({"dtype":"BF16","shape":[1],"data_offsets":[14,16]})") "}   ";
    const auto file = file_of(header, 20);
    const auto parsed = parse_safetensors(file);
    ASSERT_TRUE(parsed.has_value());
    ASSERT_EQ(parsed->tensors.size(), 6u);
    EXPECT_EQ(parsed->tensors[0].name, "b");
    EXPECT_EQ(parsed->tensors[1].shape, (std::vector<std::uint64_t>{2, 1}));
    EXPECT_EQ(parsed->tensors[5].dtype, Dtype::BF16);
    EXPECT_EQ(parsed->data_start, 8 + header.size());
    EXPECT_EQ(parsed->data(file, parsed->tensors[0]).data(), file.data() + 8 + header.size() + 8);
    ASSERT_NE(parsed->find_metadata("key"), nullptr);
    EXPECT_EQ(*parsed->find_metadata("key"), "k");
    EXPECT_EQ(parsed->find_metadata("kernel_epoch"), nullptr);
}

TEST(SafetensorsReader, HeaderLengthMustFitTheFileAndTheLimit) {
    const std::string header = "{}";
    EXPECT_TRUE(parse_safetensors(file_of(header, 0)).has_value());
    EXPECT_FALSE(parse_safetensors(file_of(header, 0, 3)).has_value());
    EXPECT_FALSE(parse_safetensors(file_of(header, 0, std::numeric_limits<std::uint64_t>::max())).has_value());
    const auto bytes = file_of(header, 0);
    for (std::size_t n = 0; n < 8; ++n) {
        EXPECT_FALSE(parse_safetensors(std::span(bytes).first(n)).has_value()) << n;
    }

    // A valid header of exactly the limit is read; one 8 bytes longer is refused.
    std::string big = "{}";
    big.resize(MAX_HEADER_BYTES + 8, ' ');
    auto file = file_of(big, 0, MAX_HEADER_BYTES);
    EXPECT_TRUE(parse_safetensors(file).has_value());
    const auto length = header_length_bytes(MAX_HEADER_BYTES + 8);
    std::memcpy(file.data(), length.data(), 8);
    EXPECT_FALSE(parse_safetensors(file).has_value());
}

std::vector<std::byte> written_file(std::span<const TensorData> tensors,
                                    std::span<const std::pair<std::string, std::string>> metadata) {
    const auto header = serialize_header(tensors, metadata);
    EXPECT_TRUE(header.has_value()) << header.error();
    std::vector<std::byte> file(8);
    const auto length = header_length_bytes(header->size());
    std::memcpy(file.data(), length.data(), 8);
    for (char c : *header) file.push_back(static_cast<std::byte>(c));
    for (const TensorData& t : tensors) file.insert(file.end(), t.data.begin(), t.data.end());
    return file;
}

TEST(SafetensorsWriter, RoundTripsThroughTheReaderWithAPaddedHeader) {
    const std::vector<std::byte> bytes(24, std::byte{7});
    const std::uint64_t shape_a[] = {2, 3};
    const std::uint64_t shape_b[] = {0, 5};
    const TensorData tensors[] = {
        {"a \"quoted\" /\\ name \xce\xb4", Dtype::F32, shape_a, std::span(bytes)},
        {"empty", Dtype::C64, shape_b, {}},
        {"__value__", Dtype::BOOL, {}, std::span(bytes).first(1)},
    };
    const std::pair<std::string, std::string> metadata[] = {{"key", "abc"}, {"str_keys", R"(["a"])"}};
    for (std::size_t count = 0; count <= 3; ++count) {
        const auto file = written_file(std::span(tensors).first(count), metadata);
        const auto header_length = file.size() - 8 - (count >= 3 ? 25 : count >= 1 ? 24 : 0);
        EXPECT_EQ(header_length % 8, 0u);
        const auto parsed = parse_safetensors(file);
        ASSERT_TRUE(parsed.has_value());
        ASSERT_EQ(parsed->tensors.size(), count);
        for (std::size_t i = 0; i < count; ++i) {
            EXPECT_EQ(parsed->tensors[i].name, tensors[i].name);
            EXPECT_EQ(parsed->tensors[i].dtype, tensors[i].dtype);
            EXPECT_TRUE(std::ranges::equal(parsed->tensors[i].shape, tensors[i].shape));
            EXPECT_EQ(parsed->data(file, parsed->tensors[i]).size(), tensors[i].data.size());
        }
        EXPECT_EQ(*parsed->find_metadata("str_keys"), R"(["a"])");
    }
}

TEST(SafetensorsWriter, RefusesWhatCannotBeReadBack) {
    const std::vector<std::byte> bytes(8);
    const std::uint64_t two[] = {2};
    const auto refused = [](std::vector<TensorData> tensors) {
        return !serialize_header(tensors, std::span<const std::pair<std::string, std::string>>{}).has_value();
    };
    EXPECT_TRUE(refused({{"a", Dtype::F32, two, std::span(bytes).first(4)}}));          // size mismatch
    EXPECT_TRUE(refused({{"a", Dtype::U8, two, std::span(bytes).first(2)},
                         {"a", Dtype::U8, two, std::span(bytes).first(2)}}));           // repeated name
    EXPECT_TRUE(refused({{"__metadata__", Dtype::U8, two, std::span(bytes).first(2)}}));  // clashes with metadata
    EXPECT_TRUE(refused({{"\xed\xa0\x80", Dtype::U8, two, std::span(bytes).first(2)}}));  // a surrogate
}

TEST(SafetensorsReader, SurvivesEveryTruncationAndByteFlip) {
    const std::vector<std::byte> bytes(40, std::byte{1});
    const std::uint64_t shape[] = {2, 5};
    const TensorData tensors[] = {{"x", Dtype::F32, shape, std::span(bytes)}, {"y", Dtype::U8, {}, std::span(bytes).first(1)}};
    const std::pair<std::string, std::string> metadata[] = {{"key", "k"}};
    const auto file = written_file(tensors, metadata);
    const std::size_t data_start = file.size() - 41;
    for (std::size_t n = 0; n < file.size(); ++n) {
        // Every cut inside the header or the data leaves something unreadable.
        EXPECT_FALSE(parse_safetensors(std::span(file).first(n)).has_value()) << n;
    }
    for (std::size_t i = 0; i < data_start; ++i) {
        for (int v : {0x00, 0x22, 0x2c, 0x30, 0x39, 0x5b, 0x7b, 0x7d, 0xff}) {
            auto mutated = file;
            mutated[i] = static_cast<std::byte>(v);
            const auto parsed = parse_safetensors(mutated);
            if (!parsed) continue;
            for (const TensorEntry& t : parsed->tensors) {
                EXPECT_LE(parsed->data_start + t.end, mutated.size());
                EXPECT_EQ(t.end - t.begin, tensor_byte_size(t.dtype, t.shape));
            }
        }
    }
}

TEST(TensorByteSize, ChecksOverflowAndWholeBytes) {
    const std::uint64_t big[] = {std::uint64_t{1} << 61};
    const std::uint64_t bigger[] = {std::uint64_t{1} << 62};
    const std::uint64_t zero_with_huge[] = {std::numeric_limits<std::uint64_t>::max(), 2, 0};
    const std::uint64_t odd[] = {3};
    EXPECT_EQ(tensor_byte_size(Dtype::U8, big), std::uint64_t{1} << 61);
    EXPECT_EQ(tensor_byte_size(Dtype::F64, bigger), std::nullopt);
    EXPECT_EQ(tensor_byte_size(Dtype::F4, bigger), std::uint64_t{1} << 61);
    EXPECT_EQ(tensor_byte_size(Dtype::F64, zero_with_huge), 0u);
    EXPECT_EQ(tensor_byte_size(Dtype::F4, odd), std::nullopt);
    EXPECT_EQ(tensor_byte_size(Dtype::F6_E2M3, std::span<const std::uint64_t>{}), std::nullopt);
    EXPECT_EQ(tensor_byte_size(Dtype::C64, std::span<const std::uint64_t>{}), 8u);
}

struct Utf8Case {
    const char* bytes;
    bool valid;
    const char* lossy;
};

class Utf8 : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8, ValidityAndReplacement) {
    const Utf8Case& c = GetParam();
    EXPECT_EQ(is_valid_utf8(c.bytes), c.valid) << c.bytes;
    EXPECT_EQ(to_utf8_lossy(c.bytes), c.lossy);
}

#define R_ "\xef\xbf\xbd"
INSTANTIATE_TEST_SUITE_P(
    Table, Utf8,
    ::testing::Values(Utf8Case{"plain /path", true, "plain /path"}, Utf8Case{"\xce\xb4\xe2\x82\xac\xf0\x9f\x8e\xb5", true, "\xce\xb4\xe2\x82\xac\xf0\x9f\x8e\xb5"},
                      Utf8Case{"a\xff" "b", false, "a" R_ "b"}, Utf8Case{"\xc0\xaf", false, R_ R_},            // overlong
                      Utf8Case{"\xed\xa0\x80", false, R_ R_ R_},                                       // surrogate
                      Utf8Case{"\xe2\x82", false, R_}, Utf8Case{"\xe2\x82x", false, R_ "x"},         // truncated
                      Utf8Case{"\xf4\x90\x80\x80", false, R_ R_ R_ R_},                                // past U+10FFFF
                      Utf8Case{"\xf0\x9f\x8e", false, R_}, Utf8Case{"\x80", false, R_}));

TEST(JoinPath, InsertsOneSeparatorAndKeepsPartsVerbatim) {
    EXPECT_EQ(join_path("", "mixdb.db"), "mixdb.db");
    EXPECT_EQ(join_path("/data", "mixdb.db"), "/data/mixdb.db");
    EXPECT_EQ(join_path("/data/", "mixdb.db"), "/data/mixdb.db");
    EXPECT_EQ(join_path("/data", "/abs"), "/data//abs");
    EXPECT_EQ(join_path("/data", "a/b"), "/data/a/b");
}

}  // namespace
}  // namespace corvala::kernel
