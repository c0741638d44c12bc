#pragma once
// How the library's methods fail: deep inside they throw, at their boundary the failure becomes
// the object's last error text.
#include <string>

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
// platform's description of a file error, or "未知错误" for anything else.
inline std::string current_error_text() {
    try {
        throw;
    } catch (const Failure& f) {
        return f.text;
    } catch (const platform::FileError& e) {
        return e.text.empty() ? "未知错误" : e.text;
    } catch (...) {
        return "未知错误";
    }
}

}  // namespace gifanim
