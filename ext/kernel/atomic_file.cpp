#include "ext/kernel/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <random>
#include <system_error>

#include "ext/kernel/store.h"

namespace corvala::kernel {

namespace {

constexpr std::size_t WRITE_BUFFER_BYTES = std::size_t{1} << 20;
constexpr int TEMPORARY_NAME_ATTEMPTS = 128;
constexpr std::string_view ALPHANUMERICS = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

std::string system_error_text(int error, std::string_view what, const std::string& path) {
    return std::string(what) + " '" + path + "': " + std::error_code(error, std::generic_category()).message();
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    // Closes now, reporting the error a deferred write may surface only here.
    int close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

bool write_all(int fd, const std::byte* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// A write buffer in the manner of a buffered stream: small chunks are gathered, a chunk at least
// as large as the buffer goes straight to the file once the buffer is drained.
class BufferedWriter {
public:
    explicit BufferedWriter(int fd) : fd_(fd), buffer_(std::make_unique_for_overwrite<std::byte[]>(WRITE_BUFFER_BYTES)) {}

    bool write(std::span<const std::byte> chunk) {
        // An empty tensor's bytes may have no address at all, which memcpy must not be given.
        if (chunk.empty()) return true;
        if (used_ + chunk.size() > WRITE_BUFFER_BYTES && !flush()) return false;
        if (chunk.size() >= WRITE_BUFFER_BYTES) return write_all(fd_, chunk.data(), chunk.size());
        std::memcpy(buffer_.get() + used_, chunk.data(), chunk.size());
        used_ += chunk.size();
        return true;
    }

    bool flush() {
        const bool ok = write_all(fd_, buffer_.get(), used_);
        used_ = 0;
        return ok;
    }

private:
    int fd_;
    std::unique_ptr<std::byte[]> buffer_;
    std::size_t used_ = 0;
};

std::string random_suffix(std::mt19937_64& rng) {
    std::uniform_int_distribution<std::size_t> pick(0, ALPHANUMERICS.size() - 1);
    std::string out(6, '0');
    for (char& c : out) c = ALPHANUMERICS[pick(rng)];
    return out;
}

struct Temporary {
    int fd = -1;
    std::string path;
};

std::expected<Temporary, std::string> create_temporary(const std::string& dir) {
    // Seeded per call, so that forked processes do not walk the same names.
    std::random_device device;
    std::mt19937_64 rng((static_cast<std::uint64_t>(device()) << 32) ^ device() ^
                        static_cast<std::uint64_t>(::getpid()));
    for (int attempt = 0; attempt < TEMPORARY_NAME_ATTEMPTS; ++attempt) {
        std::string path = join_path(dir, ".tmp" + random_suffix(rng));
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) return Temporary{fd, std::move(path)};
        if (errno != EEXIST) return std::unexpected(system_error_text(errno, "cannot create temporary file", path));
    }
    return std::unexpected(std::string("too many temporary files exist"));
}

}  // namespace

std::expected<std::span<std::byte>, ReadFailure> read_whole_file(const std::string& path,
                                                                 const FileAllocator& allocate) {
    // Non-blocking, so that a FIFO at the path does not wait for a writer.
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
        return std::unexpected(ReadFailure::unreadable);
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    std::byte* data = allocate(size);
    if (data == nullptr && size != 0) {
        return std::unexpected(ReadFailure::out_of_memory);
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd.get(), data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::unexpected(ReadFailure::unreadable);
        done += static_cast<std::size_t>(n);
    }
    return std::span<std::byte>(data, size);
}

std::expected<void, std::string> write_file_atomically(const std::string& dir, const std::string& file_name,
                                                       std::span<const std::span<const std::byte>> chunks) {
    auto temporary = create_temporary(dir);
    if (!temporary) {
        return std::unexpected(std::move(temporary.error()));
    }
    const std::string temp_path = temporary->path;
    Descriptor fd(temporary->fd);
    const auto fail = [&](std::string text) -> std::expected<void, std::string> {
        ::unlink(temp_path.c_str());
        return std::unexpected(std::move(text));
    };
    // The mode must not depend on the umask.
    if (::fchmod(fd.get(), 0600) != 0) {
        return fail(system_error_text(errno, "cannot set the mode of", temp_path));
    }
#ifdef F_NOCACHE
    // Large artifacts should not crowd the page cache where the platform allows avoiding it.
    (void)::fcntl(fd.get(), F_NOCACHE, 1);
#endif
    std::uint64_t size = 0;
    for (auto chunk : chunks) size += chunk.size();
    if (::ftruncate(fd.get(), static_cast<off_t>(size)) != 0) {
        return fail(system_error_text(errno, "cannot set the length of", temp_path));
    }
    BufferedWriter writer(fd.get());
    for (auto chunk : chunks) {
        if (!writer.write(chunk)) return fail(system_error_text(errno, "cannot write", temp_path));
    }
    if (!writer.flush()) {
        return fail(system_error_text(errno, "cannot write", temp_path));
    }
    if (fd.close() != 0) {
        return fail(system_error_text(errno, "cannot close", temp_path));
    }
    const std::string target = join_path(dir, file_name);
    if (::rename(temp_path.c_str(), target.c_str()) != 0) {
        return fail(system_error_text(errno, "cannot rename the temporary file to", target));
    }
    return {};
}

}  // namespace corvala::kernel
