// Shared by the fuzz targets and the seed writer.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

namespace corvala::fuzz {

inline std::span<const std::byte> as_bytes(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const std::byte*>(data), size};
}

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// A property that does not hold is a finding like a crash: report it and abort, so that libFuzzer
// keeps the input.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

// The artifact triple and context the artifact target reads with; the seed writer writes with
// the same, so that seeds carry the key the reader expects.
inline constexpr std::string_view ARTIFACT_DIGEST = "plan-digest";
inline constexpr std::string_view ARTIFACT_NAME = "mixture";
inline constexpr std::string_view ARTIFACT_INDEX = "m1";
inline constexpr std::string_view ARTIFACT_ITEM = "x";
inline constexpr std::int64_t ARTIFACT_EPOCH = 2;

// A private directory for the targets that go through the file system, removed at exit.
class ScratchDirectory {
public:
    ScratchDirectory() {
        const char* base = std::getenv("TMPDIR");
        path_ = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/corvala-fuzz-XXXXXX";
        if (::mkdtemp(path_.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline const std::string& scratch_directory() {
    static const ScratchDirectory dir;
    return dir.path();
}

// Replaces the file at `path` with `bytes`.
inline void write_file(const std::string& path, std::span<const std::byte> bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        FUZZ_CHECK(n > 0);
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

}  // namespace corvala::fuzz
