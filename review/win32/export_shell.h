#pragma once
// The export's port on the real windows: the save dialog, the progress window, the frame window's
// caption and state, and the message box.
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>

#include "review/export.h"
#include "review/win32/progress_window.h"

namespace gifanim::review::win32 {

inline constexpr const char* kSaveDialogTitle = "保存GIF图片";
inline constexpr const char* kSaveDialogFileName = "Tumo制作-GIF录制小工具";
inline constexpr const char* kSaveDialogFilterName = "GIF格式文件(*.gif)";

// Every call comes on the export's thread. The dialogs run on that thread, modal to the frame
// window; every change to a window is handed to the user-interface thread and waited for.
class Win32ExportShell : public ExportShell {
public:
    // The save dialog starts in `save_folder`, or where it chooses itself when that is empty.
    Win32ExportShell(HWND frame_window, ProgressWindow& progress, std::filesystem::path save_folder = {})
        : frame_(frame_window), progress_(progress), save_folder_(std::move(save_folder)) {}

    std::filesystem::path AskSavePath() override;
    void ShowProgressWindow() override;
    void HideProgressWindow() override;
    void EnableFrameWindow(bool enabled) override;
    std::int32_t ProgressMaximum() override;
    void SetProgress(std::int32_t position) override;
    void SetFrameWindowCaption(const std::string& gbk) override;
    void ShowMessage(const std::string& gbk_text, const std::string& gbk_title, int icon) override;

private:
    // Runs `work` on the user-interface thread, which owns the progress window.
    void on_ui_thread(const std::function<void()>& work) const;

    HWND frame_;
    ProgressWindow& progress_;
    std::filesystem::path save_folder_;
};

}  // namespace gifanim::review::win32
