#pragma once
// How the library's methods fail: deep inside they throw, at their boundary the failure becomes
// the object's last error text.
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "platform/file.h"

namespace gifanim {

// The library's own failures carry this code; any other code is a file-system failure.
inline constexpr int kLibraryError = 9527;

struct Failure {
    int code;
    std::string text;
};

[[noreturn]] inline void fail(const char* text) { throw Failure{kLibraryError, text}; }

// Inside a catch block: the text of the failure being handled. The library's own text, the
// platform's description of a file error, "内存不足" when memory ran out, or "未知错误" for anything
// else. Never throws: texts are moved out of the failure, and the fixed ones are short enough to
// stay inside the string without an allocation.
inline std::string current_error_text() {
    try {
        throw;
    } catch (Failure& f) {
        return std::move(f.text);
    } catch (platform::FileError& e) {
        if (e.text.empty()) return "未知错误";
        return std::move(e.text);
    } catch (const std::bad_alloc&) {
        return "内存不足";
    } catch (...) {
        return "未知错误";
    }
}

// The rest of an open file of `size` bytes, read whole; no memory for it is the library's failure
// "为读取文件分配内存失败".
inline std::vector<std::uint8_t> read_contents(platform::File& file, std::uint64_t size) {
    std::vector<std::uint8_t> contents;
    try {
        if (size > contents.max_size()) throw std::bad_alloc();
        contents.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        fail("为读取文件分配内存失败");
    }
    file.read(contents);
    return contents;
}

// Sets a last-error text without throwing: when there is no memory even for the text, the short
// "内存不足", which needs none, stands in.
inline void set_error(std::string& error, const char* text) noexcept {
    try {
        error = text;
    } catch (...) {
        error = "内存不足";
    }
}

}  // namespace gifanim
