// The settings file and the numbers read from it, on files in a scratch folder.
#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <iterator>
#include <vector>

#include "app/config.h"
#include "app/ini.h"
#include "app/text_number.h"
#include "platform/file.h"
#include "platform/program_dir.h"
#include "tests/unit/scratch_dir.h"

namespace gifanim::app {
namespace {

void put(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string get(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(TextToInt, LeadingNumberAfterFullWidthFolding) {
    EXPECT_EQ(text_to_int("  \t-12"), -12);
    EXPECT_EQ(text_to_int("12abc"), 12);
    EXPECT_EQ(text_to_int("10帧/s"), 10);
    for (const char* none : {"abc", "", "-", "- 5", "宽度", "～5"}) EXPECT_EQ(text_to_int(none), 0) << none;
    EXPECT_EQ(text_to_int("－４５"), -45);
    EXPECT_EQ(text_to_int("＋9"), 9);
    EXPECT_EQ(text_to_int("　　3０"), 30);  // ideographic spaces are blanks
    EXPECT_EQ(text_to_int("7\xA3"), 7);     // a lone lead byte at the end
}

TEST(TextToInt, SaturatesBeyondThirtyTwoBits) {
    EXPECT_EQ(text_to_int("2147483647"), INT_MAX);
    EXPECT_EQ(text_to_int("2147483648"), INT_MAX);
    EXPECT_EQ(text_to_int("4294967296"), INT_MAX);  // would wrap to 0
    EXPECT_EQ(text_to_int("-2147483648"), INT_MIN);
    EXPECT_EQ(text_to_int("-99999999999999999999999999"), INT_MIN);
}

TEST(TextIsTrue, OnlyTheTextOne) {
    EXPECT_TRUE(text_is_true("1"));
    for (const char* text : {"0", "01", " 1", "1 ", "", "１"}) EXPECT_FALSE(text_is_true(text)) << text;
}

TEST(IniNames, IgnoreAsciiCaseButNotTrailBytes) {
    EXPECT_TRUE(ini::names_equal("aB配置", "Ab配置"));
    // 0x81 0x41 and 0x81 0x61 are two different characters, not one in two cases.
    EXPECT_FALSE(ini::names_equal("\x81\x41", "\x81\x61"));
    EXPECT_EQ(ini::read_value("[SeTTings]\nKey=v\n", "settings", "KEY"), "v");
}

class ConfigFileTest : public ::testing::Test {
protected:
    test::ScratchDir scratch{"gifanim-config-"};
    std::filesystem::path path = scratch.dir / u8"gif配置.ini";
    ConfigFile config{path};
};

TEST_F(ConfigFileTest, MissingUnreadableOrBinaryFileGivesTheDefaults) {
    EXPECT_EQ(config.ReadKey(keys::width), "480");
    EXPECT_EQ(config.ReadKey(keys::memory_mb), "20");
    put(path, std::string("[配置]\r\n宽度=640\r\n") + '\0' + "\r\n");
    EXPECT_EQ(config.ReadKey(keys::width), "480");
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    EXPECT_EQ(config.ReadKey(keys::width), "480");
}

TEST_F(ConfigFileTest, ReadsHandEditedFiles) {
    put(path,
        "; [配置]\n宽度=1\n[其他]\n宽度=2\n"
        "  [ 配置 ]  \n"
        "  宽度  =  \"640\"  \n"
        "高度='12abc'\n"
        "左边=\"7'\n"
        "; 顶边=9\n"
        "菜单帧\n"
        "菜单全屏=\n"
        "MixedCase=5\n"
        "宽度=999\n"
        "帧1=" +
            std::string(10240, '7') +
            "\r\n"
            "[配置]\n"
            "内存大小=64");
    EXPECT_EQ(config.ReadKey(keys::width), "640");
    EXPECT_EQ(text_to_int(config.ReadKey(keys::height)), 12);
    EXPECT_EQ(config.ReadKey(keys::left), "\"7'");
    EXPECT_EQ(config.ReadKey(keys::top), "0");              // a comment
    EXPECT_EQ(config.ReadKey(keys::rate_item), "4");        // a line without '='
    EXPECT_EQ(config.ReadKey(keys::full_screen_item), "");  // present but empty: not the default
    EXPECT_EQ(config.ReadKey("mixedCASE", 0), "5");
    EXPECT_EQ(config.ReadKey(keys::rate1), std::string(10239, '7'));
    EXPECT_EQ(config.ReadKey(keys::memory_mb), "20");  // only the first section counts
}

TEST_F(ConfigFileTest, WritingChangesOnlyTheKeysLine) {
    ASSERT_TRUE(config.WriteKey("宽度", 640));
    ASSERT_TRUE(config.WriteKey("左边", INT_MIN));
    EXPECT_EQ(get(path), "[配置]\r\n宽度=640\r\n左边=-2147483648\r\n");

    const std::string before =
        "; by hand\n[其他]\r\n宽度=1\r\n[配置]\nWIDTH='x'\n宽度 = 12 ; old\n宽度=9\n\n[后面]\nx=1";
    put(path, before);
    ASSERT_TRUE(config.WriteKey("宽度", 480));
    std::string expected = before;
    expected.replace(expected.find("宽度 = 12 ; old\n"), 16, "宽度=480\r\n");
    EXPECT_EQ(get(path), expected);
    // A missing key goes after the section's last line, before the blank line.
    ASSERT_TRUE(config.WriteKey("高度", 340));
    expected.replace(expected.find("\n\n[后面]"), 2, "\n高度=340\r\n\n");
    EXPECT_EQ(get(path), expected);

    // A missing section goes at the end, after a line break the last line lacked.
    put(path, "[其他]\nx=1");
    ASSERT_TRUE(config.WriteKey("帧1", 3));
    EXPECT_EQ(get(path), "[其他]\nx=1\r\n[配置]\r\n帧1=3\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.dir), {}), 1);  // no temporary left
}

TEST_F(ConfigFileTest, AFailedWriteKeepsWhatWasThere) {
    // The settings file is a folder: it cannot be read, so it is not written over either.
    std::filesystem::create_directory(path);
    put(path / "inside", "x");
    EXPECT_FALSE(config.WriteKey("宽度", 1));
    // The rename over the target fails after the new file was written: the new file goes away.
    const std::uint8_t bytes[] = {'[', ']'};
    EXPECT_THROW(platform::replace_file(path, bytes), platform::FileError);
    EXPECT_EQ(get(path / "inside"), "x");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.dir), {}), 1);
}

// The bytes of a file saved as UTF-16 little-endian with its byte-order mark.
std::string utf16le(std::u16string_view text) {
    std::string bytes = "\xFF\xFE";
    for (const char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

TEST_F(ConfigFileTest, AUtf16FileIsReadAndWrittenBackAsUtf16KeepingEveryOtherCharacter) {
    // A comment with characters GBK lacks, a pair of surrogates and one alone among them.
    std::u16string comment = u"; 表情 \U0001F600 ";
    comment += static_cast<char16_t>(0xD800);
    comment += u"x\r\n";
    const std::u16string before = comment + u"[其他]\r\n宽度=1\r\n[配置]\r\n宽度 = 640\r\n高度=300\r\nMixedCase=5\r\n";
    put(path, utf16le(before));
    EXPECT_EQ(config.ReadKey(keys::width), "640");
    EXPECT_EQ(config.ReadKey(keys::height), "300");
    EXPECT_EQ(config.ReadKey("mixedCASE", 0), "5");
    EXPECT_EQ(config.ReadKey(keys::top), "0");

    ASSERT_TRUE(config.WriteKey("宽度", 800));
    ASSERT_TRUE(config.WriteKey("左边", -3));
    std::u16string expected = before;
    expected.replace(expected.find(u"宽度 = 640"), 8, u"宽度=800");
    expected += u"左边=-3\r\n";
    EXPECT_EQ(get(path), utf16le(expected));
    EXPECT_EQ(config.ReadKey(keys::width), "800");
    EXPECT_EQ(config.ReadKey(keys::left), "-3");

    // Its values come back as GBK, the way a file in GBK gives them.
    put(path, utf16le(u"[配置]\r\n宽度=六四〇\r\n"));
    EXPECT_EQ(config.ReadKey(keys::width), "六四〇");
    // Only the mark opens the file as UTF-16: without it the zero bytes say it is not text.
    put(path, utf16le(u"[配置]\r\n宽度=640\r\n").substr(2));
    EXPECT_EQ(config.ReadKey(keys::width), "480");
}

TEST_F(ConfigFileTest, AFileThatIsNotTextIsNotWrittenOver) {
    const std::string cases[] = {
        std::string("[配置]\r\n宽度=640\r\n高度=300\r\n") + '\0' + "\r\n",  // a stray zero byte
        utf16le(u"[配置]\r\n宽度=640\r\n") + "x",                           // UTF-16 cut in a unit
        utf16le(std::u16string(u"[配置]\r\n宽度=640\r\n") + u'\0'),         // a zero character
    };
    for (const std::string& bytes : cases) {
        put(path, bytes);
        EXPECT_FALSE(config.WriteKey("宽度", 800));
        EXPECT_EQ(get(path), bytes);
        EXPECT_EQ(config.ReadKey(keys::width), "480");
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.dir), {}), 1);
}

TEST(ProgramConfig, BesideTheProgramWhereItsFolderTakesFilesAndInTheUsersDataOtherwise) {
    const std::filesystem::path program = "/opt/prog", data = "/home/u/.config", pictures = "/home/u/Pictures",
                                documents = "/home/u/Documents";
    const std::filesystem::path beside = program / u8"gif配置.ini";
    struct Case {
        ProgramFolders folders;
        std::filesystem::path settings, seed, save_folder;
    };
    for (const Case& c : std::vector<Case>{
             // Portable use: everything stays where the program is.
             {{program, true, data, pictures, documents}, beside, {}, program},
             // Installed where the user cannot write: the user's own folder, started from the copy beside
             // the program, and the dialog in the user's pictures (or documents).
             {{program, false, data, pictures, documents}, data / "gifrec" / u8"gif配置.ini", beside, pictures},
             {{program, false, data, {}, documents}, data / "gifrec" / u8"gif配置.ini", beside, documents},
             // No data folder to go to: the file beside the program is read at least.
             {{program, false, {}, pictures, documents}, beside, {}, {}},
             {{{}, true, data, pictures, documents}, {}, {}, {}},
         }) {
        const ProgramPlaces places = program_places(c.folders);
        EXPECT_EQ(places.settings, c.settings) << c.folders.program << " " << c.folders.program_writable;
        EXPECT_EQ(places.seed, c.seed) << places.settings;
        EXPECT_EQ(places.save_folder, c.save_folder) << places.settings;
    }
}

TEST(ProgramConfig, AFolderTakesFilesWhenOneCanBeMadeThereAndIsLeftAsItWas) {
    test::ScratchDir scratch{"places-"};
    EXPECT_TRUE(folder_takes_files(scratch.dir));
    EXPECT_TRUE(std::filesystem::is_empty(scratch.dir));
    EXPECT_FALSE(folder_takes_files(scratch.dir / "missing"));
    put(scratch.dir / "a file", "x");
    EXPECT_FALSE(folder_takes_files(scratch.dir / "a file"));
    EXPECT_FALSE(folder_takes_files({}));
#ifndef _WIN32
    // No one makes files here, whatever the permissions say (root included).
    EXPECT_FALSE(folder_takes_files("/proc"));
#endif
}

TEST(ProgramConfig, LivesBesideTheExecutable) {
    const std::filesystem::path dir = platform::program_dir();
    EXPECT_TRUE(std::filesystem::exists(dir / "unit_tests") || std::filesystem::exists(dir / "unit_tests.exe")) << dir;
    EXPECT_EQ(program_config().path(), dir / u8"gif配置.ini");
}

}  // namespace
}  // namespace gifanim::app
