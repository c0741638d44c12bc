// Files through CreateFileW, and the system's error descriptions in GBK.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/win32/long_path.h"

namespace gifanim::platform {
namespace {

class Win32File : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ =
            std::filesystem::temp_directory_path() / (L"gifanim-file-test-" + std::to_wstring(GetCurrentProcessId()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    std::filesystem::path dir_;
};

std::vector<std::uint8_t> pattern(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    return v;
}

void expect_clean_description(const std::string& text) {
    ASSERT_FALSE(text.empty());
    EXPECT_LE(text.size(), 255u);
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
    EXPECT_NE(text.back(), ' ');
}

TEST_F(Win32File, OpeningFailuresCarryTheSystemsDescription) {
    try {
        File::open_read(dir_ / L"missing.bin");
        FAIL() << "no FileError";
    } catch (const FileError& e) {
        EXPECT_EQ(e.code, ERROR_FILE_NOT_FOUND);
        expect_clean_description(e.text);
        EXPECT_EQ(e.text, describe_system_error(ERROR_FILE_NOT_FOUND));
    }
    try {
        File::open_read(dir_ / L"no-such-dir" / L"x.bin");
        FAIL() << "no FileError";
    } catch (const FileError& e) {
        EXPECT_EQ(e.code, ERROR_PATH_NOT_FOUND);
        expect_clean_description(e.text);
        EXPECT_NE(e.text, describe_system_error(ERROR_FILE_NOT_FOUND));
    }
    // A directory is not a file to read.
    EXPECT_THROW(File::open_read(dir_), FileError);
    expect_clean_description(describe_system_error(0x7FFF1234));
}

TEST_F(Win32File, WritesAndReadsBackLargerThanOneBuffer) {
    const auto data = pattern(300000);
    const auto path = dir_ / L"round.bin";
    {
        File f = File::create(path);
        f.write(std::span(data).first(1000));
        f.write(std::span(data).subspan(1000));
        f.close();
    }
    File f = File::open_read(path);
    ASSERT_EQ(f.size(), data.size());
    std::vector<std::uint8_t> back(data.size());
    f.read(std::span(back).first(12345));
    f.read(std::span(back).subspan(12345));
    EXPECT_EQ(back, data);

    std::uint8_t one = 0;
    try {
        f.read(std::span(&one, 1));
        FAIL() << "read past the end did not throw";
    } catch (const FileError& e) {
        EXPECT_NE(e.code, 0);
        EXPECT_FALSE(e.text.empty());
    }
}

TEST_F(Win32File, CreateTruncatesAnExistingFile) {
    const auto path = dir_ / L"trunc.bin";
    {
        File f = File::create(path);
        f.write(pattern(100));
    }
    File f = File::create(path);
    const std::vector<std::uint8_t> three = {1, 2, 3};
    f.write(three);
    f.close();
    EXPECT_EQ(File::open_read(path).size(), 3u);
}

// The name must reach the file system as UTF-16, not through the ANSI code page.
TEST_F(Win32File, ChinesePathRoundTrips) {
    const std::wstring name = L"测试.bin";
    const auto path = dir_ / name;
    const auto data = pattern(77);
    {
        File f = File::create(path);
        f.write(data);
        f.close();
    }
    std::vector<std::wstring> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_))
        names.push_back(entry.path().filename().wstring());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], name);

    File f = File::open_read(path);
    std::vector<std::uint8_t> back(f.size());
    f.read(back);
    EXPECT_EQ(back, data);
}

TEST(Win32LongPath, OnlyPathsOfMaxPathAndMoreTakeTheNormalisedExtendedForm) {
    EXPECT_EQ(extended_path(L"C:\\short\\x.gif").native(), L"C:\\short\\x.gif");
    const std::wstring folder(MAX_PATH, L'f');
    EXPECT_EQ(extended_path(L"C:/a/../" + folder + L"/./x.gif").native(), L"\\\\?\\C:\\" + folder + L"\\x.gif");
    EXPECT_EQ(extended_path(L"\\\\server\\share\\" + folder).native(), L"\\\\?\\UNC\\server\\share\\" + folder);
    const std::wstring extended = L"\\\\?\\C:\\" + folder + L"\\..\\x";
    EXPECT_EQ(extended_path(extended).native(), extended);
}

// A target whose full path is just short of MAX_PATH, and one whose name is as long as a name can
// be: the temporary file beside each is made, renamed over it and gone.
TEST_F(Win32File, ReplacementFilesBesideTargetsAtTheLengthLimitsLeaveNothingBehind) {
    const auto deep = dir_ / L"deep";
    std::filesystem::create_directory(deep);
    const std::size_t rest = MAX_PATH - 5 - (deep / L"").native().size();
    ASSERT_GT(rest, 8u);
    const std::filesystem::path targets[] = {deep / (std::wstring(rest - 4, L'p') + L".gif"),
                                             dir_ / (std::wstring(251, L'n') + L".gif")};
    const auto data = pattern(5000);
    for (const auto& target : targets) {
        for (int round = 0; round < 2; ++round) {  // made, then replaced
            ReplacementFile file(target);
            file.write(std::span(data).first(1000 * (round + 1)));
            file.commit();
        }
        File f = File::open_read(target);
        EXPECT_EQ(f.size(), 2000u);
    }
    std::vector<std::wstring> left;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_)) left.push_back(entry.path().native());
    std::sort(left.begin(), left.end());
    std::vector<std::wstring> made = {deep.native(), targets[0].native(), targets[1].native()};
    std::sort(made.begin(), made.end());
    EXPECT_EQ(left, made);
}

}  // namespace
}  // namespace gifanim::platform
