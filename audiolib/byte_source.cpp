#include "audiolib/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace corvala::audiolib {

std::expected<void, AudioError> ByteSource::skip(std::uint64_t n) {
    if (n > remaining()) {
        return std::unexpected(end_of_data_error());
    }
    position_ += n;
    return {};
}

std::expected<void, AudioError> MemorySource::read(std::byte* dst, std::size_t n) {
    if (n > remaining()) {
        return std::unexpected(end_of_data_error());
    }
    if (n != 0) {
        std::memcpy(dst, data_ + position_, n);
    }
    position_ += n;
    return {};
}

std::expected<const std::byte*, AudioError> MemorySource::take(std::size_t n, std::byte*) {
    if (n > remaining()) {
        return std::unexpected(end_of_data_error());
    }
    const std::byte* p = data_ + position_;
    position_ += n;
    return p;
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

FileHandle::~FileHandle() {
    if (fd_ >= 0) ::close(fd_);
}

std::expected<OpenFile, AudioError> open_file(const std::string& path) {
    // The system call would stop at a null byte and open another file.
    if (path.find('\0') != std::string::npos) {
        return std::unexpected(AudioError{AudioErrorKind::io, "file name contains a null byte"});
    }
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return std::unexpected(os_error(errno));
    }
    OpenFile file{FileHandle(fd), 0};
    struct stat st{};
    if (::fstat(fd, &st) != 0) {
        return std::unexpected(os_error(errno));
    }
    if (S_ISDIR(st.st_mode)) {
        return std::unexpected(os_error(EISDIR));
    }
    if (S_ISREG(st.st_mode) && st.st_size > 0) {
        file.size = static_cast<std::uint64_t>(st.st_size);
    }
    return file;
}

std::expected<void, AudioError> read_at(int fd, std::uint64_t offset, std::byte* dst, std::size_t n) {
    while (n > 0) {
        const ssize_t got = ::pread(fd, dst, n, static_cast<off_t>(offset));
        if (got < 0) {
            if (errno == EINTR) continue;
            return std::unexpected(os_error(errno));
        }
        if (got == 0) {
            // The file shrank after it was opened.
            return std::unexpected(end_of_data_error());
        }
        const auto count = static_cast<std::size_t>(got);
        dst += count;
        n -= count;
        offset += count;
    }
    return {};
}

FileSource::FileSource(OpenFile file, std::size_t buffer_size)
    : ByteSource(file.size), handle_(std::move(file.handle)), buffer_(buffer_size) {}

std::expected<void, AudioError> FileSource::read(std::byte* dst, std::size_t n) {
    if (n > remaining()) {
        return std::unexpected(end_of_data_error());
    }
    // Whatever the buffer already holds of the range.
    if (position_ >= buffer_start_ && position_ < buffer_start_ + buffer_length_) {
        const auto offset = static_cast<std::size_t>(position_ - buffer_start_);
        const std::size_t count = std::min(n, buffer_length_ - offset);
        std::memcpy(dst, buffer_.data() + offset, count);
        dst += count;
        n -= count;
        position_ += count;
    }
    if (n == 0) {
        return {};
    }
    // Large reads go straight to the destination; small ones refill the buffer.
    if (n >= buffer_.size() / 2) {
        if (auto r = read_at(handle_.get(), position_, dst, n); !r) {
            return r;
        }
        position_ += n;
        return {};
    }
    const std::size_t fill = static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size(), remaining()));
    buffer_start_ = position_;
    buffer_length_ = 0;
    if (auto r = read_at(handle_.get(), position_, buffer_.data(), fill); !r) {
        return r;
    }
    buffer_length_ = fill;
    std::memcpy(dst, buffer_.data(), n);
    position_ += n;
    return {};
}

std::expected<const std::byte*, AudioError> FileSource::take(std::size_t n, std::byte* scratch) {
    if (auto r = read(scratch, n); !r) {
        return std::unexpected(std::move(r.error()));
    }
    return scratch;
}

}  // namespace corvala::audiolib
