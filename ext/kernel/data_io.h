// Cache artifacts: one safetensors file per (name, index, item) under a dataset's location,
// keyed by a SHA-256 digest of the plan digest, the triple and the kernel epoch. A missing,
// stale or corrupt artifact is a miss, not an error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ext/kernel/atomic_file.h"
#include "ext/kernel/kernel_error.h"
#include "ext/kernel/safetensors.h"

namespace corvala::kernel {

inline constexpr std::int64_t KERNEL_EPOCH = 2;

struct ArtifactContext {
    std::string location;
    std::string plan_digest;
    std::int64_t kernel_epoch = KERNEL_EPOCH;
};

// The context of a dataset, with its plan digest read now.
ArtifactContext make_artifact_context(std::string location, std::int64_t kernel_epoch);

// SHA-256 of `data` as 64 lowercase hexadecimal characters.
std::string sha256_hex(std::string_view data);

// SHA-256 over: plan digest, 0, name, 0, index, 0, item, 0, epoch in decimal.
std::string artifact_key(std::string_view plan_digest, std::string_view name, std::string_view index,
                         std::string_view item, std::int64_t kernel_epoch);

// `<location>/<name>/<index>`, each part taken verbatim.
std::string artifact_directory(const ArtifactContext& context, std::string_view name, std::string_view index);
std::string artifact_path(const ArtifactContext& context, std::string_view name, std::string_view index,
                          std::string_view item);

// A hit: the tensors (in header order) and the names of those that hold text, over the file as
// read. The file's storage is owned by the hit unless the caller's allocator provided it.
struct ArtifactHit {
    SafetensorsHeader header;
    std::vector<std::string> str_keys;  // sorted, unique
    std::span<const std::byte> file;
    std::unique_ptr<std::byte[]> owned_file;

    const std::vector<TensorEntry>& tensors() const { return header.tensors; }
    std::span<const std::byte> data(const TensorEntry& tensor) const { return header.data(file, tensor); }
    bool is_text(std::string_view tensor_name) const;
};

// The checks of read_artifact over a file already in memory; a hit borrows `file`.
std::expected<std::optional<ArtifactHit>, KernelError> parse_artifact(const ArtifactContext& context,
                                                                     std::string_view name, std::string_view index,
                                                                     std::string_view item,
                                                                     std::span<const std::byte> file);

// A miss (nullopt), a hit, or an error: ValueError for corrupt "str_keys" metadata, NativeFault
// when there is no memory for the file. `allocate` may supply the file's storage (it must then
// outlive the hit); by default the hit allocates it.
std::expected<std::optional<ArtifactHit>, KernelError> read_artifact(const ArtifactContext& context,
                                                                    std::string_view name, std::string_view index,
                                                                    std::string_view item,
                                                                    const FileAllocator& allocate = {});

// Writes the artifact atomically; `str_keys` names the tensors that hold text (any order,
// repeats allowed). RuntimeError for file-system failures, ValueError for a repeated tensor name.
std::expected<void, KernelError> write_artifact(const ArtifactContext& context, std::string_view name,
                                                std::string_view index, std::string_view item,
                                                std::span<const TensorData> tensors,
                                                std::span<const std::string> str_keys);

}  // namespace corvala::kernel
