#pragma once
// The settings file "gif配置.ini" (see program_places for where): one section "配置", sixteen keys whose values
// are decimal integers. Nothing is cached: every read opens the file, every write has reached the
// file when it returns.
#include <filesystem>
#include <string>
#include <string_view>

namespace gifanim::app {

// A key of the section "配置" and the value it reads as when the file does not hold it.
struct ConfigKey {
    std::string_view name;
    int default_value;
};

namespace keys {
inline constexpr ConfigKey width{"宽度", 480};               // frame window width, pixels
inline constexpr ConfigKey height{"高度", 340};              // frame window height, pixels
inline constexpr ConfigKey left{"左边", 0};                  // negative: centred
inline constexpr ConfigKey top{"顶边", 0};                   // negative: centred
inline constexpr ConfigKey rate_item{"菜单帧", 4};           // command id 3..6 of the checked rate
inline constexpr ConfigKey full_screen_item{"菜单全屏", 0};  // check flags: 8 checked, 0 not
inline constexpr ConfigKey rate1{"帧1", 3};                  // frames per second of rate item 1
inline constexpr ConfigKey rate2{"帧2", 5};
inline constexpr ConfigKey rate3{"帧3", 10};
inline constexpr ConfigKey rate4{"帧4", 15};
// 1 at start-up; the settings window fills its checkbox with the default 0 instead.
inline constexpr ConfigKey record_cursor{"录制鼠标", 1};
inline constexpr ConfigKey click_through{"穿透", 1};
inline constexpr ConfigKey storage{"存储方式", 1};  // 1 memory first, 0 disk
inline constexpr ConfigKey full_screen_hide{"全屏隐藏", 1};
inline constexpr ConfigKey memory_mb{"内存大小", 20};
inline constexpr ConfigKey optimize_save{"优化保存", 0};  // 1: exports write optimized GIFs
}  // namespace keys

inline constexpr std::string_view config_section = "配置";

// Values longer than this are cut to it: they are read into a 10240-byte buffer with its
// terminating zero.
inline constexpr std::size_t max_value_bytes = 10239;

// One settings file at a given path.
class ConfigFile {
public:
    explicit ConfigFile(std::filesystem::path path) : path_(std::move(path)) {}

    // The key's text in the section "配置"; the decimal text of default_value when the file, the
    // section or the key is missing, or the file cannot be read or is not text (holds a zero byte).
    // A file saved as UTF-16 with its byte-order mark is text: its keys read as GBK.
    std::string ReadKey(std::string_view key, int default_value) const;
    std::string ReadKey(const ConfigKey& key) const { return ReadKey(key.name, key.default_value); }

    // Sets the key to the decimal text of value, changing no other line of the file, and replaces
    // the file as a whole (see platform::replace_file). False when that failed: the file is then
    // as it was. A UTF-16 file stays UTF-16, every character of its other lines as it was; a file
    // that is not text is not written (false), so that nothing it holds is lost.
    bool WriteKey(std::string_view key, int value) const;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Where the recorder keeps its settings file and where its save dialog starts.
struct ProgramPlaces {
    std::filesystem::path settings;
    // Where `settings` does not exist yet, the file it starts as a copy of (empty: none).
    std::filesystem::path seed;
    // Empty: wherever the dialog itself starts.
    std::filesystem::path save_folder;
};

// The folders the choice is made from; empty where unknown.
struct ProgramFolders {
    std::filesystem::path program;                        // the running executable's
    bool program_writable = false;                        // whether a file can be made there
    std::filesystem::path app_data, pictures, documents;  // the user's
};

// The settings file "gif配置.ini" stays beside the program where that folder takes files, as
// portable use relies on, and the save dialog starts there. A program installed where the user
// cannot write (Program Files) keeps it in a folder of its own in the user's application data
// instead, starting from the copy beside the program where there is one, and starts the dialog
// in the user's pictures (or documents). With no application data folder it stays beside the
// program, to be read at least.
ProgramPlaces program_places(const ProgramFolders& folders);

// The folder of the program's own in the user's application data.
inline constexpr std::string_view kProgramDataFolder = "gifrec";

// Whether a file can be made in `dir`: found by making and deleting one, as a settings write
// would, since permissions alone do not tell (access lists, read-only media, redirection).
bool folder_takes_files(const std::filesystem::path& dir);

// program_places for the running program and this user, with the seed copied where it is due.
ProgramPlaces find_program_places();

// The program's settings file, as find_program_places finds it anew on every call.
ConfigFile program_config();

// ReadKey and WriteKey on the program's settings file. A failed write is not reported: the
// setting is then lost at the next start.
std::string ReadKey(std::string_view key, int default_value);
void WriteKey(std::string_view key, int value);

}  // namespace gifanim::app
