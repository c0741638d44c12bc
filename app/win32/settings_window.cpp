#include "app/win32/settings_window.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace gifanim::app::win32 {

namespace {


#ifndef WM_DPICHANGED
constexpr UINT WM_DPICHANGED = 0x02E0;
#endif

// No WS_CLIPCHILDREN: a group box draws only its frame, so the window must paint beneath it.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kWindowExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

constexpr DWORD kGroupBox = BS_GROUPBOX;
constexpr DWORD kEdit = WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kLabel = SS_LEFT | SS_CENTERIMAGE;
// The model decides every check mark, so the buttons never toggle themselves.
constexpr DWORD kCheckBox = BS_CHECKBOX | WS_TABSTOP;
constexpr DWORD kRadio = BS_RADIOBUTTON;

using Control = platform::win32::DesignedControl;

constexpr DWORD kHotkeyField = WS_BORDER | WS_TABSTOP;
constexpr DWORD kDropDownList = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;

constexpr std::array<Control, 31> kControls{{
    {kRateGroup, L"BUTTON", "帧数定义", kGroupBox, 0, 8, 240, 48},
    {kRate1Edit, L"EDIT", "", kEdit, 16, 24, 40, 24},
    {kRate2Edit, L"EDIT", "", kEdit, 72, 24, 40, 24},
    {kRate3Edit, L"EDIT", "", kEdit, 128, 24, 40, 24},
    {kRate4Edit, L"EDIT", "", kEdit, 184, 24, 40, 24},
    {kPreferencesGroup, L"BUTTON", "首选项", kGroupBox, 0, 56, 240, 112},
    {kWindowSizeLabel, L"STATIC", "窗口大小:", kLabel, 16, 72, 56, 24},
    {kWidthEdit, L"EDIT", "", kEdit, 80, 72, 48, 24},
    {kTimesLabel, L"STATIC", "×", kLabel, 130, 72, 16, 24},
    {kHeightEdit, L"EDIT", "", kEdit, 147, 72, 48, 24},
    {kRecordCursorCheck, L"BUTTON", "录制鼠标", kCheckBox, 16, 104, 104, 24},
    {kFullScreenHideCheck, L"BUTTON", "全屏隐藏窗口", kCheckBox, 128, 104, 104, 24},
    {kClickThroughCheck, L"BUTTON", "录制区域穿透", kCheckBox, 16, 132, 104, 24},
    {kMemoryGroup, L"BUTTON", "内存选项", kGroupBox, 0, 176, 240, 96},
    // WS_GROUP on the first radio and on the control after the second makes the two one group.
    {kMemoryStorageRadio, L"BUTTON", "使用内存", kRadio | WS_GROUP | WS_TABSTOP, 16, 200, 80, 16},
    {kDiskStorageRadio, L"BUTTON", "使用硬盘", kRadio, 120, 200, 72, 16},
    {kMemorySizeLabel, L"STATIC", "内存大小:", kLabel | WS_GROUP, 16, 224, 80, 24},
    {kMemorySizeEdit, L"EDIT", "", kEdit, 80, 224, 48, 24},
    {kMegabytesLabel, L"STATIC", "单位为MB", kLabel, 136, 224, 64, 24},
    {kOkButton, L"BUTTON", "确定", BS_DEFPUSHBUTTON | WS_TABSTOP, 35, 420, 64, 32},
    {kDefaultsButton, L"BUTTON", "默认", BS_PUSHBUTTON | WS_TABSTOP, 131, 420, 64, 32},
    {kShowClicksCheck, L"BUTTON", "显示鼠标点击", kCheckBox, 128, 132, 104, 24},
    {kHotkeyGroup, L"BUTTON", "快捷键", kGroupBox, 0, 276, 240, 104},
    {kRecordHotkeyLabel, L"STATIC", "录制/停止:", kLabel, 16, 296, 72, 24},
    {kRecordHotkeyField, HOTKEY_CLASSW, "", kHotkeyField, 96, 296, 128, 24},
    {kPauseHotkeyLabel, L"STATIC", "暂停/继续:", kLabel, 16, 324, 72, 24},
    {kPauseHotkeyField, HOTKEY_CLASSW, "", kHotkeyField, 96, 324, 128, 24},
    {kHotkeyStatusLabel, L"STATIC", "", kLabel, 16, 352, 216, 20},
    {kCountdownLabel, L"STATIC", "倒计时:", kLabel, 16, 388, 56, 24},
    {kCountdownCombo, L"COMBOBOX", "", kDropDownList, 80, 388, 56, 120},
    {kSecondsLabel, L"STATIC", "秒", kLabel, 144, 388, 24, 24},
}};

struct HotkeyField {
    int id;
    HotkeyAction action;
};
constexpr std::array<HotkeyField, 2> kHotkeyFields{{
    {kRecordHotkeyField, HotkeyAction::record_stop},
    {kPauseHotkeyField, HotkeyAction::pause_resume},
}};

struct EditBox {
    int id;
    SettingsEdit edit;
};

constexpr std::array<EditBox, settings_edit_count> kEditBoxes{{
    {kRate1Edit, SettingsEdit::rate1},
    {kRate2Edit, SettingsEdit::rate2},
    {kRate3Edit, SettingsEdit::rate3},
    {kRate4Edit, SettingsEdit::rate4},
    {kWidthEdit, SettingsEdit::width},
    {kHeightEdit, SettingsEdit::height},
    {kMemorySizeEdit, SettingsEdit::memory_mb},
}};

std::optional<SettingsEdit> edit_of(int id) {
    for (const EditBox& box : kEditBoxes)
        if (box.id == id) return box.edit;
    return std::nullopt;
}

bool is_checked(HWND button) {
    return SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void set_checked(HWND button, bool checked) {
    SendMessageW(button, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

}  // namespace

bool SettingsWindow::create(HWND owner, Settings& settings, SettingsShell& shell) {
    settings_ = &settings;
    shell_ = &shell;
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_HOTKEY_CLASS};
    InitCommonControlsEx(&classes);
    if (!Window::create(kSettingsWindowClass, kSettingsWindowCaption, kWindowStyle, kWindowExStyle, 0, 0,
                        kSettingsClientWidth, kSettingsClientHeight, owner))
        return false;
    const UINT dpi = platform::win32::dpi_of(hwnd());
    if (!platform::win32::create_controls(hwnd(), kControls, dpi)) return false;
    for (int seconds : kCountdownChoices) {
        SendMessageW(GetDlgItem(hwnd(), kCountdownCombo), CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(std::to_wstring(seconds).c_str()));
    }

    platform::win32::size_and_centre_on_owner(hwnd(), owner, kSettingsClientWidth, kSettingsClientHeight, dpi);
    show_model();
    return true;
}

void SettingsWindow::show() {
    show_model();
    ShowWindow(hwnd(), SW_SHOWNORMAL);
    SetForegroundWindow(hwnd());
}

void SettingsWindow::hide() {
    ShowWindow(hwnd(), SW_HIDE);
}

void SettingsWindow::show_model() {
    struct Guard {
        bool& flag;
        explicit Guard(bool& f) : flag(f) { flag = true; }
        ~Guard() { flag = false; }
    } guard(showing_model_);

    for (const EditBox& box : kEditBoxes) {
        platform::win32::set_control_text(GetDlgItem(hwnd(), box.id), settings_->text(box.edit));
    }
    set_checked(GetDlgItem(hwnd(), kRecordCursorCheck), settings_->checked(SettingsCheck::record_cursor));
    set_checked(GetDlgItem(hwnd(), kFullScreenHideCheck), settings_->checked(SettingsCheck::full_screen_hide));
    set_checked(GetDlgItem(hwnd(), kClickThroughCheck), settings_->checked(SettingsCheck::click_through));
    set_checked(GetDlgItem(hwnd(), kMemoryStorageRadio), !settings_->disk_storage());
    set_checked(GetDlgItem(hwnd(), kDiskStorageRadio), settings_->disk_storage());
    EnableWindow(GetDlgItem(hwnd(), kMemorySizeEdit), settings_->memory_box_enabled());
    set_checked(GetDlgItem(hwnd(), kShowClicksCheck), settings_->show_clicks());
    for (const HotkeyField& field : kHotkeyFields) {
        const HWND control = GetDlgItem(hwnd(), field.id);
        const WPARAM value = settings_->hotkey(field.action).value;
        if ((SendMessageW(control, HKM_GETHOTKEY, 0, 0) & 0xFFFF) != static_cast<LRESULT>(value))
            SendMessageW(control, HKM_SETHOTKEY, value, 0);
    }
    SetWindowTextW(GetDlgItem(hwnd(), kHotkeyStatusLabel), platform::win32::wide(settings_->hotkey_status()).c_str());
    const auto choice = std::find(kCountdownChoices.begin(), kCountdownChoices.end(), settings_->countdown_seconds());
    SendMessageW(GetDlgItem(hwnd(), kCountdownCombo), CB_SETCURSEL,
                 static_cast<WPARAM>(choice - kCountdownChoices.begin()), 0);
}

void SettingsWindow::layout(UINT dpi) {
    platform::win32::lay_out_controls(hwnd(), kControls, dpi);
}

void SettingsWindow::command(int id, int code) {
    if (id == kCountdownCombo) {
        const LRESULT index = SendMessageW(GetDlgItem(hwnd(), id), CB_GETCURSEL, 0, 0);
        if (code != CBN_SELCHANGE || index < 0 || index >= static_cast<LRESULT>(kCountdownChoices.size())) return;
        settings_->ChooseCountdown(kCountdownChoices[static_cast<std::size_t>(index)]);
        show_model();
        return;
    }
    if (code == EN_CHANGE) {
        if (showing_model_) return;
        for (const HotkeyField& field : kHotkeyFields) {
            if (field.id != id) continue;
            const auto value = static_cast<std::uint16_t>(SendMessageW(GetDlgItem(hwnd(), id), HKM_GETHOTKEY, 0, 0));
            settings_->ChangeHotkey(field.action, Hotkey{value}, *shell_);
            show_model();
            return;
        }
        if (const auto edit = edit_of(id))
            settings_->SetText(*edit, platform::win32::gbk(platform::win32::control_text(GetDlgItem(hwnd(), id))));
        return;
    }
    if (code != BN_CLICKED) return;
    // A check box's state before the click is the one it shows: the model has not changed yet.
    const auto toggled = [&] { return !is_checked(GetDlgItem(hwnd(), id)); };
    switch (id) {
        case kMemoryStorageRadio: settings_->ClickMemoryStorage(); break;
        case kDiskStorageRadio: settings_->ClickDiskStorage(); break;
        case kRecordCursorCheck: settings_->ClickRecordCursor(toggled()); break;
        case kClickThroughCheck: settings_->ClickClickThrough(toggled(), *shell_); break;
        case kFullScreenHideCheck: settings_->SetChecked(SettingsCheck::full_screen_hide, toggled()); break;
        case kOkButton: settings_->StoreAndApply(*shell_); break;
        case kShowClicksCheck: settings_->ClickShowClicks(toggled()); break;
        case kDefaultsButton: settings_->ClickDefaults(*shell_); break;
        default: return;
    }
    show_model();
}

LRESULT SettingsWindow::handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_COMMAND:
            if (lparam) command(LOWORD(wparam), HIWORD(wparam));
            return 0;
        case WM_CLOSE: hide(); return 0;
        case WM_DPICHANGED:
            layout(LOWORD(wparam));
            platform::win32::set_ui_font(hwnd(), LOWORD(wparam));
            platform::win32::take_suggested_rect(hwnd(), lparam);
            return 0;
        default: return Window::handle(message, wparam, lparam);
    }
}

}  // namespace gifanim::app::win32
