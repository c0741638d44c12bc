#pragma once
// The dialog "导出选项": four edit boxes over app::ExportOptions and the live size estimate.
// Typing goes to the model, which stores each value as it changes; the estimate is made by a
// SizeEstimator on its own thread and posted back. Modeless and owned by the frame window, it
// lives as long as the program: closing it only hides it.
#include <windows.h>

#include "app/export_estimate.h"
#include "app/export_options.h"
#include "app/shell.h"
#include "platform/win32/window.h"

namespace gifanim::app::win32 {

inline constexpr wchar_t kExportOptionsWindowClass[] = L"GifRecExportOptionsWindow";
inline constexpr const char* kExportOptionsCaption = "导出选项";
// The client area as designed at 96 DPI.
inline constexpr int kExportOptionsClientWidth = 244;
inline constexpr int kExportOptionsClientHeight = 316;

// Control ids, fixed so that a test driver in another process finds the controls with GetDlgItem.
inline constexpr int kOptionsGroup = 1300;
inline constexpr int kMaxSizeEdit = 1301;
inline constexpr int kScaleEdit = 1302;
inline constexpr int kSpeedEdit = 1303;
inline constexpr int kMaxFpsEdit = 1304;
inline constexpr int kEstimateLabel = 1305;
inline constexpr int kOptionsNoteLabel = 1306;
inline constexpr int kOptionsOkButton = 1307;
inline constexpr int kOptionsDefaultsButton = 1308;
inline constexpr int kEstimateGroup = 1309;
// The first of the labels beside the boxes (1310 onwards).
inline constexpr int kFirstOptionLabel = 1310;

class ExportOptionsWindow final : public platform::win32::Window {
public:
    ExportOptionsWindow();
    // Creates the window hidden with its controls. The shell must outlive the window.
    bool create(HWND owner, Shell& shell);
    // Shows the values (as stored, whatever was typed before) and asks for a new estimate.
    void show();
    void hide();

private:
    LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam) override;
    void command(int id, int code);
    void show_model();
    void show_note();
    void ask_estimate();
    void show_estimate();
    void layout(UINT dpi);

    Shell* shell_ = nullptr;
    // While show_model() runs, EN_CHANGE comes from the program, not from typing.
    bool showing_model_ = false;
    SizeEstimator estimator_;
};

}  // namespace gifanim::app::win32
