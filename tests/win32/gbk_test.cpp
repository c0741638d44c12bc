// GBK conversions must use code page 936 whatever the ANSI code page is (Wine's follows LANG).
#include <gtest/gtest.h>

#include <string>

#include "platform/win32/gbk.h"

namespace gifanim::platform {
namespace {

TEST(Win32Gbk, ConvertsChineseBothWays) {
    // Narrow literals are GBK bytes (-fexec-charset=GBK); wide literals are UTF-16.
    EXPECT_EQ(std::string("录制"), std::string("\xC2\xBC\xD6\xC6"));
    EXPECT_EQ(gbk_to_wide("录制 GIF 动画"), L"录制 GIF 动画");
    EXPECT_EQ(wide_to_gbk(L"录制 GIF 动画"), "录制 GIF 动画");
    EXPECT_EQ(gbk_to_wide(""), L"");
    EXPECT_EQ(wide_to_gbk(L""), "");
}

TEST(Win32Gbk, EveryUnifiedIdeographOfGb2312AndGbkRoundTrips) {
    for (wchar_t c = 0x4E00; c <= 0x9FA5; ++c) {
        const std::wstring one(1, c);
        const std::string bytes = wide_to_gbk(one);
        ASSERT_EQ(bytes.size(), 2u) << std::hex << static_cast<unsigned>(c);
        ASSERT_GE(static_cast<unsigned char>(bytes[0]), 0x81);
        ASSERT_EQ(gbk_to_wide(bytes), one) << std::hex << static_cast<unsigned>(c);
    }
}

TEST(Win32Gbk, CharactersOutsideGbkBecomeQuestionMarks) {
    EXPECT_EQ(wide_to_gbk(L"a\u0E01b"), "a?b");
}

}  // namespace
}  // namespace gifanim::platform
