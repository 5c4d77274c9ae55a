// Byte sources the readers parse: a file read through a buffer, or bytes already in memory.
// Both know their real size, so a declared size can be checked before anything is allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "audiolib/audio_error.h"

namespace corvala::audiolib {

class ByteSource {
public:
    virtual ~ByteSource() = default;

    std::uint64_t size() const { return size_; }
    std::uint64_t position() const { return position_; }
    std::uint64_t remaining() const { return size_ - position_; }

    // Reads exactly n bytes into dst. When fewer remain, reads nothing and fails with the
    // end-of-data I/O error.
    virtual std::expected<void, AudioError> read(std::byte* dst, std::size_t n) = 0;
    // The next n bytes: the source's own memory when it has the bytes in memory (borrows()),
    // else read into `scratch`, which must have room for n bytes. Valid until the next call.
    virtual std::expected<const std::byte*, AudioError> take(std::size_t n, std::byte* scratch) = 0;
    virtual bool borrows() const = 0;

    // Moves forward over n bytes that must exist.
    std::expected<void, AudioError> skip(std::uint64_t n);
    // Moves forward like a seek, which may go past the end: what follows sees the end of data.
    void seek_forward(std::uint64_t n) { position_ = n >= remaining() ? size_ : position_ + n; }
    void rewind() { position_ = 0; }

protected:
    explicit ByteSource(std::uint64_t size) : size_(size) {}

    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const std::byte> data) : ByteSource(data.size()), data_(data.data()) {}

    std::expected<void, AudioError> read(std::byte* dst, std::size_t n) override;
    std::expected<const std::byte*, AudioError> take(std::size_t n, std::byte* scratch) override;
    bool borrows() const override { return true; }

private:
    const std::byte* data_;
};

// An open file descriptor that closes itself.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : fd_(fd) {}
    FileHandle(FileHandle&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle();

    int get() const { return fd_; }

private:
    int fd_ = -1;
};

struct OpenFile {
    FileHandle handle;
    // The size of a regular file; 0 for anything else (a pipe or device has no size to check
    // declared sizes against, so it reads as empty rather than without bound).
    std::uint64_t size = 0;
};

// Opens read-only. A directory fails like a read of it would; a FIFO does not block the open.
std::expected<OpenFile, AudioError> open_file(const std::string& path);

// Reads exactly n bytes at `offset` (short reads and interruptions retried).
std::expected<void, AudioError> read_at(int fd, std::uint64_t offset, std::byte* dst, std::size_t n);

class FileSource final : public ByteSource {
public:
    FileSource(OpenFile file, std::size_t buffer_size);

    std::expected<void, AudioError> read(std::byte* dst, std::size_t n) override;
    std::expected<const std::byte*, AudioError> take(std::size_t n, std::byte* scratch) override;
    bool borrows() const override { return false; }

private:
    FileHandle handle_;
    std::vector<std::byte> buffer_;  // holds file bytes [buffer_start_, buffer_start_ + buffer_length_)
    std::uint64_t buffer_start_ = 0;
    std::size_t buffer_length_ = 0;
};

}  // namespace corvala::audiolib
