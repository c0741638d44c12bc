#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <system_error>

#include "platform/file.h"
#include "platform/program_dir.h"

namespace gifanim::platform {

std::filesystem::path program_dir() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : exe.parent_path();
}

namespace {
std::atomic<unsigned> replacement_counter{0};

[[noreturn]] void throw_code(int code) {
    throw FileError{code, describe_system_error(code)};
}

// The descriptor of the new file, closed on every path.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

void write_all(int fd, std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw_code(errno);
        }
        done += static_cast<std::size_t>(n);
    }
}
}  // namespace

void replace_file(const std::filesystem::path& target, std::span<const std::uint8_t> bytes) {
    const std::filesystem::path folder = target.parent_path();
    Descriptor out;
    std::filesystem::path temp;
    // The process id keeps two programs apart, the counter two threads of one; a name that is
    // still taken (left over by a crash) just moves on to the next number.
    for (int attempt = 0; out.fd < 0; ++attempt) {
        temp = folder / (target.filename().string() + "." + std::to_string(::getpid()) + "-" +
                         std::to_string(replacement_counter.fetch_add(1)) + ".tmp");
        out.fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (out.fd < 0 && (errno != EEXIST || attempt == 100)) throw_code(errno);
    }
    try {
        // The new file keeps the permissions of the one it replaces.
        struct stat old {};
        if (::stat(target.c_str(), &old) == 0 && ::fchmod(out.fd, old.st_mode & 07777) != 0) throw_code(errno);
        write_all(out.fd, bytes);
        if (::fsync(out.fd) != 0) throw_code(errno);
        const int fd = out.fd;
        out.fd = -1;
        if (::close(fd) != 0) throw_code(errno);
        if (::rename(temp.c_str(), target.c_str()) != 0) throw_code(errno);
    } catch (...) {
        ::unlink(temp.c_str());
        throw;
    }
    // The rename itself reaches the disk with the folder's entries; the file is already whole,
    // so a failure here loses at most the change, never the file.
    Descriptor dir;
    dir.fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir.fd >= 0) ::fsync(dir.fd);
}

}  // namespace gifanim::platform
