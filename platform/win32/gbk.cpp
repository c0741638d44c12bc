#include "platform/win32/gbk.h"

#include <windows.h>

#include <climits>
#include <stdexcept>

namespace gifanim::platform {

namespace {
constexpr UINT gbk_code_page = 936;

int checked_length(std::size_t size) {
    if (size > static_cast<std::size_t>(INT_MAX)) throw std::length_error("text too long to convert");
    return static_cast<int>(size);
}
}  // namespace

std::wstring gbk_to_wide(std::string_view text) {
    if (text.empty()) return {};
    const int in = checked_length(text.size());
    const int n = MultiByteToWideChar(gbk_code_page, 0, text.data(), in, nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(gbk_code_page, 0, text.data(), in, out.data(), n);
    return out;
}

std::string wide_to_gbk(std::wstring_view text) {
    if (text.empty()) return {};
    const int in = checked_length(text.size());
    const int n = WideCharToMultiByte(gbk_code_page, 0, text.data(), in, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(gbk_code_page, 0, text.data(), in, out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace gifanim::platform
