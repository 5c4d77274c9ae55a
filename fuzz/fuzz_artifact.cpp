// The artifact reader over a file's bytes, with a fixed context whose key the seeds carry. A hit
// written back through the artifact writer must read back from disk as the same hit.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ext/kernel/data_io.h"
#include "fuzz/fuzz.h"

using namespace corvala;

namespace {

const kernel::ArtifactContext& context() {
    static const kernel::ArtifactContext c{fuzz::scratch_directory(), std::string(fuzz::ARTIFACT_DIGEST),
                                           fuzz::ARTIFACT_EPOCH};
    return c;
}

std::expected<std::optional<kernel::ArtifactHit>, kernel::KernelError> parse(std::span<const std::byte> file) {
    return kernel::parse_artifact(context(), fuzz::ARTIFACT_NAME, fuzz::ARTIFACT_INDEX, fuzz::ARTIFACT_ITEM, file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto hit = parse(fuzz::as_bytes(data, size));
    if (!hit) {
        FUZZ_CHECK(!hit.error().message.empty());
        return 0;
    }
    if (!*hit) return 0;
    const kernel::ArtifactHit& h = **hit;
    FUZZ_CHECK(std::is_sorted(h.str_keys.begin(), h.str_keys.end()));
    FUZZ_CHECK(std::adjacent_find(h.str_keys.begin(), h.str_keys.end()) == h.str_keys.end());

    std::vector<kernel::TensorData> tensors;
    for (const auto& t : h.tensors()) tensors.push_back({t.name, t.dtype, t.shape, h.data(t)});
    const auto written = kernel::write_artifact(context(), fuzz::ARTIFACT_NAME, fuzz::ARTIFACT_INDEX,
                                                fuzz::ARTIFACT_ITEM, tensors, h.str_keys);
    FUZZ_CHECK(written.has_value());
    const auto back = kernel::read_artifact(context(), fuzz::ARTIFACT_NAME, fuzz::ARTIFACT_INDEX, fuzz::ARTIFACT_ITEM);
    FUZZ_CHECK(back.has_value() && back->has_value());
    const kernel::ArtifactHit& b = **back;
    FUZZ_CHECK(b.str_keys == h.str_keys);
    FUZZ_CHECK(b.tensors().size() == h.tensors().size());
    for (std::size_t i = 0; i < h.tensors().size(); ++i) {
        const auto& x = h.tensors()[i];
        const auto& y = b.tensors()[i];
        FUZZ_CHECK(x.name == y.name && x.dtype == y.dtype && x.shape == y.shape);
        const auto dx = h.data(x);
        const auto dy = b.data(y);
        FUZZ_CHECK(dx.size() == dy.size() && (dx.empty() || std::memcmp(dx.data(), dy.data(), dx.size()) == 0));
    }
    return 0;
}
