// The settings window over a real model and settings file, driven the way a user or a test driver
// in another process would: WM_SETTEXT into the boxes, BM_CLICK on the buttons, WM_CLOSE.
#include "app/win32/settings_window.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/unit/scratch_dir.h"

namespace gifanim::app::win32 {
namespace {

struct FakeShell final : SettingsShell {
    Position FrameWindowPosition() const override { return {12, 34}; }
    void RelabelRateItems(const std::array<std::string, 4>& l) override { labels.assign(l.begin(), l.end()); }
    void ResizeFrameWindow(int w, int h) override { size = {w, h}; }
    void HideSettingsWindow() override { ++hides; }
    void ApplyTransparency(std::uint32_t key) override { colour_keys.push_back(key); }

    std::vector<std::string> labels;
    std::pair<int, int> size{0, 0};
    int hides = 0;
    std::vector<std::uint32_t> colour_keys;
};

class Win32SettingsWindow : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(window.create(nullptr, settings, shell)); }
    HWND item(int id) const { return GetDlgItem(window.hwnd(), id); }
    void click(int id) const { SendMessageW(item(id), BM_CLICK, 0, 0); }
    void type(int id, const wchar_t* text) const {
        SendMessageW(item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    }
    std::wstring text(int id) const {
        wchar_t buffer[64]{};
        GetWindowTextW(item(id), buffer, 64);
        return buffer;
    }
    bool checked(int id) const { return SendMessageW(item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    std::string key(std::string_view name) const { return settings.config().ReadKey(name, -1); }

    test::ScratchDir scratch{"gifanim-settings-window-"};
    Settings settings{ConfigFile{scratch.dir / "settings.ini"}};
    FakeShell shell;
    SettingsWindow window;
};

// A control's rectangle in client coordinates is the one designed at 96 DPI, scaled to dpi.
void expect_rect(HWND control, RECT designed, UINT dpi) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    const RECT expected{MulDiv(designed.left, dpi, 96), MulDiv(designed.top, dpi, 96),
                        MulDiv(designed.left + designed.right, dpi, 96),
                        MulDiv(designed.top + designed.bottom, dpi, 96)};
    EXPECT_TRUE(EqualRect(&r, &expected))
        << r.left << "," << r.top << " " << r.right - r.left << "x" << r.bottom - r.top;
}

TEST_F(Win32SettingsWindow, IsCreatedHiddenWithItsControlsScaledToTheWindowsDpi) {
    const UINT dpi = platform::win32::dpi_of(window.hwnd());
    if (const char* expected = std::getenv("GIFANIM_EXPECT_DPI")) {
        EXPECT_EQ(dpi, UINT(std::atoi(expected)));
    }
    EXPECT_FALSE(IsWindowVisible(window.hwnd()));
    RECT client{};
    GetClientRect(window.hwnd(), &client);
    EXPECT_EQ(client.right, MulDiv(244, dpi, 96));
    EXPECT_EQ(client.bottom, MulDiv(485, dpi, 96));
    expect_rect(item(kRateGroup), {0, 8, 240, 48}, dpi);
    expect_rect(item(kHeightEdit), {147, 72, 48, 24}, dpi);
    expect_rect(item(kDiskStorageRadio), {120, 200, 72, 16}, dpi);
    expect_rect(item(kDefaultsButton), {131, 420, 64, 32}, dpi);
    EXPECT_EQ(text(kFullScreenHideCheck), L"全屏隐藏窗口");
    for (int id = kRateGroup; id <= kDefaultsButton; ++id) EXPECT_NE(item(id), nullptr) << id;

    // Moving to a monitor of another resolution lays the controls out anew.
    RECT suggested{0, 0, 600, 800};
    SendMessageW(window.hwnd(), 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
    expect_rect(item(kMemorySizeEdit), {80, 224, 48, 24}, 192);
}

TEST_F(Win32SettingsWindow, TypingReachesTheModelAndShowingTheModelIsNotTyping) {
    type(kRate2Edit, L"12帧");
    EXPECT_EQ(settings.text(SettingsEdit::rate2), "12帧");
    // A lone lead byte does not survive the way to UTF-16 and back: had the box's change been
    // taken for typing, the model would now hold something else.
    settings.SetText(SettingsEdit::memory_mb, "7\x81");
    window.show_model();
    EXPECT_EQ(text(kMemorySizeEdit).substr(0, 1), L"7");
    EXPECT_EQ(settings.text(SettingsEdit::memory_mb), "7\x81");
}

TEST_F(Win32SettingsWindow, ClicksRunTheirHandlersAndShowTheOutcome) {
    click(kDiskStorageRadio);
    EXPECT_EQ(key("存储方式"), "0");
    EXPECT_TRUE(checked(kDiskStorageRadio) && !checked(kMemoryStorageRadio));
    EXPECT_FALSE(IsWindowEnabled(item(kMemorySizeEdit)));
    click(kClickThroughCheck);
    EXPECT_TRUE(checked(kClickThroughCheck));
    EXPECT_EQ(shell.colour_keys, std::vector<std::uint32_t>{click_through_colour_key});
    click(kRecordCursorCheck);
    click(kRecordCursorCheck);
    EXPECT_FALSE(settings.record_cursor() || checked(kRecordCursorCheck));
    click(kFullScreenHideCheck);
    EXPECT_TRUE(settings.full_screen_hide());

    // 默认 shows the defaults and writes nothing; 确定 writes every box and applies them.
    click(kDefaultsButton);
    EXPECT_EQ(text(kWidthEdit), L"480");
    EXPECT_TRUE(checked(kMemoryStorageRadio) && IsWindowEnabled(item(kMemorySizeEdit)));
    EXPECT_EQ(key("存储方式"), "0");
    type(kHeightEdit, L"300");
    click(kOkButton);
    for (const auto& [name, value] : {std::pair{"宽度", "480"},
                                      {"高度", "300"},
                                      {"左边", "12"},
                                      {"帧4", "15"},
                                      {"内存大小", "20"},
                                      {"存储方式", "1"},
                                      {"录制鼠标", "1"},
                                      {"全屏隐藏", "1"}})
        EXPECT_EQ(key(name), value) << name;
    EXPECT_EQ(shell.labels, (std::vector<std::string>{"3帧/s", "5帧/s", "10帧/s", "15帧/s"}));
    EXPECT_EQ(shell.size, (std::pair{480, 300}));
    EXPECT_EQ(shell.hides, 1);
}

TEST_F(Win32SettingsWindow, ClosingHidesTheWindowAndShowingShowsTheModel) {
    window.show();
    SendMessageW(window.hwnd(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(IsWindow(window.hwnd()));
    EXPECT_FALSE(IsWindowVisible(window.hwnd()));
    settings.SetText(SettingsEdit::rate1, "9");
    window.show();
    EXPECT_TRUE(IsWindowVisible(window.hwnd()));
    EXPECT_EQ(text(kRate1Edit), L"9");
}

}  // namespace
}  // namespace gifanim::app::win32
