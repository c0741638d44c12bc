#include <windows.h>

#include <cstdio>

#include "platform/text.h"
#include "platform/win32/gbk.h"

namespace gifanim::platform {

namespace {

std::wstring utf8_to_wide(std::string_view s) {
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string wide_to_utf8(std::wstring_view w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

}  // namespace

std::string gbk_to_utf8(std::string_view gbk) { return wide_to_utf8(gbk_to_wide(gbk)); }
std::string utf8_to_gbk(std::string_view utf8) { return wide_to_gbk(utf8_to_wide(utf8)); }

namespace {
void write_to(DWORD which, std::FILE* stream, std::string_view gbk) {
    std::fflush(stream);
    HANDLE handle = GetStdHandle(which);
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        const std::wstring w = gbk_to_wide(gbk);
        DWORD written = 0;
        WriteConsoleW(handle, w.data(), static_cast<DWORD>(w.size()), &written, nullptr);
        return;
    }
    std::fwrite(gbk.data(), 1, gbk.size(), stream);
    std::fflush(stream);
}
}  // namespace

void write_stderr(std::string_view gbk) {
    write_to(STD_ERROR_HANDLE, stderr, gbk);
}

void write_stdout(std::string_view gbk) {
    write_to(STD_OUTPUT_HANDLE, stdout, gbk);
}

}  // namespace gifanim::platform
