// Files through CreateFileW, and the system's error descriptions in GBK.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file.h"

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

}  // namespace
}  // namespace gifanim::platform
