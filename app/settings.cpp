#include "app/settings.h"

#include <utility>

#include "app/text_number.h"

namespace gifanim::app {

namespace {
constexpr std::array<SettingsEdit, 4> rate_edits{SettingsEdit::rate1, SettingsEdit::rate2, SettingsEdit::rate3,
                                                 SettingsEdit::rate4};
constexpr std::array<ConfigKey, 4> rate_keys{keys::rate1, keys::rate2, keys::rate3, keys::rate4};

int as_int(bool value) {
    return value ? 1 : 0;
}
}  // namespace

std::string rate_label(std::string_view rate_text) {
    std::string label(rate_text);
    label += "帧/s";
    return label;
}

Settings::Settings(ConfigFile config) : config_(std::move(config)) {}

void Settings::FillFromConfig() {
    SetText(SettingsEdit::width, config_.ReadKey(keys::width));
    SetText(SettingsEdit::height, config_.ReadKey(keys::height));
    for (std::size_t i = 0; i < rate_edits.size(); ++i) SetText(rate_edits[i], config_.ReadKey(rate_keys[i]));
    SetText(SettingsEdit::memory_mb, config_.ReadKey(keys::memory_mb));
    SetChecked(SettingsCheck::click_through, text_is_true(config_.ReadKey(keys::click_through)));
    // The box's own default differs from the start-up flag's (see ReadRecordCursorFlag).
    SetChecked(SettingsCheck::record_cursor, text_is_true(config_.ReadKey(keys::record_cursor.name, 0)));
    SetDiskStorage(!text_is_true(config_.ReadKey(keys::storage)));
    SetChecked(SettingsCheck::full_screen_hide, text_is_true(config_.ReadKey(keys::full_screen_hide)));
    memory_box_enabled_ = !disk_storage_;
    show_clicks_ = text_is_true(config_.ReadKey(keys::show_clicks));
    countdown_seconds_ = decode_countdown(config_.ReadKey(keys::countdown));
    for (HotkeyAction action : kHotkeyActions)
        hotkeys_[hotkey_index(action)] = decode_hotkey(config_.ReadKey(hotkey_config_key(action)), action);
}

void Settings::ReadRecordCursorFlag() {
    record_cursor_ = text_is_true(config_.ReadKey(keys::record_cursor));
}

void Settings::FillDefaults() {
    SetText(SettingsEdit::width, std::to_string(keys::width.default_value));
    SetText(SettingsEdit::height, std::to_string(keys::height.default_value));
    for (std::size_t i = 0; i < rate_edits.size(); ++i)
        SetText(rate_edits[i], std::to_string(rate_keys[i].default_value));
    SetText(SettingsEdit::memory_mb, std::to_string(keys::memory_mb.default_value));
    memory_box_enabled_ = true;
    checks_.fill(true);
    SetDiskStorage(false);
}

void Settings::StoreAndApply(SettingsShell& shell) {
    const int width = number(SettingsEdit::width);
    const int height = number(SettingsEdit::height);
    config_.WriteKey(keys::width.name, width);
    config_.WriteKey(keys::height.name, height);
    const SettingsShell::Position position = shell.FrameWindowPosition();
    config_.WriteKey(keys::left.name, position.left);
    config_.WriteKey(keys::top.name, position.top);
    config_.WriteKey(keys::memory_mb.name, number(SettingsEdit::memory_mb));
    for (std::size_t i = 0; i < rate_edits.size(); ++i) config_.WriteKey(rate_keys[i].name, number(rate_edits[i]));
    config_.WriteKey(keys::storage.name, as_int(!disk_storage_));
    config_.WriteKey(keys::click_through.name, as_int(checked(SettingsCheck::click_through)));
    config_.WriteKey(keys::record_cursor.name, as_int(checked(SettingsCheck::record_cursor)));
    config_.WriteKey(keys::full_screen_hide.name, as_int(checked(SettingsCheck::full_screen_hide)));

    std::array<std::string, 4> labels;
    for (std::size_t i = 0; i < rate_edits.size(); ++i) labels[i] = rate_label(text(rate_edits[i]));
    shell.RelabelRateItems(labels);
    shell.ResizeFrameWindow(width, height);
    shell.HideSettingsWindow();
}

void Settings::ClickMemoryStorage() {
    SetDiskStorage(false);
    memory_box_enabled_ = true;
    config_.WriteKey(keys::storage.name, 1);
}

void Settings::ClickDiskStorage() {
    SetDiskStorage(true);
    memory_box_enabled_ = false;
    config_.WriteKey(keys::storage.name, 0);
}

void Settings::ClickRecordCursor(bool checked) {
    SetChecked(SettingsCheck::record_cursor, checked);
    record_cursor_ = checked;
}

void Settings::ClickClickThrough(bool checked, SettingsShell& shell) {
    SetChecked(SettingsCheck::click_through, checked);
    config_.WriteKey(keys::click_through.name, as_int(checked));
    shell.ApplyTransparency(colour_key());
}

void Settings::ClickShowClicks(bool checked) {
    show_clicks_ = checked;
    config_.WriteKey(keys::show_clicks.name, as_int(checked));
}

void Settings::ChooseCountdown(int seconds) {
    countdown_seconds_ = decode_countdown(std::to_string(seconds));
    config_.WriteKey(keys::countdown.name, countdown_seconds_);
}

bool Settings::ChangeHotkey(HotkeyAction action, Hotkey key, SettingsShell& shell) {
    Hotkey& held = hotkeys_[hotkey_index(action)];
    if (key == held && hotkey_status_.empty()) return true;
    if (!shell.ReplaceHotkey(action, held, key)) {
        hotkey_status_ = kHotkeyTakenText;
        return false;
    }
    held = key;
    hotkey_status_.clear();
    config_.WriteKey(hotkey_config_key(action).name, key.value);
    return true;
}

void Settings::RegisterHotkeys(SettingsShell& shell) {
    hotkey_status_.clear();
    for (HotkeyAction action : kHotkeyActions) {
        const Hotkey key = hotkeys_[hotkey_index(action)];
        if (!key.empty() && !shell.ReplaceHotkey(action, Hotkey{}, key)) hotkey_status_ = kHotkeyTakenText;
    }
}

void Settings::ReleaseHotkeys(SettingsShell& shell) {
    for (HotkeyAction action : kHotkeyActions) shell.ReplaceHotkey(action, hotkeys_[hotkey_index(action)], Hotkey{});
}

void Settings::ClickDefaults(SettingsShell& shell) {
    FillDefaults();
    // Both keys are tried, so that a refused first one still lets the second come back.
    bool taken = false;
    for (HotkeyAction action : kHotkeyActions) taken |= !ChangeHotkey(action, default_hotkey(action), shell);
    if (taken) hotkey_status_ = kHotkeyTakenText;
}

void Settings::SetText(SettingsEdit edit, std::string gbk_text) {
    texts_[index(edit)] = std::move(gbk_text);
}

void Settings::SetChecked(SettingsCheck check, bool checked) {
    checks_[index(check)] = checked;
}

void Settings::SetDiskStorage(bool disk) {
    disk_storage_ = disk;
}

int Settings::memory_mb() const {
    return number(SettingsEdit::memory_mb);
}

std::int64_t Settings::memory_budget_bytes() const {
    return std::int64_t{memory_mb()} * 1048576;
}

int Settings::number(SettingsEdit edit) const {
    return text_to_int(text(edit));
}

}  // namespace gifanim::app
