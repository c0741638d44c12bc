#pragma once
// The recorder's system-wide keys and its countdown before a recording: what is stored in the
// settings file, what the system is asked to register, which command a key gives, and what the
// caption says while the countdown runs. The windows only pass WM_HOTKEY and timer ticks here.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "app/config.h"

namespace gifanim::app {

// A key with its modifiers as the hotkey field holds it (HKM_GETHOTKEY): the virtual-key code in
// the low byte, the field's modifier flags (shift 1, control 2, alt 4, extended 8) in the next.
// 0 is no key. That is also the number stored in the settings file.
struct Hotkey {
    std::uint16_t value = 0;

    std::uint8_t virtual_key() const { return static_cast<std::uint8_t>(value & 0xFF); }
    std::uint8_t field_flags() const { return static_cast<std::uint8_t>(value >> 8); }
    bool empty() const { return virtual_key() == 0; }
    // The modifiers as RegisterHotKey takes them (alt 1, control 2, shift 4); the field's
    // "extended" flag only tells the key's place on the keyboard and is no modifier.
    unsigned register_modifiers() const;
    friend bool operator==(Hotkey, Hotkey) = default;
};

inline constexpr std::uint8_t kVirtualKeyF7 = 0x76;
inline constexpr std::uint8_t kVirtualKeyF8 = 0x77;

// The two keys, by the id they are registered under (WM_HOTKEY's wParam).
enum class HotkeyAction { record_stop = 1, pause_resume = 2 };
inline constexpr std::array<HotkeyAction, 2> kHotkeyActions{HotkeyAction::record_stop, HotkeyAction::pause_resume};
inline constexpr int hotkey_id(HotkeyAction action) {
    return static_cast<int>(action);
}
// The action of a WM_HOTKEY id; none for an id the recorder did not register (the system's own
// are negative).
std::optional<HotkeyAction> hotkey_action(std::intptr_t id);

namespace keys {
inline constexpr ConfigKey record_hotkey{"录制快捷键", kVirtualKeyF8};
inline constexpr ConfigKey pause_hotkey{"暂停快捷键", kVirtualKeyF7};
inline constexpr ConfigKey show_clicks{"显示点击", 0};
inline constexpr ConfigKey countdown{"倒计时", 0};  // seconds: 0, 3 or 5
}  // namespace keys

const ConfigKey& hotkey_config_key(HotkeyAction action);
Hotkey default_hotkey(HotkeyAction action);
// The key a settings file's text stands for: its default when the text is no number that a hotkey
// field could hold (a hand-edited file), 0 ("no key") when it says 0.
Hotkey decode_hotkey(const std::string& text, HotkeyAction action);

inline constexpr const char* kHotkeyTakenText = "快捷键已被其他程序占用";

// The countdown choices the settings offer, in seconds; anything else in the file reads as 0.
inline constexpr std::array<int, 3> kCountdownChoices{0, 3, 5};
int decode_countdown(const std::string& text);

// The countdown between 录制 and the first grab: one caption a second ("3", "2", "1"), then the
// recording starts.
inline constexpr int kCountdownTimerId = 1002;
inline constexpr std::int32_t kCountdownPeriodMs = 1000;

class Countdown {
public:
    enum class Step { shows, start_recording };
    // Starts counting from `seconds` (more than 0); the caption to show now.
    std::string Start(int seconds);
    // A second has gone: either the next caption (in `caption`) or the moment to start.
    Step Tick(std::string& caption);
    void Cancel() { left_ = 0; }
    bool running() const { return left_ > 0; }

private:
    int left_ = 0;
};

// The pause item's label in 录制菜单 while the recording is or is not paused.
std::string pause_item_label(bool paused);

}  // namespace gifanim::app
