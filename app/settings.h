#pragma once
// The live settings: what the settings window's controls hold, and the record-cursor flag of the
// shell. The rest of the recorder reads these values, never the settings file: a change counts as
// soon as a control changes, whether or not 确定 is pressed afterwards. The window only forwards
// typing and clicks here and draws the state back.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/config.h"
#include "app/hotkeys.h"

namespace gifanim::app {

// What the settings ask of the rest of the shell.
class SettingsShell {
public:
    struct Position {
        int left = 0;
        int top = 0;
    };

    virtual ~SettingsShell() = default;
    // The frame window's current left and top edges, in screen pixels.
    virtual Position FrameWindowPosition() const = 0;
    // Rate items 3 to 6 take these labels and lose their check marks; the frame rate itself
    // changes only when the user next chooses a rate item.
    virtual void RelabelRateItems(const std::array<std::string, 4>& labels) = 0;
    // Resizes the frame window, keeping its position.
    virtual void ResizeFrameWindow(int width, int height) = 0;
    virtual void HideSettingsWindow() = 0;
    // Gives the frame window this colour key (0x00BBGGRR): its pixels of that colour are see-through.
    virtual void ApplyTransparency(std::uint32_t colour_key) = 0;
    // The system-wide key of `action` becomes `new_key` (empty: none). False when the system
    // refuses it (another program holds it): `old_key` then stays in force.
    virtual bool ReplaceHotkey(HotkeyAction, Hotkey /*old_key*/, Hotkey /*new_key*/) { return false; }
};

// The edit boxes, in their order on the window.
enum class SettingsEdit { rate1, rate2, rate3, rate4, width, height, memory_mb };
inline constexpr std::size_t settings_edit_count = 7;

enum class SettingsCheck { record_cursor, full_screen_hide, click_through };
inline constexpr std::size_t settings_check_count = 3;

// Colour keys of the frame window: magenta lets clicks through the capture area, the near-black
// one keeps the area see-through but clickable.
inline constexpr std::uint32_t click_through_colour_key = 0xFF00FF;
inline constexpr std::uint32_t solid_colour_key = 0x000001;

// The rate item's label for a rate box's text, as typed: "8" gives "8帧/s", "12abc" "12abc帧/s".
std::string rate_label(std::string_view rate_text);

class Settings {
public:
    // All writes go to config, as they happen. Until one of the fills runs the controls are empty
    // and unchecked, memory storage is selected and the cursor is not recorded.
    explicit Settings(ConfigFile config);

    // The window's controls from the settings file (at start-up, when the window is created). A
    // box is checked when its key reads exactly "1"; 录制鼠标 reads as 0 when missing here.
    void FillFromConfig();
    // The shell's record-cursor flag from the settings file, where 录制鼠标 reads as 1 when
    // missing: a first start records the cursor while the box shows unchecked.
    void ReadRecordCursorFlag();
    // 默认: the controls only; nothing is written, no click handler runs.
    void FillDefaults();
    // 确定: writes every control to the file, then relabels the rate items, resizes the frame
    // window and hides the settings window. The record-cursor flag, the transparency and the
    // live storage choice stay as the click handlers left them.
    void StoreAndApply(SettingsShell& shell);

    // The user's clicks: the control changes, then its handler runs.
    void ClickMemoryStorage();
    void ClickDiskStorage();
    void ClickRecordCursor(bool checked);
    void ClickClickThrough(bool checked, SettingsShell& shell);
    // 显示鼠标点击 and 倒计时 count and are stored as they change; a countdown that is not one of
    // kCountdownChoices is taken as none.
    void ClickShowClicks(bool checked);
    void ChooseCountdown(int seconds);
    // A hotkey field changed: the key is registered in place of the old one and stored; when the
    // system refuses it the old key stays, in force and in the field, and hotkey_status() says why.
    // False then.
    bool ChangeHotkey(HotkeyAction action, Hotkey key, SettingsShell& shell);
    // Registers the stored keys (at start-up); a refused key is reported as ChangeHotkey does and
    // stays stored, for a later start.
    void RegisterHotkeys(SettingsShell& shell);
    // Releases both keys (at shut-down).
    void ReleaseHotkeys(SettingsShell& shell);
    // 默认: FillDefaults, and the keys go back to F8 and F7 as if typed into their fields.
    void ClickDefaults(SettingsShell& shell);

    // Changes made by typing or by the program: no handler runs.
    void SetText(SettingsEdit edit, std::string gbk_text);
    void SetChecked(SettingsCheck check, bool checked);
    void SetDiskStorage(bool disk);

    const std::string& text(SettingsEdit edit) const { return texts_[index(edit)]; }
    bool checked(SettingsCheck check) const { return checks_[index(check)]; }
    bool disk_storage() const { return disk_storage_; }
    bool memory_box_enabled() const { return memory_box_enabled_; }

    // What the recording reads at each tick and at its start.
    int memory_mb() const;
    std::int64_t memory_budget_bytes() const;
    bool full_screen_hide() const { return checked(SettingsCheck::full_screen_hide); }
    bool record_cursor() const { return record_cursor_; }
    bool click_through() const { return checked(SettingsCheck::click_through); }
    std::uint32_t colour_key() const { return click_through() ? click_through_colour_key : solid_colour_key; }
    bool show_clicks() const { return show_clicks_; }
    int countdown_seconds() const { return countdown_seconds_; }
    Hotkey hotkey(HotkeyAction action) const { return hotkeys_[hotkey_index(action)]; }
    // Empty, or why the last key typed did not take.
    const std::string& hotkey_status() const { return hotkey_status_; }

    const ConfigFile& config() const { return config_; }

private:
    static std::size_t index(SettingsEdit edit) { return static_cast<std::size_t>(edit); }
    static std::size_t index(SettingsCheck check) { return static_cast<std::size_t>(check); }
    int number(SettingsEdit edit) const;
    static std::size_t hotkey_index(HotkeyAction action) { return static_cast<std::size_t>(hotkey_id(action) - 1); }

    ConfigFile config_;
    std::array<std::string, settings_edit_count> texts_;
    std::array<bool, settings_check_count> checks_{};
    bool disk_storage_ = false;
    bool memory_box_enabled_ = true;
    bool record_cursor_ = false;
    bool show_clicks_ = false;
    int countdown_seconds_ = 0;
    // The keys as stored; the ones in force unless hotkey_status_ says otherwise.
    std::array<Hotkey, kHotkeyActions.size()> hotkeys_{};
    std::string hotkey_status_;
};

}  // namespace gifanim::app
