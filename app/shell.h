#pragma once
// The recorder's shell: start-up, the frame window's toolbar and menu commands, the frame rate,
// full-screen mode and shut-down. The frame window only forwards clicks and commands here and
// carries out what it is told through FrameWindowPort.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/config.h"
#include "app/export_options.h"
#include "app/menu.h"
#include "app/settings.h"
#include "capture/session.h"
#include "gif/gif_maker.h"
#include "platform/screen.h"
#include "review/export.h"
#include "review/window_placement.h"

namespace gifanim::app {

// Toolbar buttons, by index.
namespace button {
inline constexpr int record = 0;
inline constexpr int clear = 1;
inline constexpr int preview = 2;
inline constexpr int edit = 3;
inline constexpr int save = 4;
}  // namespace button

inline constexpr const char* kFrameWindowCaption = "Zovaro GIF录制";
inline constexpr const char* kInitFailedText = "初始化失败";
inline constexpr const char* kInitFailedTitle = "信息：";
inline constexpr const char* kRecoverTitle = "Zovaro提示您：";
// The question for a recording of `frames` frames left behind.
std::string recover_question(std::size_t frames);
// The frame window's size as designed, before the stored geometry replaces it.
inline constexpr int kDesignedWidth = 588;
inline constexpr int kDesignedHeight = 429;

// What the shell asks of the frame window and the windows it owns.
class FrameWindowPort {
public:
    virtual ~FrameWindowPort() = default;
    virtual void SetCaption(const std::string& gbk) = 0;
    virtual std::string ButtonCaption(int index) const = 0;
    virtual void SetButtonCaption(int index, const std::string& gbk) = 0;
    virtual void EnableButton(int index, bool enabled) = 0;
    // The frame window's rectangle on the screen, and moving and sizing it.
    virtual platform::ScreenRect WindowRect() const = 0;
    virtual void MoveWindow(int left, int top, int width, int height) = 0;
    // How the window shows, and the rectangle it has (or comes back to) when it shows normally.
    virtual review::WindowShow WindowState() const = 0;
    virtual platform::ScreenRect NormalRect() const = 0;
    // The work area of the monitor nearest to the rectangle: the one it shares most with, or the
    // closest when it is on none.
    virtual platform::ScreenRect WorkArea(const platform::ScreenRect& rect) const = 0;
    virtual void Minimize() = 0;
    virtual platform::ScreenRect CapturePanelRect() const = 0;
    virtual platform::ScreenSize ScreenSize() const = 0;
    virtual void StartTimer(int id, std::int32_t period_ms) = 0;
    virtual void StopTimer(int id) = 0;
    // Opens a popup with these items at the mouse cursor; the choice comes back as a menu command.
    virtual void ShowPopupMenu(const std::vector<MenuItem>& items) = 0;
    // Colour key of the frame window (0x00BBGGRR) and whether the capture panel lets mouse input
    // through to the windows beneath.
    virtual void ApplyTransparency(std::uint32_t colour_key, bool click_through) = 0;
    virtual void ShowSettingsWindow() = 0;
    virtual void HideSettingsWindow() = 0;
    virtual void ShowAbout() = 0;
    // A problem that does not stop the program, such as a failed spill file write, in a box the
    // frame window owns.
    virtual void ShowWarning(const std::string& gbk) = 0;
    // A question in a box the frame window owns, Yes and No with the question icon; true for Yes.
    virtual bool AskYesNo(const std::string& text_gbk, const std::string& title_gbk) = 0;
    virtual void ShowPreview() = 0;
    virtual void OpenEditor() = 0;
    // The delete commands of the frame editor's popup (ids 14 to 16).
    virtual void EditorCommand(int id) = 0;
    // The dialog "导出选项" (id 19); a window without one ignores it.
    virtual void ShowExportOptions() {}
    // A system-wide key under `id`, with RegisterHotKey's modifiers; false when the system refuses
    // it. A window without hotkeys refuses them all.
    virtual bool RegisterHotkey(int /*id*/, unsigned /*modifiers*/, unsigned /*virtual_key*/) { return false; }
    virtual void UnregisterHotkey(int /*id*/) {}
};

// The capture panel's place in the frame window's client area: everything below the toolbar.
platform::ScreenRect capture_panel_layout(int client_width, int client_height, int toolbar_top, int toolbar_height);

// Whether a system command is a maximize, which the frame window refuses: the menu's, the
// caption's double click (SC_MAXIMIZE | HTCAPTION) or any other, whose low four bits the system
// uses for itself.
bool refuses_system_command(unsigned command);

// The system moves the frame window to a monitor of another DPI (a drag across monitors, or the
// stored place at start-up on a monitor scaled unlike the primary one).
struct DpiChange {
    platform::ScreenRect window;     // before the change, physical pixels
    platform::ScreenRect suggested;  // the system's: the size scaled by the new DPI over the old
    int toolbar_before = 0;          // the toolbar's height at the old DPI and at the new one
    int toolbar_after = 0;
    platform::ScreenSize frame_before;  // what the window has beyond its client area, at each DPI
    platform::ScreenSize frame_after;
};
// Where the frame window goes. The capture panel keeps its physical size, since a running
// recording's canvas was fixed at its start: the suggested position is taken, and the window
// grows or shrinks only by what its toolbar and frame do. While the window is being put at its
// stored rectangle (`placing`), that rectangle stays as it is: it was measured on the monitor it
// is going to, and scaling it would change the stored size at every start.
platform::ScreenRect frame_rect_after_dpi_change(const DpiChange& change,
                                                 const std::optional<platform::ScreenRect>& placing);

class Shell final : private capture::RecordingShell, private SettingsShell {
public:
    Shell(ConfigFile config, FrameWindowPort& window, capture::FrameGrabber& grabber,
          review::ExportShell& export_shell);
    ~Shell() override;

    // Everything after the windows were created: fills the settings, builds the menus, restores
    // geometry, full-screen mode, the checked rate and 优化体积, refreshes the toolbar, creates
    // the spill file, applies the transparency and reads the record-cursor flag. False when the
    // spill file cannot be created: the program shows "初始化失败" and ends.
    bool StartUp();
    // Offers, one by one, the recordings that recorder processes left in `dir` when they ended
    // without saving: Yes makes one the current recording (the rest stay for the next start), No
    // deletes it.
    void OfferLeftRecordings(const std::filesystem::path& dir);
    void ToolbarClick(int index);
    void ToolbarDropDown(int index);
    void MenuCommand(int id);
    void ShowPopupMenu(Popup popup);
    // An export in this direction on a thread of its own (the preview's 保存 too); a request while
    // one runs is ignored, and a running recording is stopped first.
    void StartExport(review::ExportDirection direction);
    // The record timer's tick.
    void RecordTick() { session_.CaptureTick(); }
    // The countdown timer's tick: the next second's caption, or the recording starts.
    void CountdownTick();
    // WM_HOTKEY: the record key acts as the 录制/停止 button does, the pause key as 暂停录制.
    void HotkeyPressed(std::intptr_t id);
    // Pauses a running recording or resumes a paused one; nothing otherwise.
    void TogglePause();
    bool counting_down() const { return countdown_.running(); }
    // Buttons 1 to 4 are enabled exactly when there are frames.
    void RefreshToolbar() override;
    // Resets the recording, waits for a running export, clears the maker, deletes the spill
    // file and stores the frame window's geometry.
    void ShutDown();
    // The user logs off or the system shuts down, and the process ends without closing its
    // windows: stores the frame window's geometry as ShutDown does, but keeps the recording and
    // its spill file for the next start to recover, and waits for no export (whose thread may be
    // waiting for this one).
    void SessionEnding();

    // The frame window's rectangle as it shows normally, minimised or maximised as it is: what is
    // stored, and what the preview and the editor are centred on.
    platform::ScreenRect FrameWindowRect() const;

    Settings& settings() { return settings_; }
    // What the settings window's 确定 and click handlers need.
    SettingsShell& settings_shell() { return *this; }
    const MenuModel& menus() const { return menus_; }
    capture::RecordingSession& session() { return session_; }
    review::Exporter& exporter() { return exporter_; }
    std::int32_t frame_rate() const { return frame_rate_; }
    bool full_screen() const { return menus_.GetMenuState(menu_id::full_screen) == kMenuChecked; }
    bool optimize_size() const { return menus_.GetMenuState(menu_id::optimize_size) == kMenuChecked; }
    // What the dialog "导出选项" holds, which every export takes while it is set.
    ExportOptions& export_options() { return export_options_; }
    // What the next export asks of the maker: optimized while 优化体积 is checked, the plain
    // bytes otherwise.
    Optimization export_optimization() const { return {optimize_size(), Optimization::kDefaultQuality}; }

private:
    void restore_geometry_and_menus();
    void store_geometry();
    void select_rate(int id);
    void toggle_full_screen();
    void toggle_optimize_size();
    void start_or_count_down();
    void cancel_countdown();

    // RecordingShell
    void SetCaption(const std::string& gbk) override { window_.SetCaption(gbk); }
    void SetRecordButtonCaption(const std::string& gbk) override;
    void MinimizeFrameWindow() override { window_.Minimize(); }
    // A warning while a recording runs waits for its end: the caption only says how far it has
    // got, and a box would come in the user's way (or, the window minimised, unseen).
    void Warn(const std::string& gbk) override;
    void StartTimer(int id, std::int32_t period_ms) override { window_.StartTimer(id, period_ms); }
    void StopTimer(int id) override { window_.StopTimer(id); }
    bool FullScreenChecked() const override { return full_screen(); }
    platform::ScreenRect CapturePanelRect() const override { return window_.CapturePanelRect(); }
    Size ScreenSize() const override;
    std::int32_t FrameRate() const override { return frame_rate_; }
    std::int64_t MemoryBudgetBytes() const override { return settings_.memory_budget_bytes(); }
    bool DiskStorage() const override { return settings_.disk_storage(); }
    bool FullScreenHide() const override { return settings_.full_screen_hide(); }
    bool RecordCursor() const override { return settings_.record_cursor(); }
    bool ShowClicks() const override { return settings_.show_clicks(); }

    // SettingsShell
    Position FrameWindowPosition() const override;
    void RelabelRateItems(const std::array<std::string, 4>& labels) override { menus_.RelabelRateItems(labels); }
    void ResizeFrameWindow(int width, int height) override;
    void HideSettingsWindow() override { window_.HideSettingsWindow(); }
    void ApplyTransparency(std::uint32_t colour_key) override;
    bool ReplaceHotkey(HotkeyAction action, Hotkey old_key, Hotkey new_key) override;

    FrameWindowPort& window_;
    review::ExportShell& export_shell_;
    Settings settings_;
    ExportOptions export_options_;
    MenuModel menus_;
    capture::RecordingSession session_;
    GifMaker maker_;
    review::Exporter exporter_{maker_};
    std::int32_t frame_rate_ = 0;
    Countdown countdown_;
    // The distinct warnings of the running recording, in order, shown when it stops.
    std::vector<std::string> pending_warnings_;
};

}  // namespace gifanim::app
