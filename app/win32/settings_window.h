#pragma once
// The settings window: edit boxes, check boxes and storage radios over app::Settings. Typing and
// clicks go to the model; the model's state is drawn back. Modeless and owned by the frame window,
// it lives as long as the program: closing it only hides it.
#include <windows.h>

#include "app/settings.h"
#include "platform/win32/window.h"

namespace gifanim::app::win32 {

inline constexpr wchar_t kSettingsWindowClass[] = L"GifRecSettingsWindow";
inline constexpr const char* kSettingsWindowCaption = "设置";
// The client area as designed at 96 DPI.
inline constexpr int kSettingsClientWidth = 244;
inline constexpr int kSettingsClientHeight = 485;

// Control ids, fixed so that a test driver in another process finds the controls with GetDlgItem.
inline constexpr int kRateGroup = 1000;
inline constexpr int kRate1Edit = 1001;
inline constexpr int kRate2Edit = 1002;
inline constexpr int kRate3Edit = 1003;
inline constexpr int kRate4Edit = 1004;
inline constexpr int kPreferencesGroup = 1005;
inline constexpr int kWindowSizeLabel = 1006;
inline constexpr int kWidthEdit = 1007;
inline constexpr int kTimesLabel = 1008;
inline constexpr int kHeightEdit = 1009;
inline constexpr int kRecordCursorCheck = 1010;
inline constexpr int kFullScreenHideCheck = 1011;
inline constexpr int kClickThroughCheck = 1012;
inline constexpr int kMemoryGroup = 1013;
inline constexpr int kMemoryStorageRadio = 1014;
inline constexpr int kDiskStorageRadio = 1015;
inline constexpr int kMemorySizeLabel = 1016;
inline constexpr int kMemorySizeEdit = 1017;
inline constexpr int kMegabytesLabel = 1018;
inline constexpr int kOkButton = 1019;
inline constexpr int kDefaultsButton = 1020;
inline constexpr int kShowClicksCheck = 1021;
inline constexpr int kHotkeyGroup = 1022;
inline constexpr int kRecordHotkeyLabel = 1023;
inline constexpr int kRecordHotkeyField = 1024;  // msctls_hotkey32
inline constexpr int kPauseHotkeyLabel = 1025;
inline constexpr int kPauseHotkeyField = 1026;   // msctls_hotkey32
inline constexpr int kHotkeyStatusLabel = 1027;  // why a key did not take
inline constexpr int kCountdownLabel = 1028;
inline constexpr int kCountdownCombo = 1029;  // items 0, 3 and 5 seconds
inline constexpr int kSecondsLabel = 1030;

class SettingsWindow final : public platform::win32::Window {
public:
    // Creates the window hidden with all its controls and shows the model in them. The objects
    // passed in must outlive the window.
    bool create(HWND owner, Settings& settings, SettingsShell& shell);
    void show();
    void hide();
    // Sets every control from the model; the changes are not taken for typing.
    void show_model();

private:
    LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam) override;
    void command(int id, int code);
    void layout(UINT dpi);

    Settings* settings_ = nullptr;
    SettingsShell* shell_ = nullptr;
    // While show_model() runs, EN_CHANGE comes from the program, not from typing.
    bool showing_model_ = false;
};

}  // namespace gifanim::app::win32
