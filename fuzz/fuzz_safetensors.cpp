// The safetensors reader. What it accepts must lie inside the file, and written back by the
// header writer it must read back as the same tensors and metadata.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ext/kernel/safetensors.h"
#include "fuzz/fuzz.h"

using namespace corvala;
using kernel::SafetensorsHeader;

namespace {

bool same_tensors(const SafetensorsHeader& a, std::span<const std::byte> file_a, const SafetensorsHeader& b,
                  std::span<const std::byte> file_b) {
    if (a.tensors.size() != b.tensors.size() || a.metadata != b.metadata) return false;
    for (std::size_t i = 0; i < a.tensors.size(); ++i) {
        const auto& x = a.tensors[i];
        const auto& y = b.tensors[i];
        const auto dx = a.data(file_a, x);
        const auto dy = b.data(file_b, y);
        if (x.name != y.name || x.dtype != y.dtype || x.shape != y.shape || dx.size() != dy.size() ||
            (dx.size() != 0 && std::memcmp(dx.data(), dy.data(), dx.size()) != 0)) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto file = fuzz::as_bytes(data, size);
    const auto header = kernel::parse_safetensors(file);
    if (!header) return 0;
    FUZZ_CHECK(header->data_start >= 8 && header->data_start <= file.size());

    std::vector<kernel::TensorData> tensors;
    std::size_t data_bytes = 0;
    for (const auto& t : header->tensors) {
        FUZZ_CHECK(t.begin <= t.end && t.end <= file.size() - header->data_start);
        const auto bytes = header->data(file, t);
        FUZZ_CHECK(kernel::tensor_byte_size(t.dtype, t.shape) == bytes.size());
        tensors.push_back({t.name, t.dtype, t.shape, bytes});
        data_bytes += bytes.size();
    }
    const auto text = kernel::serialize_header(tensors, header->metadata);
    FUZZ_CHECK(text.has_value());
    FUZZ_CHECK(text->size() % 8 == 0);

    std::vector<std::byte> again;
    again.reserve(8 + text->size() + data_bytes);
    const auto length = kernel::header_length_bytes(text->size());
    again.insert(again.end(), length.begin(), length.end());
    const auto* chars = reinterpret_cast<const std::byte*>(text->data());
    again.insert(again.end(), chars, chars + text->size());
    for (const auto& t : tensors) again.insert(again.end(), t.data.begin(), t.data.end());
    const auto reread = kernel::parse_safetensors(again);
    FUZZ_CHECK(reread.has_value());
    FUZZ_CHECK(same_tensors(*header, file, *reread, again));
    return 0;
}
