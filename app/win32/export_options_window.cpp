#include "app/win32/export_options_window.h"

#include <array>
#include <optional>
#include <string>

namespace gifanim::app::win32 {

namespace {


#ifndef WM_DPICHANGED
constexpr UINT WM_DPICHANGED = 0x02E0;
#endif

// Posted by the estimator's thread when the newest estimate is done; it carries nothing, the
// result is read from the estimator, so a stray one only redraws the label.
constexpr UINT kEstimateReady = WM_APP + 1;

// As the settings window: no WS_CLIPCHILDREN, since a group box draws only its frame.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kWindowExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT | platform::win32::kOwnedByTopmost;

constexpr DWORD kGroupBox = BS_GROUPBOX;
constexpr DWORD kEdit = WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kLabel = SS_LEFT | SS_CENTERIMAGE;
// Two lines where the text needs them.
constexpr DWORD kWrappingLabel = SS_LEFT;

using Control = platform::win32::DesignedControl;

constexpr std::array<Control, 18> kControls{{
    {kOptionsGroup, L"BUTTON", "导出选项", kGroupBox, 0, 8, 240, 152},
    {kFirstOptionLabel, L"STATIC", "最大体积:", kLabel, 16, 28, 68, 24},
    {kMaxSizeEdit, L"EDIT", "", kEdit, 88, 28, 56, 24},
    {kFirstOptionLabel + 1, L"STATIC", "MB(0为不限)", kLabel, 150, 28, 86, 24},
    {kFirstOptionLabel + 2, L"STATIC", "缩放:", kLabel, 16, 60, 68, 24},
    {kScaleEdit, L"EDIT", "", kEdit, 88, 60, 56, 24},
    {kFirstOptionLabel + 3, L"STATIC", "%", kLabel, 150, 60, 86, 24},
    {kFirstOptionLabel + 4, L"STATIC", "速度:", kLabel, 16, 92, 68, 24},
    {kSpeedEdit, L"EDIT", "", kEdit, 88, 92, 56, 24},
    {kFirstOptionLabel + 5, L"STATIC", "倍", kLabel, 150, 92, 86, 24},
    {kFirstOptionLabel + 6, L"STATIC", "最高帧率:", kLabel, 16, 124, 68, 24},
    {kMaxFpsEdit, L"EDIT", "", kEdit, 88, 124, 56, 24},
    {kFirstOptionLabel + 7, L"STATIC", "帧/s(0为不变)", kLabel, 150, 124, 86, 24},
    {kEstimateGroup, L"BUTTON", "体积", kGroupBox, 0, 168, 240, 64},
    {kEstimateLabel, L"STATIC", "预计大小:-", kWrappingLabel, 16, 188, 216, 40},
    {kOptionsNoteLabel, L"STATIC", "", kWrappingLabel, 8, 236, 232, 36},
    {kOptionsOkButton, L"BUTTON", "确定", BS_DEFPUSHBUTTON | WS_TABSTOP, 35, 276, 64, 32},
    {kOptionsDefaultsButton, L"BUTTON", "默认", BS_PUSHBUTTON | WS_TABSTOP, 131, 276, 64, 32},
}};

struct EditBox {
    int id;
    ExportOption option;
};

constexpr std::array<EditBox, export_option_count> kEditBoxes{{
    {kMaxSizeEdit, ExportOption::max_size_mb},
    {kScaleEdit, ExportOption::scale_percent},
    {kSpeedEdit, ExportOption::speed},
    {kMaxFpsEdit, ExportOption::max_fps},
}};

std::optional<ExportOption> option_of(int id) {
    for (const EditBox& box : kEditBoxes)
        if (box.id == id) return box.option;
    return std::nullopt;
}

}  // namespace

ExportOptionsWindow::ExportOptionsWindow()
    : estimator_([this] {
          if (const HWND window = hwnd()) PostMessageW(window, kEstimateReady, 0, 0);
      }) {}

bool ExportOptionsWindow::create(HWND owner, Shell& shell) {
    shell_ = &shell;
    if (!Window::create(kExportOptionsWindowClass, kExportOptionsCaption, kWindowStyle, kWindowExStyle, 0, 0,
                        kExportOptionsClientWidth, kExportOptionsClientHeight, owner))
        return false;
    const UINT dpi = platform::win32::dpi_of(hwnd());
    if (!platform::win32::create_controls(hwnd(), kControls, dpi)) return false;
    platform::win32::size_and_centre_on_owner(hwnd(), owner, kExportOptionsClientWidth, kExportOptionsClientHeight,
                                              dpi);
    show_model();
    return true;
}

void ExportOptionsWindow::show() {
    shell_->export_options().ShowValues();
    show_model();
    ask_estimate();
    ShowWindow(hwnd(), SW_SHOWNORMAL);
    SetForegroundWindow(hwnd());
}

void ExportOptionsWindow::hide() {
    // What was refused or clamped while typing shows as what counts the next time.
    shell_->export_options().ShowValues();
    show_model();
    ShowWindow(hwnd(), SW_HIDE);
}

void ExportOptionsWindow::show_model() {
    struct Guard {
        bool& flag;
        explicit Guard(bool& f) : flag(f) { flag = true; }
        ~Guard() { flag = false; }
    } guard(showing_model_);
    for (const EditBox& box : kEditBoxes)
        platform::win32::set_control_text(GetDlgItem(hwnd(), box.id), shell_->export_options().text(box.option));
    show_note();
}

void ExportOptionsWindow::show_note() {
    platform::win32::set_control_text(GetDlgItem(hwnd(), kOptionsNoteLabel), shell_->export_options().note());
}

void ExportOptionsWindow::ask_estimate() {
    const ExportPlan plan = shell_->export_options().plan();
    if (std::optional<EstimateRequest> request =
            estimate_request(shell_->session().store(), plan, shell_->export_optimization())) {
        estimator_.Ask(std::move(*request));
        platform::win32::set_control_text(GetDlgItem(hwnd(), kEstimateLabel), "预计大小:计算中...");
    } else {
        estimator_.Drop();
        platform::win32::set_control_text(GetDlgItem(hwnd(), kEstimateLabel),
                                          estimate_text(std::nullopt, plan.limit_bytes));
    }
}

void ExportOptionsWindow::show_estimate() {
    // Nothing while a newer request is still being estimated: its own message comes.
    if (const std::optional<SizeEstimator::Result> latest = estimator_.Latest()) {
        platform::win32::set_control_text(GetDlgItem(hwnd(), kEstimateLabel),
                                          estimate_text(latest->bytes, shell_->export_options().plan().limit_bytes));
    }
}

void ExportOptionsWindow::layout(UINT dpi) {
    platform::win32::lay_out_controls(hwnd(), kControls, dpi);
}

void ExportOptionsWindow::command(int id, int code) {
    ExportOptions& options = shell_->export_options();
    if (code == EN_CHANGE) {
        if (showing_model_) return;
        if (const auto option = option_of(id)) {
            if (options.SetText(*option, platform::win32::gbk(platform::win32::control_text(GetDlgItem(hwnd(), id)))))
                ask_estimate();
            show_note();
        }
        return;
    }
    if (code != BN_CLICKED) return;
    if (id == kOptionsOkButton) {
        hide();
    } else if (id == kOptionsDefaultsButton) {
        if (options.RestoreDefaults()) ask_estimate();
        show_model();
    }
}

LRESULT ExportOptionsWindow::handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_COMMAND:
            if (lparam) command(LOWORD(wparam), HIWORD(wparam));
            return 0;
        case kEstimateReady: show_estimate(); return 0;
        case WM_CLOSE: hide(); return 0;
        case WM_DPICHANGED:
            layout(LOWORD(wparam));
            platform::win32::set_ui_font(hwnd(), LOWORD(wparam));
            platform::win32::take_suggested_rect(hwnd(), lparam);
            return 0;
        // The frame window goes first to its owned windows: the estimate's snapshot must be let go
        // before the shell closes the store.
        case WM_DESTROY: estimator_.Stop(); return Window::handle(message, wparam, lparam);
        default: return Window::handle(message, wparam, lparam);
    }
}

}  // namespace gifanim::app::win32
