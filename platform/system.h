#pragma once
// What a private scratch file needs from the operating system: the temporary folder, a
// millisecond tick count and a file that is read and written at explicit offsets.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

namespace gifanim::platform {

// The user's temporary folder ($TMPDIR or /tmp on POSIX, GetTempPathW on Windows).
std::filesystem::path temp_directory();

// Milliseconds from an arbitrary start, wrapping at 2^32.
std::uint32_t tick_count();

// Microseconds from an arbitrary start, never going back.
std::uint64_t monotonic_us();
// Processor time the whole process has used, in microseconds.
std::uint64_t process_cpu_us();
// Suspends the calling thread for about `us` microseconds.
void sleep_us(std::uint64_t us);

// From now on Ctrl+C, a request to terminate, a hang-up, a quit and a broken output pipe
// (SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE, or the console's Ctrl+C, Ctrl+Break, close,
// log-off and shut-down events) are counted as stop requests instead of ending the process.
void catch_stop_requests();
bool stop_requested();
// How many stop requests came so far.
unsigned stop_requests();
// Whether a stop request leaves the process only seconds (the console closed, the user logs off,
// the system shuts down): the system ends it soon whatever it does.
bool stop_is_pressing();

// From now on a pause request (SIGUSR1 on POSIX; Windows has none) is counted instead of ending
// the process: each one toggles a recording's pause.
void catch_pause_requests();
unsigned pause_requests();

// Whether standard error is a terminal (a console on Windows).
bool stderr_is_terminal();

// Deletes a file; false when it could not be deleted (a missing file included).
bool remove_file(const std::filesystem::path& path);

// A file opened for reading and writing at explicit offsets. Nothing moves a shared position, so
// several threads may read at once. Failures are reported by the result, never thrown.
class PositionedFile {
public:
    enum class Outcome { created, exists, failed };

    PositionedFile() = default;
    PositionedFile(PositionedFile&& other) noexcept;
    PositionedFile& operator=(PositionedFile&& other) noexcept;
    PositionedFile(const PositionedFile&) = delete;
    PositionedFile& operator=(const PositionedFile&) = delete;
    ~PositionedFile();

    // Creates `path` only when no file of that name exists yet (so two processes never share
    // one), opened for reading and writing; `exists` when the name is taken.
    static Outcome create_new(const std::filesystem::path& path, PositionedFile& out);
    // Opens a file that exists, for reading and writing, as a file found rather than made is
    // opened: on POSIX only a regular file (no link) that the current user owns and that no one
    // else may read or write. False otherwise.
    static bool open_existing(const std::filesystem::path& path, PositionedFile& out);

    bool is_open() const;
    // Reads exactly out.size() bytes at `offset`; false on an error or a short file.
    bool read_at(std::uint64_t offset, std::span<std::uint8_t> out) const;
    // Writes `head` then `body` at `offset`, in one system call where the platform has one.
    bool write_at(std::uint64_t offset, std::span<const std::uint8_t> head, std::span<const std::uint8_t> body);
    // Cuts or extends the file to `size` bytes.
    bool truncate(std::uint64_t size);
    // The file's length in bytes; false when it cannot be told.
    bool size(std::uint64_t& out) const;
    // Takes the file's exclusive lock without waiting. It lasts while this handle is open and ends
    // with the process however the process ends, so a held lock says its owner still runs. False
    // when another handle holds it.
    bool try_lock();
    // Flushes what was written to the disk itself.
    bool sync();
    void close();

private:
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

}  // namespace gifanim::platform
