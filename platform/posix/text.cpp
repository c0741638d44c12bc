#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/text.h"

namespace gifanim::platform {

namespace {

std::string convert(std::string_view in, const char* to, const char* from) {
    // ASCII is the same in both: no converter to open (the first one loads a module).
    if (std::all_of(in.begin(), in.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::string(in);
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
    std::string out;
    out.resize(in.size() * 2 + 16);
    char* src = const_cast<char*>(in.data());
    std::size_t src_left = in.size();
    std::size_t done = 0;
    while (src_left > 0) {
        char* dst = out.data() + done;
        std::size_t dst_left = out.size() - done;
        const std::size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
        done = out.size() - dst_left;
        if (r != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
        } else {  // a byte that is not part of a valid character
            if (done == out.size()) out.resize(out.size() * 2);
            out[done++] = '?';
            ++src;
            --src_left;
        }
    }
    out.resize(done);
    iconv_close(cd);
    return out;
}

}  // namespace

std::string gbk_to_utf8(std::string_view gbk) { return convert(gbk, "UTF-8", "GBK"); }
std::string utf8_to_gbk(std::string_view utf8) { return convert(utf8, "GBK", "UTF-8"); }

namespace {
void write_to(std::FILE* stream, std::string_view gbk) {
    const std::string text = gbk_to_utf8(gbk);
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}
}  // namespace

void write_stderr(std::string_view gbk) {
    write_to(stderr, gbk);
}

void write_stdout(std::string_view gbk) {
    write_to(stdout, gbk);
}

}  // namespace gifanim::platform
