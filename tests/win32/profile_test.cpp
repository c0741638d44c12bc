// Our settings file against the Windows profile functions: each reads what the other wrote.
//
// The A functions are used, not the W ones. Both store a file in the ANSI code page, whatever the
// caller's characters: through the W functions our GBK names would reach the file as GBK only
// when that code page is 936 anyway. Where it is 936 (Chinese Windows, or Wine with a zh_CN
// locale) the A functions take our GBK bytes as GBK; where it is a single-byte code page that
// maps every byte to a character and back (Wine's default 1252), they pass the bytes through
// unchanged. Either way the file holds exactly the bytes we read and write; anything else skips.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/config.h"
#include "platform/program_dir.h"
#include "tests/unit/scratch_dir.h"

namespace gifanim::app {
namespace {

bool ansi_code_page_keeps_gbk_bytes() {
    if (GetACP() == 936) return true;
    CPINFO info{};
    if (!GetCPInfo(CP_ACP, &info) || info.MaxCharSize != 1) return false;
    for (int b = 1; b < 256; ++b) {
        const char in = static_cast<char>(b);
        wchar_t wide = 0;
        char out = 0;
        if (MultiByteToWideChar(CP_ACP, 0, &in, 1, &wide, 1) != 1) return false;
        if (WideCharToMultiByte(CP_ACP, 0, &wide, 1, &out, 1, nullptr, nullptr) != 1 || out != in) return false;
    }
    return true;
}

class WindowsProfile : public ::testing::Test {
protected:
    void SetUp() override {
        if (!ansi_code_page_keeps_gbk_bytes()) {
            GTEST_SKIP() << "ANSI code page " << GetACP()
                         << " changes GBK bytes on their way to the file; run with code page 936";
        }
    }
    std::string read(const char* key, const char* section = "配置") const {
        char buffer[10240];
        GetPrivateProfileStringA(section, key, "-7", buffer, sizeof buffer, ansi_path.c_str());
        return buffer;
    }
    bool write(const char* key, const char* value, const char* section = "配置") const {
        return WritePrivateProfileStringA(section, key, value, ansi_path.c_str());
    }

    test::ScratchDir scratch{"gifanim-profile-"};
    // The profile functions take the path in the ANSI code page: an ASCII name.
    std::filesystem::path path = scratch.dir / "profile.ini";
    std::string ansi_path = path.string();
    ConfigFile config{path};
};

TEST_F(WindowsProfile, EachReadsWhatTheOtherWrote) {
    ASSERT_TRUE(write("宽度", "1", "其他") && write("宽度", "640") && write("左边", "-1") && write("宽度", "800"));
    EXPECT_EQ(config.ReadKey(keys::width), "800");
    EXPECT_EQ(config.ReadKey(keys::left), "-1");
    EXPECT_EQ(config.ReadKey(keys::height), "340");

    ASSERT_TRUE(config.WriteKey("宽度", 640) && config.WriteKey("内存大小", 64) && config.WriteKey("顶边", -20));
    EXPECT_EQ(read("宽度"), "640");
    EXPECT_EQ(read("内存大小"), "64");
    EXPECT_EQ(read("顶边"), "-20");
    EXPECT_EQ(read("左边"), "-1");
    EXPECT_EQ(read("宽度", "其他"), "1");
}

TEST_F(WindowsProfile, BothReadHandEditedFilesAlike) {
    std::ofstream(path, std::ios::binary) << "; [配置]\n[配置]\r\n  宽度  =  \"640\"  \r\n高度='12'\r\n"
                                             "左边=\"7'\r\n;顶边=9\r\nMixedCase = 5 \n宽度=999\n菜单帧=\n帧1=" +
                                                 std::string(10300, '3') + "\r\n";
    for (const char* key : {"宽度", "高度", "左边", "顶边", "mixedcase", "菜单帧", "帧1", "帧2"}) {
        EXPECT_EQ(config.ReadKey(key, -7), read(key)) << key;
    }
}

// A file saved as UTF-16 with its byte-order mark: the W functions read and write it as Unicode
// whatever the code page, and so do we, so no skip is needed here.
TEST(WindowsProfileUtf16, EachReadsWhatTheOtherWroteAndTheFileStaysUtf16) {
    test::ScratchDir scratch{"gifanim-profile16-"};
    const std::filesystem::path path = scratch.dir / L"profile.ini";
    const std::wstring text = L"[其他]\r\n宽度=1\r\n[配置]\r\n宽度=640\r\n";
    std::string bytes = "\xFF\xFE";
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    std::ofstream(path, std::ios::binary) << bytes;
    const ConfigFile config{path};
    const auto read = [&path](const wchar_t* key, const wchar_t* section = L"配置") {
        wchar_t buffer[64]{};
        GetPrivateProfileStringW(section, key, L"-7", buffer, 64, path.c_str());
        return std::wstring(buffer);
    };

    ASSERT_TRUE(config.WriteKey("高度", 300));
    ASSERT_TRUE(config.WriteKey("宽度", 800));
    EXPECT_EQ(read(L"高度"), L"300");
    EXPECT_EQ(read(L"宽度"), L"800");
    EXPECT_EQ(read(L"宽度", L"其他"), L"1");

    ASSERT_TRUE(WritePrivateProfileStringW(L"配置", L"左边", L"-1", path.c_str()));
    EXPECT_EQ(config.ReadKey(keys::left), "-1");
    EXPECT_EQ(config.ReadKey(keys::width), "800");
    std::ifstream in(path, std::ios::binary);
    char mark[2]{};
    in.read(mark, 2);
    EXPECT_EQ(std::string(mark, 2), "\xFF\xFE");
}

// A program folder no one can write to (Linux's /proc through drive Z:, refused to root too)
// sends the settings to a folder of the program's own in the user's roaming application data,
// which the system names, and the save dialog to the user's pictures or documents.
TEST(ProgramPlacesOnWindows, AFolderNoOneCanWriteToSendsTheSettingsToTheUsersApplicationData) {
    const std::filesystem::path unwritable = L"Z:\\proc";
    ASSERT_TRUE(std::filesystem::is_directory(unwritable));
    EXPECT_FALSE(folder_takes_files(unwritable));
    EXPECT_TRUE(folder_takes_files(std::filesystem::temp_directory_path()));

    ProgramFolders folders;
    folders.program = unwritable;
    folders.program_writable = folder_takes_files(unwritable);
    folders.app_data = platform::user_folder(platform::UserFolder::app_data);
    folders.pictures = platform::user_folder(platform::UserFolder::pictures);
    folders.documents = platform::user_folder(platform::UserFolder::documents);
    wchar_t app_data[MAX_PATH] = {};
    ASSERT_GT(GetEnvironmentVariableW(L"APPDATA", app_data, MAX_PATH), 0u);
    EXPECT_TRUE(std::filesystem::equivalent(folders.app_data, app_data));
    const ProgramPlaces places = program_places(folders);
    EXPECT_EQ(places.settings, folders.app_data / L"gifrec" / L"gif配置.ini");
    EXPECT_EQ(places.seed, unwritable / L"gif配置.ini");
    EXPECT_FALSE(places.save_folder.empty());
    EXPECT_TRUE(places.save_folder == folders.pictures || places.save_folder == folders.documents);
}

}  // namespace
}  // namespace gifanim::app
