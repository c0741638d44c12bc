// The settings file read and written on arbitrary bytes: the first input byte chooses two keys among
// a few, the next two a value, the rest is the file. Checked: a file that is text comes back byte for
// byte when decoded and encoded; a key written is read back as written, in either encoding, the
// other key keeps its value and the file its encoding; a file that is not text is not written and
// stays as it was. A broken property
// aborts, so libFuzzer keeps the input like any crash.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "app/config.h"
#include "app/ini.h"
#include "app/ini_encoding.h"

namespace {

namespace fs = std::filesystem;

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "ini_fuzz: broken: %s\n", what);
    std::abort();
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// "帧率" in GBK, and ASCII names in cases the file may not use.
const std::string_view kKeys[] = {"\xD6\xA1\xC2\xCA", "Rate", "rATE", "k"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::string_view key = kKeys[data[0] % 4];
    const std::string_view other = kKeys[(data[0] / 4) % 4];
    const int value = static_cast<int>(data[1]) * 256 + data[2] - 1000;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 3), size - 3);

    const std::optional<gifanim::app::IniText> text = gifanim::app::decode_ini(bytes);
    if (text) check(gifanim::app::encode_ini(*text) == bytes, "a file comes back byte for byte");

    static const fs::path path = fs::temp_directory_path() / ("ini_fuzz-" + std::to_string(getpid()) + ".ini");
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    const gifanim::app::ConfigFile config(path);
    const std::string other_before = config.ReadKey(other, -7);
    const bool written = config.WriteKey(key, value);
    if (!text) {
        check(!written, "a file that is not text is not written");
        check(read_file(path) == bytes, "a file that is not text stays as it was");
        return 0;
    }
    check(written, "a value is written");
    check(config.ReadKey(key, -7) == std::to_string(value), "a value written is read back");
    if (!gifanim::app::ini::names_equal(key, other))
        check(config.ReadKey(other, -7) == other_before, "another key keeps its value");
    const std::optional<gifanim::app::IniText> again = gifanim::app::decode_ini(read_file(path));
    check(again && again->encoding == text->encoding, "a file keeps its encoding");
    return 0;
}
