#include "ext/kernel/data_io.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <new>
#include <system_error>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "ext/kernel/store.h"

namespace corvala::kernel {

namespace {

constexpr std::string_view ARTIFACT_SUFFIX = ".safetensors";

std::string item_file_name(std::string_view item) { return std::string(item) + std::string(ARTIFACT_SUFFIX); }

// The system calls would stop at a NUL and reach another file.
bool has_nul(std::string_view path) { return path.find('\0') != std::string_view::npos; }

std::optional<std::vector<std::string>> parse_str_keys(const std::string& text, std::string& description) {
    try {
        const nlohmann::json json = nlohmann::json::parse(text);
        if (!json.is_array()) {
            description = "expected a JSON array of strings, got " + std::string(json.type_name());
            return std::nullopt;
        }
        std::vector<std::string> keys;
        keys.reserve(json.size());
        for (const auto& element : json) {
            if (!element.is_string()) {
                description = "expected a JSON array of strings, found an element of type " +
                              std::string(element.type_name());
                return std::nullopt;
            }
            keys.push_back(element.get<std::string>());
        }
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        return keys;
    } catch (const nlohmann::json::exception& e) {
        description = e.what();
        return std::nullopt;
    }
}

// The compact JSON array of the sorted, unique names.
std::expected<std::string, std::string> str_keys_json(std::span<const std::string> str_keys) {
    std::vector<std::string> keys(str_keys.begin(), str_keys.end());
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    try {
        return nlohmann::json(keys).dump();
    } catch (const nlohmann::json::exception& e) {
        return std::unexpected(std::string(e.what()));
    }
}

}  // namespace

ArtifactContext make_artifact_context(std::string location, std::int64_t kernel_epoch) {
    std::string digest = read_plan_digest(location);
    return ArtifactContext{std::move(location), std::move(digest), kernel_epoch};
}

std::string sha256_hex(std::string_view data) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1) {
        return {};
    }
    constexpr std::string_view HEX = "0123456789abcdef";
    std::string out;
    out.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        out += HEX[digest[i] >> 4];
        out += HEX[digest[i] & 0xF];
    }
    return out;
}

std::string artifact_key(std::string_view plan_digest, std::string_view name, std::string_view index,
                         std::string_view item, std::int64_t kernel_epoch) {
    std::string material;
    material.reserve(plan_digest.size() + name.size() + index.size() + item.size() + 24);
    for (std::string_view part : {plan_digest, name, index, item}) {
        material += part;
        material += '\0';
    }
    material += std::to_string(kernel_epoch);
    return sha256_hex(material);
}

std::string artifact_directory(const ArtifactContext& context, std::string_view name, std::string_view index) {
    return join_path(join_path(context.location, name), index);
}

std::string artifact_path(const ArtifactContext& context, std::string_view name, std::string_view index,
                          std::string_view item) {
    return join_path(artifact_directory(context, name, index), item_file_name(item));
}

bool ArtifactHit::is_text(std::string_view tensor_name) const {
    return std::binary_search(str_keys.begin(), str_keys.end(), tensor_name);
}

std::expected<std::optional<ArtifactHit>, KernelError> parse_artifact(const ArtifactContext& context,
                                                                     std::string_view name, std::string_view index,
                                                                     std::string_view item,
                                                                     std::span<const std::byte> file) {
    ArtifactHit hit;
    hit.file = file;
    try {
        auto header = parse_safetensors(hit.file);
        if (!header) {
            return std::nullopt;
        }
        hit.header = std::move(*header);
    } catch (const std::bad_alloc&) {
        return std::unexpected(KernelError::internal_fault("out of memory reading a cache artifact"));
    }
    const std::string* key = hit.header.find_metadata("key");
    if (key == nullptr || *key != artifact_key(context.plan_digest, name, index, item, context.kernel_epoch)) {
        return std::nullopt;
    }
    if (const std::string* text = hit.header.find_metadata("str_keys")) {
        std::string description;
        auto keys = parse_str_keys(*text, description);
        if (!keys) {
            return std::unexpected(KernelError::value("corrupt str_keys metadata in cache artifact: " + description));
        }
        hit.str_keys = std::move(*keys);
    }
    return hit;
}

std::expected<std::optional<ArtifactHit>, KernelError> read_artifact(const ArtifactContext& context,
                                                                    std::string_view name, std::string_view index,
                                                                    std::string_view item,
                                                                    const FileAllocator& allocate) {
    std::unique_ptr<std::byte[]> owned;
    std::span<const std::byte> file;
    try {
        const FileAllocator own = [&owned](std::size_t size) {
            owned = std::make_unique_for_overwrite<std::byte[]>(size);
            return owned.get();
        };
        const std::string path = artifact_path(context, name, index, item);
        if (has_nul(path)) {
            return std::nullopt;
        }
        const auto read = read_whole_file(path, allocate ? allocate : own);
        if (!read) {
            if (read.error() == ReadFailure::out_of_memory) {
                return std::unexpected(KernelError::internal_fault("out of memory reading a cache artifact"));
            }
            return std::nullopt;
        }
        file = *read;
    } catch (const std::bad_alloc&) {
        return std::unexpected(KernelError::internal_fault("out of memory reading a cache artifact"));
    }
    auto hit = parse_artifact(context, name, index, item, file);
    if (hit && *hit) {
        (*hit)->owned_file = std::move(owned);  // the span stays valid: the storage does not move
    }
    return hit;
}

std::expected<void, KernelError> write_artifact(const ArtifactContext& context, std::string_view name,
                                                std::string_view index, std::string_view item,
                                                std::span<const TensorData> tensors,
                                                std::span<const std::string> str_keys) {
    std::unordered_set<std::string_view> names;
    for (const TensorData& t : tensors) {
        if (t.name == "__metadata__" || !names.insert(t.name).second) {
            return std::unexpected(KernelError::value("duplicate tensor name in cache artifact: " + std::string(t.name)));
        }
        const auto size = tensor_byte_size(t.dtype, t.shape);
        if (!size || *size != t.data.size()) {
            return std::unexpected(KernelError::internal_fault("cache tensor '" + std::string(t.name) +
                                                               "' data does not match its dtype and shape"));
        }
    }

    const std::string dir = artifact_directory(context, name, index);
    if (has_nul(dir) || has_nul(item)) {
        return std::unexpected(KernelError::runtime("failed to create cache directory: embedded null byte in path"));
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);  // 0777 before the umask
    if (ec) {
        return std::unexpected(
            KernelError::runtime("failed to create cache directory: " + ec.message() + ": '" + dir + "'"));
    }

    auto str_keys_text = str_keys_json(str_keys);
    if (!str_keys_text) {
        return std::unexpected(KernelError::runtime("failed to persist cache artifact: " + str_keys_text.error()));
    }
    const std::pair<std::string, std::string> metadata[] = {
        {"key", artifact_key(context.plan_digest, name, index, item, context.kernel_epoch)},
        {"kernel_epoch", std::to_string(context.kernel_epoch)},
        {"str_keys", std::move(*str_keys_text)},
    };
    auto header = serialize_header(tensors, metadata);
    if (!header) {
        return std::unexpected(KernelError::runtime("failed to persist cache artifact: " + header.error()));
    }
    const auto length = header_length_bytes(header->size());
    std::vector<std::span<const std::byte>> chunks;
    chunks.reserve(tensors.size() + 2);
    chunks.emplace_back(length);
    chunks.emplace_back(reinterpret_cast<const std::byte*>(header->data()), header->size());
    for (const TensorData& t : tensors) {
        chunks.push_back(t.data);
    }
    auto written = write_file_atomically(dir, item_file_name(item), chunks);
    if (!written) {
        return std::unexpected(KernelError::runtime("failed to persist cache artifact: " + written.error()));
    }
    return {};
}

}  // namespace corvala::kernel
