#include "app/config.h"

#include <cstdint>
#include <optional>
#include <span>
#include <system_error>
#include <vector>

#include "app/ini.h"
#include "app/ini_encoding.h"
#include "platform/file.h"
#include "platform/program_dir.h"
#include "platform/system.h"
#include "platform/text.h"

namespace gifanim::app {

namespace {
enum class Contents { missing, text, not_text, unreadable };

struct Loaded {
    Contents contents = Contents::missing;
    IniText text;
};

Loaded load(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return {ec ? Contents::unreadable : Contents::missing, {}};
    try {
        platform::File file = platform::File::open_read(path);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.size()));
        file.read(bytes);
        std::optional<IniText> text =
            decode_ini(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        if (!text) return {Contents::not_text, {}};
        return {Contents::text, std::move(*text)};
    } catch (const platform::FileError&) {
        return {Contents::unreadable, {}};
    }
}

// A section or key name, or a value, as the file's text holds it. A UTF-16 file is worked on as
// UTF-8, whose bytes above 0x7F the ini rules compare exactly, as they do GBK's.
std::string in_file(std::string_view gbk, const IniText& text) {
    return text.encoding == IniEncoding::gbk ? std::string(gbk) : platform::gbk_to_utf8(gbk);
}
}  // namespace

std::string ConfigFile::ReadKey(std::string_view key, int default_value) const {
    const Loaded loaded = load(path_);
    if (loaded.contents == Contents::text) {
        const IniText& text = loaded.text;
        if (std::optional<std::string> value =
                ini::read_value(text.text, in_file(config_section, text), in_file(key, text))) {
            if (text.encoding != IniEncoding::gbk) *value = platform::utf8_to_gbk(*value);
            if (value->size() > max_value_bytes) value->resize(max_value_bytes);
            return *value;
        }
    }
    return std::to_string(default_value);
}

bool ConfigFile::WriteKey(std::string_view key, int value) const {
    Loaded loaded = load(path_);
    // A file that exists but cannot be read, or holds something other than text, is left alone:
    // writing would lose what it holds.
    if (loaded.contents == Contents::unreadable || loaded.contents == Contents::not_text) return false;
    IniText& text = loaded.text;
    text.text = ini::with_value(text.text, in_file(config_section, text), in_file(key, text), std::to_string(value));
    const std::string updated = encode_ini(text);
    try {
        platform::replace_file(path_, std::span(reinterpret_cast<const std::uint8_t*>(updated.data()), updated.size()));
        return true;
    } catch (const platform::FileError&) {
        return false;
    }
}

ProgramPlaces program_places(const ProgramFolders& folders) {
    if (folders.program.empty()) return {};
    // A u8 literal: the file name is Unicode for the file system, whatever the narrow encoding.
    const std::filesystem::path name = u8"gif配置.ini";
    const std::filesystem::path beside = folders.program / name;
    if (folders.program_writable || folders.app_data.empty()) {
        return {beside, {}, folders.program_writable ? folders.program : std::filesystem::path()};
    }
    const std::filesystem::path own =
        folders.app_data / std::u8string(kProgramDataFolder.begin(), kProgramDataFolder.end());
    return {own / name, beside, folders.pictures.empty() ? folders.documents : folders.pictures};
}

bool folder_takes_files(const std::filesystem::path& dir) {
    if (dir.empty()) return false;
    std::filesystem::path temp;
    try {
        { platform::File probe = platform::File::create_beside(dir / u8"gif配置.ini", temp); }
        platform::remove_file(temp);
        return true;
    } catch (const platform::FileError&) {
        return false;
    }
}

ProgramPlaces find_program_places() {
    ProgramFolders folders;
    folders.program = platform::program_dir();
    folders.program_writable = folder_takes_files(folders.program);
    if (!folders.program_writable) {
        folders.app_data = platform::user_folder(platform::UserFolder::app_data);
        folders.pictures = platform::user_folder(platform::UserFolder::pictures);
        folders.documents = platform::user_folder(platform::UserFolder::documents);
    }
    ProgramPlaces places = program_places(folders);
    if (places.settings.parent_path() != folders.program) {
        // What fails here leaves the settings at their defaults, as at a first start.
        std::error_code ec;
        std::filesystem::create_directories(places.settings.parent_path(), ec);
        if (!ec && !places.seed.empty() && !std::filesystem::exists(places.settings, ec) && !ec &&
            std::filesystem::exists(places.seed, ec)) {
            std::filesystem::copy_file(places.seed, places.settings, ec);
        }
    }
    return places;
}

ConfigFile program_config() {
    return ConfigFile(find_program_places().settings);
}

std::string ReadKey(std::string_view key, int default_value) {
    return program_config().ReadKey(key, default_value);
}

void WriteKey(std::string_view key, int value) {
    const ConfigFile file = program_config();
    if (!file.path().empty()) file.WriteKey(key, value);
}

}  // namespace gifanim::app
