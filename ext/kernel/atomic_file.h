// Whole-file reads and atomic replacement of files, for cache artifacts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace corvala::kernel {

// Where a whole file is read to: returns storage for `size` bytes, or nullptr when it has none.
using FileAllocator = std::function<std::byte*(std::size_t size)>;

enum class ReadFailure : std::uint8_t {
    unreadable,     // missing, not a regular file, or an I/O error
    out_of_memory,  // the allocator had no storage
};

// Reads the regular file at `path` whole, into one allocation sized from its length. Files that
// grow meanwhile are read up to the length seen at open; files that shrink are unreadable.
std::expected<std::span<std::byte>, ReadFailure> read_whole_file(const std::string& path,
                                                                 const FileAllocator& allocate);

// Writes `size` bytes, the concatenation of `chunks`, to `dir`/`file_name` so that a reader sees
// the old file or the new one, never a part: a temporary ".tmp" + six random alphanumerics is
// created exclusively with mode 0600 in `dir`, set to its final length, written through a 1 MiB
// buffer and renamed over the target. No fsync: a power loss may lose the file, a killed process
// leaves at most an unrenamed temporary. On failure the temporary is removed and the error text
// returned.
std::expected<void, std::string> write_file_atomically(const std::string& dir, const std::string& file_name,
                                                       std::span<const std::span<const std::byte>> chunks);

}  // namespace corvala::kernel
