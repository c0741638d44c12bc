#pragma once
// Files through the operating system, with its own error descriptions.
#include <cstddef>
#include <cstdint>
#include <filesystem>
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

    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    std::uint64_t size() const;
    // Reads exactly out.size() bytes from the current position.
    void read(std::span<std::uint8_t> out);
    void write(std::span<const std::uint8_t> bytes);
    // Closes the file, reporting a failure to flush; the destructor closes silently.
    void close();

private:
    File() = default;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

}  // namespace gifanim::platform
