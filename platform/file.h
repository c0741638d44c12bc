#pragma once
// Files through the operating system, with its own error descriptions.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

namespace gifanim::platform {

// A failed file operation: the operating system's error code and its description in GBK,
// at most 255 bytes.
struct FileError {
    int code = 0;
    std::string text;
};

// Description of an operating-system error code (errno on POSIX, GetLastError on Windows),
// in GBK, cut to at most 255 bytes without splitting a character.
std::string describe_system_error(int code);

// Cuts a GBK text to at most max_bytes bytes without leaving half of a double-byte character.
std::string cut_gbk(std::string text, std::size_t max_bytes);

// A file opened for reading (whole-file reads) or for writing (created or truncated).
// All failures throw FileError. The handle is closed by the destructor.
class File {
public:
    static File open_read(const std::filesystem::path& path);
    static File create(const std::filesystem::path& path);
    // Creates a new file beside `target` under a short name no other file has ("~gifanim-", the
    // process id, a counter, ".tmp"), with the target's permissions where it has any; the name
    // goes to `temp`. The name does not grow with the target's, so a target the file system takes
    // has a temporary file it takes as well.
    static File create_beside(const std::filesystem::path& target, std::filesystem::path& temp);

    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    std::uint64_t size() const;
    // Reads exactly out.size() bytes from the current position.
    void read(std::span<std::uint8_t> out);
    void write(std::span<const std::uint8_t> bytes);
    // From now on, for a file being written from its start: the bytes go straight to the disk in
    // large aligned pieces instead of through the system's file cache, where a long GIF costs a
    // copy of every byte and pushes out what other programs keep there. The file is written the
    // same; close and commit_over write the last piece. Where the system or file system does not
    // allow it, nothing changes.
    void bypass_cache();
    // Closes the file, reporting a failure to flush; the destructor closes silently.
    void close();
    // Flushes the bytes to the disk, closes the file and renames it from `temp` over `target`.
    void commit_over(const std::filesystem::path& temp, const std::filesystem::path& target);

private:
    File() = default;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
    // While the cache is bypassed: the bytes not yet written, in a buffer aligned for the disk.
    struct Aligned;
    std::unique_ptr<Aligned> direct_;
    void write_direct(std::span<const std::uint8_t> bytes);
    void flush_direct();
    // Leaves the direct mode: the buffer's bytes from `done` on go through the cache.
    void end_direct(std::size_t done);
#endif
};

// A file that takes the place of `target` only once it is whole: the bytes go to a new file
// beside it, and commit() flushes that file and renames it over the target, so the target is
// always either the old file or the whole new one, even when the process dies or the disk fills
// up half way. Without a successful commit the new file is removed and the old one stays.
class ReplacementFile {
public:
    explicit ReplacementFile(std::filesystem::path target);
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;
    ~ReplacementFile();

    File& file() { return file_; }
    void write(std::span<const std::uint8_t> bytes) { file_.write(bytes); }
    void commit();

private:
    std::filesystem::path target_;
    std::filesystem::path temp_;
    File file_;
    bool committed_ = false;
};

}  // namespace gifanim::platform
