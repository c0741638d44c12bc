#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/file.h"

namespace gifanim::platform {

std::string describe_system_error(int code) {
    char buffer[256];
    // The GNU strerror_r returns a pointer that may or may not be the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return cut_gbk(text ? text : "", 255);
}

namespace {
[[noreturn]] void throw_errno() {
    const int code = errno;
    throw FileError{code, describe_system_error(code)};
}
}  // namespace

File File::open_read(const std::filesystem::path& path) {
    File f;
    f.fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (f.fd_ < 0) throw_errno();
    struct stat st {};
    if (::fstat(f.fd_, &st) != 0) throw_errno();
    if (S_ISDIR(st.st_mode)) throw FileError{EISDIR, describe_system_error(EISDIR)};
    return f;
}

File File::create(const std::filesystem::path& path) {
    File f;
    f.fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (f.fd_ < 0) throw_errno();
    return f;
}

namespace {
std::atomic<unsigned> beside_counter{0};
}  // namespace

File File::create_beside(const std::filesystem::path& target, std::filesystem::path& temp) {
    File f;
    // The process id keeps two programs apart, the counter two threads of one; a name that is
    // still taken (left over by a crash) just moves on to the next number.
    for (int attempt = 0; f.fd_ < 0; ++attempt) {
        temp = target.parent_path() /
               ("~gifanim-" + std::to_string(::getpid()) + "-" + std::to_string(beside_counter.fetch_add(1)) + ".tmp");
        f.fd_ = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (f.fd_ < 0 && (errno != EEXIST || attempt == 100)) throw_errno();
    }
    // The new file keeps the permissions of the one it replaces.
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && ::fchmod(f.fd_, old.st_mode & 07777) != 0) {
        const int code = errno;
        f = File();
        ::unlink(temp.c_str());
        throw FileError{code, describe_system_error(code)};
    }
    return f;
}

void File::commit_over(const std::filesystem::path& temp, const std::filesystem::path& target) {
    flush_direct();
    if (::fsync(fd_) != 0) throw_errno();
    close();
    if (::rename(temp.c_str(), target.c_str()) != 0) throw_errno();
    // The rename reaches the disk with the folder's entries; the file is already whole, so a
    // failure here loses at most the change, never the file.
    const std::filesystem::path folder = target.parent_path();
    const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

// Direct writes go in whole blocks of this size, from memory aligned to it, at offsets that are
// multiples of it: 4 KiB satisfies every file system that takes them.
constexpr std::size_t kBlock = 4096;
constexpr std::size_t kDirectBuffer = std::size_t{1} << 20;

struct File::Aligned {
    struct Free {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<std::uint8_t, Free> bytes;
    std::size_t filled = 0;
};

void File::bypass_cache() {
#ifdef O_DIRECT
    if (fd_ < 0 || direct_) return;
    auto direct = std::make_unique<Aligned>();
    direct->bytes.reset(static_cast<std::uint8_t*>(std::aligned_alloc(kBlock, kDirectBuffer)));
    const int flags = ::fcntl(fd_, F_GETFL);
    if (!direct->bytes || flags < 0 || ::lseek(fd_, 0, SEEK_CUR) != 0 || ::fcntl(fd_, F_SETFL, flags | O_DIRECT) != 0)
        return;
    direct_ = std::move(direct);
#endif
}

void File::write_direct(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const std::size_t take = std::min(bytes.size(), kDirectBuffer - direct_->filled);
        std::memcpy(direct_->bytes.get() + direct_->filled, bytes.data(), take);
        direct_->filled += take;
        bytes = bytes.subspan(take);
        if (direct_->filled < kDirectBuffer) return;
        const ssize_t n = ::write(fd_, direct_->bytes.get(), kDirectBuffer);
        if (n == static_cast<ssize_t>(kDirectBuffer)) {
            direct_->filled = 0;
            continue;
        }
        if (n < 0 && errno != EINVAL && errno != EINTR) throw_errno();
        // The file system took the flag but not the write (or a part of it): the rest goes
        // through the cache.
        end_direct(n > 0 ? static_cast<std::size_t>(n) : 0);
        write(bytes);
        return;
    }
}

void File::flush_direct() {
    if (!direct_) return;
    // The whole blocks directly, then the last part of one through the cache.
    const std::size_t whole = direct_->filled / kBlock * kBlock;
    std::size_t done = 0;
    if (whole > 0) {
        const ssize_t n = ::write(fd_, direct_->bytes.get(), whole);
        if (n < 0 && errno != EINVAL) throw_errno();
        done = n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    end_direct(done);
}

void File::end_direct(std::size_t done) {
    const std::unique_ptr<Aligned> direct = std::move(direct_);
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_DIRECT) != 0) throw_errno();
    write({direct->bytes.get() + done, direct->filled - done});
}

File::File(File&& other) noexcept : fd_(other.fd_), direct_(std::move(other.direct_)) { other.fd_ = -1; }

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        direct_ = std::move(other.direct_);
        other.fd_ = -1;
    }
    return *this;
}

File::~File() {
    if (fd_ >= 0) ::close(fd_);
}

std::uint64_t File::size() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) throw_errno();
    return static_cast<std::uint64_t>(st.st_size);
}

void File::read(std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::read(fd_, out.data() + done, out.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw_errno();
        }
        if (n == 0) throw FileError{EIO, "Unexpected end of file"};
        done += static_cast<std::size_t>(n);
    }
}

void File::write(std::span<const std::uint8_t> bytes) {
    if (direct_) {
        write_direct(bytes);
        return;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw_errno();
        }
        done += static_cast<std::size_t>(n);
    }
}

void File::close() {
    if (fd_ < 0) return;
    flush_direct();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throw_errno();
}

}  // namespace gifanim::platform
