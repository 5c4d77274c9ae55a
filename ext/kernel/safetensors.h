// The safetensors file layout: an 8-byte little-endian header length, a JSON header, the data.
// The reader is written for untrusted files: every inconsistency is reported as no result, and
// nothing it allocates is sized from a length the file claims.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvala::kernel {

inline constexpr std::uint64_t MAX_HEADER_BYTES = 100000000;
// NumPy's own limit on dimensions; it also bounds what a header's shape lists may allocate.
inline constexpr std::size_t MAX_RANK = 64;

// Every dtype the format defines. The first thirteen are the ones the cache converts; the others
// are read (their sizes are known) but not converted.
enum class Dtype : std::uint8_t {
    BOOL, U8, I8, I16, U16, F16, I32, U32, F32, C64, F64, I64, U64,
    BF16, F8_E5M2, F8_E4M3, F8_E8M0, F6_E2M3, F6_E3M2, F4,
};

std::string_view dtype_name(Dtype dtype);
std::optional<Dtype> dtype_from_name(std::string_view name);
// Bits per element.
unsigned dtype_bits(Dtype dtype);

// Bytes of a tensor of `dtype` and `shape`; nothing when the size overflows 64 bits or does not
// fill whole bytes.
std::optional<std::uint64_t> tensor_byte_size(Dtype dtype, std::span<const std::uint64_t> shape);

struct TensorEntry {
    std::string name;
    Dtype dtype = Dtype::U8;
    std::vector<std::uint64_t> shape;
    std::uint64_t begin = 0;  // offsets relative to the data section
    std::uint64_t end = 0;
};

struct SafetensorsHeader {
    std::vector<TensorEntry> tensors;  // in header order
    bool has_metadata = false;
    std::vector<std::pair<std::string, std::string>> metadata;  // in header order, keys unique
    std::size_t data_start = 0;  // offset of the data section in the file

    const std::string* find_metadata(std::string_view key) const;
    std::span<const std::byte> data(std::span<const std::byte> file, const TensorEntry& tensor) const {
        return file.subspan(data_start + static_cast<std::size_t>(tensor.begin),
                            static_cast<std::size_t>(tensor.end - tensor.begin));
    }
};

// Parses and validates a whole file: header length within the file and the limit, a JSON object
// of tensor entries {"dtype", "shape", "data_offsets"} and an optional "__metadata__" map of
// strings, unique names, known dtypes, and data offsets that match each tensor's size and lie
// inside the data section without overlapping.
std::optional<SafetensorsHeader> parse_safetensors(std::span<const std::byte> file);

// One tensor to write; the data is borrowed.
struct TensorData {
    std::string_view name;
    Dtype dtype = Dtype::U8;
    std::span<const std::uint64_t> shape;
    std::span<const std::byte> data;
};

// The JSON header for `tensors` laid out back to back in the given order, "__metadata__" first,
// padded with spaces to a multiple of 8 bytes. Fails with a description when a name repeats or
// is not UTF-8, a tensor's data does not match its dtype and shape, or the header is too long.
std::expected<std::string, std::string> serialize_header(
    std::span<const TensorData> tensors, std::span<const std::pair<std::string, std::string>> metadata);

// The 8 little-endian bytes of a header length.
std::array<std::byte, 8> header_length_bytes(std::uint64_t length);

}  // namespace corvala::kernel
