#include "app/hotkeys.h"

#include <algorithm>
#include <charconv>

namespace gifanim::app {

namespace {
constexpr std::uint8_t kFieldShift = 1, kFieldControl = 2, kFieldAlt = 4;
constexpr unsigned kModAlt = 1, kModControl = 2, kModShift = 4;
}  // namespace

unsigned Hotkey::register_modifiers() const {
    const std::uint8_t flags = field_flags();
    unsigned out = 0;
    if (flags & kFieldShift) out |= kModShift;
    if (flags & kFieldControl) out |= kModControl;
    if (flags & kFieldAlt) out |= kModAlt;
    return out;
}

std::optional<HotkeyAction> hotkey_action(std::intptr_t id) {
    for (HotkeyAction action : kHotkeyActions)
        if (id == hotkey_id(action)) return action;
    return std::nullopt;
}

const ConfigKey& hotkey_config_key(HotkeyAction action) {
    return action == HotkeyAction::record_stop ? keys::record_hotkey : keys::pause_hotkey;
}

Hotkey default_hotkey(HotkeyAction action) {
    return {static_cast<std::uint16_t>(hotkey_config_key(action).default_value)};
}

Hotkey decode_hotkey(const std::string& text, HotkeyAction action) {
    int value = -1;
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    // Only the four modifier flags a field knows fit above the key's byte.
    if (error != std::errc() || at != end || value < 0 || value > 0x0FFF) return default_hotkey(action);
    return {static_cast<std::uint16_t>(value)};
}

int decode_countdown(const std::string& text) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || at != end) return 0;
    return std::find(kCountdownChoices.begin(), kCountdownChoices.end(), value) != kCountdownChoices.end() ? value : 0;
}

std::string Countdown::Start(int seconds) {
    left_ = seconds;
    return std::to_string(left_);
}

Countdown::Step Countdown::Tick(std::string& caption) {
    if (left_ <= 1) {
        left_ = 0;
        return Step::start_recording;
    }
    --left_;
    caption = std::to_string(left_);
    return Step::shows;
}

std::string pause_item_label(bool paused) {
    return paused ? "继续录制" : "暂停录制";
}

}  // namespace gifanim::app
