#include "app/config.h"

#include <cstdint>
#include <optional>
#include <span>
#include <system_error>
#include <vector>

#include "app/ini.h"
#include "platform/file.h"
#include "platform/program_dir.h"

namespace gifanim::app {

namespace {
enum class Contents { missing, text, not_text, unreadable };

struct Loaded {
    Contents contents = Contents::missing;
    std::string bytes;
};

Loaded load(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return {ec ? Contents::unreadable : Contents::missing, {}};
    try {
        platform::File file = platform::File::open_read(path);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.size()));
        file.read(bytes);
        Loaded loaded{Contents::text, std::string(bytes.begin(), bytes.end())};
        if (loaded.bytes.find('\0') != std::string::npos) loaded.contents = Contents::not_text;
        return loaded;
    } catch (const platform::FileError&) {
        return {Contents::unreadable, {}};
    }
}
}  // namespace

std::string ConfigFile::ReadKey(std::string_view key, int default_value) const {
    const Loaded loaded = load(path_);
    if (loaded.contents == Contents::text) {
        if (std::optional<std::string> value = ini::read_value(loaded.bytes, config_section, key)) {
            if (value->size() > max_value_bytes) value->resize(max_value_bytes);
            return *value;
        }
    }
    return std::to_string(default_value);
}

bool ConfigFile::WriteKey(std::string_view key, int value) const {
    Loaded loaded = load(path_);
    // A file that exists but cannot be read is left alone: writing would lose what it holds.
    if (loaded.contents == Contents::unreadable) return false;
    if (loaded.contents == Contents::not_text) loaded.bytes.clear();
    const std::string updated = ini::with_value(loaded.bytes, config_section, key, std::to_string(value));
    try {
        platform::replace_file(path_, std::span(reinterpret_cast<const std::uint8_t*>(updated.data()), updated.size()));
        return true;
    } catch (const platform::FileError&) {
        return false;
    }
}

ConfigFile program_config() {
    const std::filesystem::path dir = platform::program_dir();
    // A u8 literal: the file name is Unicode for the file system, whatever the narrow encoding.
    return ConfigFile(dir.empty() ? std::filesystem::path() : dir / u8"gif配置.ini");
}

std::string ReadKey(std::string_view key, int default_value) {
    return program_config().ReadKey(key, default_value);
}

void WriteKey(std::string_view key, int value) {
    const ConfigFile file = program_config();
    if (!file.path().empty()) file.WriteKey(key, value);
}

}  // namespace gifanim::app
