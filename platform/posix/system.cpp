#include "platform/system.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <limits>

namespace gifanim::platform {

std::filesystem::path temp_directory() {
    const char* dir = std::getenv("TMPDIR");
    if (dir && *dir) return dir;
    return "/tmp";
}

std::uint32_t tick_count() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

std::uint64_t monotonic_us() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

std::uint64_t process_cpu_us() {
    timespec used{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return static_cast<std::uint64_t>(used.tv_sec) * 1000000u + static_cast<std::uint64_t>(used.tv_nsec) / 1000u;
}

void sleep_us(std::uint64_t us) {
    timespec wait{static_cast<time_t>(us / 1000000u), static_cast<long>(us % 1000000u) * 1000};
    // A signal cuts the sleep short; the caller looks at the time and its flags again anyway.
    nanosleep(&wait, nullptr);
}

namespace {
std::atomic<unsigned> g_stop_requests{0};
static_assert(std::atomic<unsigned>::is_always_lock_free, "counted in a signal handler");
extern "C" void on_stop_signal(int) {
    g_stop_requests.fetch_add(1);
}
}  // namespace

void catch_stop_requests() {
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) sigaction(signal, &action, nullptr);
}

bool stop_requested() {
    return g_stop_requests.load() != 0;
}

unsigned stop_requests() {
    return g_stop_requests.load();
}

bool stop_is_pressing() {
    return false;
}

namespace {
std::atomic<unsigned> g_pause_requests{0};
extern "C" void on_pause_signal(int) {
    g_pause_requests.fetch_add(1);
}
}  // namespace

void catch_pause_requests() {
    struct sigaction action {};
    action.sa_handler = on_pause_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, nullptr);
}

unsigned pause_requests() {
    return g_pause_requests.load();
}

bool stderr_is_terminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

bool remove_file(const std::filesystem::path& path) {
    return ::unlink(path.c_str()) == 0;
}

namespace {
// Offsets beyond off_t cannot be addressed; they are refused rather than wrapped.
bool fits_off_t(std::uint64_t offset, std::uint64_t length) {
    constexpr auto max = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
    return offset <= max && length <= max - offset;
}
}  // namespace

PositionedFile::PositionedFile(PositionedFile&& other) noexcept : fd_(other.fd_) {
    other.fd_ = -1;
}

PositionedFile& PositionedFile::operator=(PositionedFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

PositionedFile::~PositionedFile() {
    close();
}

PositionedFile::Outcome PositionedFile::create_new(const std::filesystem::path& path, PositionedFile& out) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return errno == EEXIST ? Outcome::exists : Outcome::failed;
    out = PositionedFile();
    out.fd_ = fd;
    return Outcome::created;
}

bool PositionedFile::open_existing(const std::filesystem::path& path, PositionedFile& out) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    // A file another user planted in a shared folder, or one others may change, is not taken.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
        ::close(fd);
        return false;
    }
    out = PositionedFile();
    out.fd_ = fd;
    return true;
}

bool PositionedFile::size(std::uint64_t& out) const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || st.st_size < 0) return false;
    out = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool PositionedFile::try_lock() {
    // flock belongs to the open file, not to the process, so closing another handle on the same
    // file elsewhere in the program never drops it.
    return fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
}

bool PositionedFile::sync() {
    return fd_ >= 0 && ::fdatasync(fd_) == 0;
}

bool PositionedFile::is_open() const {
    return fd_ >= 0;
}

bool PositionedFile::read_at(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (fd_ < 0 || !fits_off_t(offset, out.size())) return false;
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool PositionedFile::write_at(std::uint64_t offset, std::span<const std::uint8_t> head,
                              std::span<const std::uint8_t> body) {
    if (fd_ < 0 || !fits_off_t(offset, head.size()) || !fits_off_t(offset + head.size(), body.size())) return false;
    const std::size_t total = head.size() + body.size();
    std::size_t done = 0;
    while (done < total) {
        // What is left of the two parts after `done` bytes went out.
        iovec parts[2];
        int count = 0;
        if (done < head.size()) {
            parts[count++] = {const_cast<std::uint8_t*>(head.data()) + done, head.size() - done};
        }
        const std::size_t body_done = done > head.size() ? done - head.size() : 0;
        if (body_done < body.size()) {
            parts[count++] = {const_cast<std::uint8_t*>(body.data()) + body_done, body.size() - body_done};
        }
        const ssize_t n = ::pwritev(fd_, parts, count, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool PositionedFile::truncate(std::uint64_t size) {
    if (fd_ < 0 || !fits_off_t(size, 0)) return false;
    return ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
}

void PositionedFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace gifanim::platform
