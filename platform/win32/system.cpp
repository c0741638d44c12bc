#include "platform/system.h"

#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

namespace gifanim::platform {

std::filesystem::path temp_directory() {
    std::wstring buffer(MAX_PATH + 1, L'\0');
    DWORD n = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n > buffer.size()) {
        buffer.resize(n);
        n = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    }
    if (n == 0 || n > buffer.size()) return std::filesystem::path(L".");
    buffer.resize(n);
    return std::filesystem::path(buffer);
}

std::uint32_t tick_count() {
    return GetTickCount();
}

std::uint64_t monotonic_us() {
    LARGE_INTEGER frequency{}, now{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    const auto f = static_cast<std::uint64_t>(frequency.QuadPart);
    const auto t = static_cast<std::uint64_t>(now.QuadPart);
    return t / f * 1000000u + t % f * 1000000u / f;
}

std::uint64_t process_cpu_us() {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return (ticks(kernel) + ticks(user)) / 10u;  // 100-ns units
}

void sleep_us(std::uint64_t us) {
    Sleep(static_cast<DWORD>(std::min<std::uint64_t>(us / 1000u, 0xFFFFFFFEu)));
}

namespace {
std::atomic<unsigned> g_stop_requests{0};
std::atomic<bool> g_stop_pressing{false};
BOOL WINAPI on_console_event(DWORD event) {
    const bool ending = event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && !ending) return FALSE;
    if (ending) g_stop_pressing.store(true);
    g_stop_requests.fetch_add(1);
    // The process ends as soon as this returns from one of these: wait here instead, until the
    // program has finished and exits, or the system's time-out runs out.
    if (ending) Sleep(INFINITE);
    return TRUE;
}
}  // namespace

void catch_stop_requests() {
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

bool stop_requested() {
    return g_stop_requests.load() != 0;
}

unsigned stop_requests() {
    return g_stop_requests.load();
}

bool stop_is_pressing() {
    return g_stop_pressing.load();
}

void catch_pause_requests() {}

unsigned pause_requests() {
    return 0;
}

bool stderr_is_terminal() {
    return _isatty(_fileno(stderr)) != 0;
}

bool remove_file(const std::filesystem::path& path) {
    return DeleteFileW(path.c_str()) != 0;
}

namespace {
HANDLE as_handle(void* h) {
    return static_cast<HANDLE>(h);
}

OVERLAPPED at(std::uint64_t offset) {
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(offset);
    o.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return o;
}

// ReadFile and WriteFile take a DWORD count; larger spans go through in pieces.
constexpr std::size_t max_chunk = 1u << 30;

bool write_all(HANDLE h, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto want = static_cast<DWORD>(std::min(bytes.size() - done, max_chunk));
        OVERLAPPED o = at(offset + done);
        DWORD put = 0;
        if (!WriteFile(h, bytes.data() + done, want, &put, &o) || put == 0) return false;
        done += put;
    }
    return true;
}
}  // namespace

PositionedFile::PositionedFile(PositionedFile&& other) noexcept : handle_(other.handle_) {
    other.handle_ = nullptr;
}

PositionedFile& PositionedFile::operator=(PositionedFile&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

PositionedFile::~PositionedFile() {
    close();
}

PositionedFile::Outcome PositionedFile::create_new(const std::filesystem::path& path, PositionedFile& out) {
    // Shared for deletion too, so the owner can delete the file while a reader still holds it.
    const HANDLE h =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS ? Outcome::exists : Outcome::failed;
    }
    out = PositionedFile();
    out.handle_ = h;
    return Outcome::created;
}

bool PositionedFile::open_existing(const std::filesystem::path& path, PositionedFile& out) {
    const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        CloseHandle(h);
        return false;
    }
    out = PositionedFile();
    out.handle_ = h;
    return true;
}

bool PositionedFile::size(std::uint64_t& out) const {
    LARGE_INTEGER n{};
    if (!handle_ || !GetFileSizeEx(as_handle(handle_), &n) || n.QuadPart < 0) return false;
    out = static_cast<std::uint64_t>(n.QuadPart);
    return true;
}

bool PositionedFile::try_lock() {
    if (!handle_) return false;
    // One byte far past any end the file reaches: the lock says who owns the file and never
    // stands in the way of a read or write of its records.
    OVERLAPPED o = at(std::uint64_t{1} << 62);
    return LockFileEx(as_handle(handle_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &o) != 0;
}

bool PositionedFile::sync() {
    return handle_ && FlushFileBuffers(as_handle(handle_)) != 0;
}

bool PositionedFile::is_open() const {
    return handle_ != nullptr;
}

bool PositionedFile::read_at(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (!handle_) return false;
    std::size_t done = 0;
    while (done < out.size()) {
        const auto want = static_cast<DWORD>(std::min(out.size() - done, max_chunk));
        OVERLAPPED o = at(offset + done);
        DWORD got = 0;
        if (!ReadFile(as_handle(handle_), out.data() + done, want, &got, &o) || got == 0) return false;
        done += got;
    }
    return true;
}

bool PositionedFile::write_at(std::uint64_t offset, std::span<const std::uint8_t> head,
                              std::span<const std::uint8_t> body) {
    if (!handle_) return false;
    return write_all(as_handle(handle_), offset, head) && write_all(as_handle(handle_), offset + head.size(), body);
}

bool PositionedFile::truncate(std::uint64_t size) {
    if (!handle_) return false;
    // Set by handle, not through the file pointer: a pointer moved here could be moved again by
    // another thread before the end is set, and the file cut at that thread's offset.
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    return SetFileInformationByHandle(as_handle(handle_), FileEndOfFileInfo, &end, sizeof end) != 0;
}

void PositionedFile::close() {
    if (handle_) CloseHandle(as_handle(handle_));
    handle_ = nullptr;
}

}  // namespace gifanim::platform
