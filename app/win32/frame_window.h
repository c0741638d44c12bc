#pragma once
// The frame window: toolbar, see-through capture panel, popup menus. It forwards clicks, menu
// commands and timer ticks to the shell and carries out what the shell asks through
// FrameWindowPort.
#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "app/shell.h"
#include "platform/win32/window.h"

namespace gifanim::app::win32 {

inline constexpr wchar_t kFrameWindowClass[] = L"GifRecFrameWindow";
// Toolbar buttons have the command ids kFirstButtonId + index.
inline constexpr int kFirstButtonId = 100;
inline constexpr int kToolbarId = 200;
inline constexpr int kCapturePanelId = 201;

class FrameWindow final : public platform::win32::Window, public FrameWindowPort {
public:
    FrameWindow();
    ~FrameWindow() override;

    // Creates the window at its designed place and size with its toolbar and capture panel.
    bool create();
    void attach(Shell& shell) { shell_ = &shell; }
    // Closing the window no longer reaches the shell (a start-up that failed).
    void detach() { shell_ = nullptr; }
    // What the windows that come with the shell (settings, preview, editor) do for the frame window.
    std::function<void()> on_show_settings, on_hide_settings, on_show_preview, on_open_editor;
    std::function<void(int)> on_editor_command;
    std::function<void()> on_show_export_options;

    // The capture panel's place in the client area.
    platform::ScreenRect capture_panel_in_client() const;

    // FrameWindowPort
    void SetCaption(const std::string& gbk) override;
    std::string ButtonCaption(int index) const override;
    void SetButtonCaption(int index, const std::string& gbk) override;
    void EnableButton(int index, bool enabled) override;
    platform::ScreenRect WindowRect() const override;
    void MoveWindow(int left, int top, int width, int height) override;
    review::WindowShow WindowState() const override;
    platform::ScreenRect NormalRect() const override;
    platform::ScreenRect WorkArea(const platform::ScreenRect& rect) const override {
        return platform::win32::work_area_near(rect);
    }
    void Minimize() override;
    platform::ScreenRect CapturePanelRect() const override;
    platform::ScreenSize ScreenSize() const override;
    void StartTimer(int id, std::int32_t period_ms) override;
    void StopTimer(int id) override;
    void ShowPopupMenu(const std::vector<MenuItem>& items) override;
    void ApplyTransparency(std::uint32_t colour_key, bool click_through) override;
    void ShowSettingsWindow() override;
    void HideSettingsWindow() override;
    void ShowAbout() override;
    void ShowWarning(const std::string& gbk) override;
    bool AskYesNo(const std::string& text_gbk, const std::string& title_gbk) override;
    void ShowPreview() override;
    void OpenEditor() override;
    void EditorCommand(int id) override;
    void ShowExportOptions() override {
        if (on_show_export_options) on_show_export_options();
    }
    bool RegisterHotkey(int id, unsigned modifiers, unsigned virtual_key) override {
        // MOD_NOREPEAT: a held key toggles once, not at the keyboard's repeat rate.
        return RegisterHotKey(hwnd(), id, modifiers | MOD_NOREPEAT, virtual_key) != 0;
    }
    void UnregisterHotkey(int id) override { UnregisterHotKey(hwnd(), id); }

private:
    LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam) override;
    void create_toolbar();
    void layout();
    void place_input_catcher();
    void dpi_changed(UINT dpi, const RECT& suggested);

    Shell* shell_ = nullptr;
    HWND toolbar_ = nullptr;
    HWND panel_ = nullptr;
    HBRUSH panel_brush_ = nullptr;
    // Over the panel while click-through is off: nearly transparent, so the panel still shows
    // what lies beneath, but it takes the mouse input the colour key would let through.
    class InputCatcher;
    std::unique_ptr<InputCatcher> catcher_;
    bool click_through_ = true;
    // The window's rectangle when it last showed normally, should the system not say.
    platform::ScreenRect shown_rect_;
    // While MoveWindow puts the window at a rectangle, that rectangle.
    std::optional<platform::ScreenRect> placing_;
};

}  // namespace gifanim::app::win32
