#include "app/shell.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

#include "app/text_number.h"
#include "capture/recording_journal.h"
#include "platform/system.h"

namespace gifanim::app {

platform::ScreenRect capture_panel_layout(int client_width, int client_height, int toolbar_top, int toolbar_height) {
    const int top = toolbar_top + toolbar_height;
    return {0, top, client_width, client_height};
}

bool refuses_system_command(unsigned command) {
    // 0xF030 is SC_MAXIMIZE.
    return (command & 0xFFF0u) == 0xF030u;
}

platform::ScreenRect frame_rect_after_dpi_change(const DpiChange& change,
                                                 const std::optional<platform::ScreenRect>& placing) {
    if (placing) return *placing;
    const platform::ScreenRect& w = change.window;
    const std::int64_t width = std::int64_t{w.right} - w.left - change.frame_before.width + change.frame_after.width;
    const std::int64_t height = std::int64_t{w.bottom} - w.top - change.frame_before.height +
                                change.frame_after.height - change.toolbar_before + change.toolbar_after;
    const platform::ScreenRect& at = change.suggested;
    return {at.left, at.top, static_cast<std::int32_t>(at.left + std::max<std::int64_t>(width, 0)),
            static_cast<std::int32_t>(at.top + std::max<std::int64_t>(height, 0))};
}

Shell::Shell(ConfigFile config, FrameWindowPort& window, capture::FrameGrabber& grabber,
             review::ExportShell& export_shell)
    : window_(window),
      export_shell_(export_shell),
      settings_(std::move(config)),
      export_options_(settings_.config()),
      session_(*this, grabber) {}

Shell::~Shell() {
    exporter_.Wait();
}

std::string recover_question(std::size_t frames) {
    return "Zovaro提示您：\r\n\r\n发现上次没有保存的录制(" + std::to_string(frames) + "帧)，是否恢复？";
}

void Shell::OfferLeftRecordings(const std::filesystem::path& dir) {
    try {
        for (const capture::journal::LeftRecording& left : capture::journal::find_left_recordings(dir)) {
            if (window_.AskYesNo(recover_question(left.frames), kRecoverTitle)) {
                // One recording at a time is the current one.
                if (session_.AdoptRecording(left.path)) return;
            } else {
                platform::remove_file(left.path);
            }
        }
    } catch (const std::bad_alloc&) {
        // What was not offered stays for the next start.
    }
}

bool Shell::StartUp() {
    settings_.FillFromConfig();
    export_options_.FillFromConfig();
    menus_ = BuildMenus(settings_.config());
    restore_geometry_and_menus();
    RefreshToolbar();
    if (!session_.OpenFrameStore()) return false;
    ApplyTransparency(settings_.colour_key());
    settings_.ReadRecordCursorFlag();
    settings_.RegisterHotkeys(*this);
    return true;
}

void Shell::restore_geometry_and_menus() {
    const ConfigFile& config = settings_.config();
    const int width = text_to_int(config.ReadKey(keys::width));
    const int height = text_to_int(config.ReadKey(keys::height));
    int left = text_to_int(config.ReadKey(keys::left));
    int top = text_to_int(config.ReadKey(keys::top));
    // Centred with the size the window has now, the designed one: the move comes after.
    const platform::ScreenRect now = window_.WindowRect();
    const platform::ScreenSize screen = window_.ScreenSize();
    if (left < 0) left = static_cast<int>(std::trunc((screen.width - (double(now.right) - now.left)) / 2));
    if (top < 0) top = static_cast<int>(std::trunc((screen.height - (double(now.bottom) - now.top)) / 2));
    window_.MoveWindow(left, top, width, height);
    // A stored place on a monitor since unplugged comes back onto the nearest one, judged by the
    // rectangle the window got, whose size the system has kept in bounds.
    const platform::ScreenRect placed = window_.WindowRect();
    const platform::ScreenRect shown = review::onto_work_area(placed, window_.WorkArea(placed));
    if (shown.left != placed.left || shown.top != placed.top) {
        window_.MoveWindow(shown.left, shown.top, placed.right - placed.left, placed.bottom - placed.top);
    }

    const int rate_id = text_to_int(config.ReadKey(keys::rate_item));
    menus_.SetItemCheck(rate_id, kMenuChecked);
    const int full_flags = text_to_int(config.ReadKey(keys::full_screen_item));
    menus_.SetItemCheck(menu_id::full_screen, static_cast<std::uint32_t>(full_flags));
    if (full_flags == static_cast<int>(kMenuChecked)) {
        session_.store().set_capture_rect({0, 0, screen.width, screen.height});
    }
    frame_rate_ = text_to_int(menus_.GetItemLabel(rate_id));
    const bool optimize = text_is_true(config.ReadKey(keys::optimize_save));
    menus_.SetItemCheck(menu_id::optimize_size, optimize ? kMenuChecked : kMenuUnchecked);
}

void Shell::RefreshToolbar() {
    const bool any = session_.store().count() != 0;
    for (int index = button::clear; index <= button::save; ++index) window_.EnableButton(index, any);
}

void Shell::ToolbarClick(int index) {
    const std::string caption = window_.ButtonCaption(index);
    if (index == button::record) {
        if (caption == "录制") {
            start_or_count_down();
        } else if (countdown_.running()) {
            cancel_countdown();
        } else {
            session_.StopRecording();
        }
    } else if (caption == "清空") {
        session_.ResetRecording();
    } else if (caption == "预览") {
        window_.ShowPreview();
    } else if (caption == "保存") {
        StartExport(review::ExportDirection::forward);
    } else if (caption == "编辑") {
        window_.OpenEditor();
    }
}

void Shell::ToolbarDropDown(int index) {
    const std::string caption = window_.ButtonCaption(index);
    if (caption == "录制" || caption == "停止") {
        ShowPopupMenu(Popup::record);
    } else if (caption == "保存") {
        ShowPopupMenu(Popup::save);
    }
}

void Shell::start_or_count_down() {
    const int seconds = settings_.countdown_seconds();
    if (seconds <= 0 || session_.recording()) {
        session_.StartRecording();
        return;
    }
    window_.SetCaption(countdown_.Start(seconds));
    // 停止 cancels the countdown as it would end the recording.
    window_.SetButtonCaption(button::record, "停止");
    window_.StartTimer(kCountdownTimerId, kCountdownPeriodMs);
}

void Shell::cancel_countdown() {
    if (!countdown_.running()) return;
    countdown_.Cancel();
    window_.StopTimer(kCountdownTimerId);
    window_.SetButtonCaption(button::record, "录制");
    const std::size_t frames = session_.store().count();
    window_.SetCaption(frames == 0 ? std::string(kFrameWindowCaption) : "当前帧数:" + std::to_string(frames));
}

void Shell::CountdownTick() {
    if (!countdown_.running()) {
        // A tick already queued when the countdown was cancelled.
        window_.StopTimer(kCountdownTimerId);
        return;
    }
    std::string caption;
    if (countdown_.Tick(caption) == Countdown::Step::shows) {
        window_.SetCaption(caption);
        return;
    }
    window_.StopTimer(kCountdownTimerId);
    if (!session_.StartRecording()) window_.SetButtonCaption(button::record, "录制");
}

void Shell::HotkeyPressed(std::intptr_t id) {
    const std::optional<HotkeyAction> action = hotkey_action(id);
    if (!action) return;
    if (*action == HotkeyAction::record_stop) {
        ToolbarClick(button::record);
    } else {
        TogglePause();
    }
}

void Shell::TogglePause() {
    if (session_.paused()) {
        session_.ResumeRecording();
    } else {
        session_.PauseRecording();
    }
}

bool Shell::ReplaceHotkey(HotkeyAction action, Hotkey old_key, Hotkey new_key) {
    const int id = hotkey_id(action);
    // The old key goes first: the system refuses a key this window itself still holds.
    window_.UnregisterHotkey(id);
    if (new_key.empty() || window_.RegisterHotkey(id, new_key.register_modifiers(), new_key.virtual_key())) return true;
    if (!old_key.empty()) window_.RegisterHotkey(id, old_key.register_modifiers(), old_key.virtual_key());
    return false;
}

void Shell::ShowPopupMenu(Popup popup) {
    menus_.SetItemLabel(menu_id::pause_recording, pause_item_label(session_.paused()));
    window_.ShowPopupMenu(menus_.Items(popup));
}

void Shell::MenuCommand(int id) {
    if (id == menu_id::new_recording) {
        cancel_countdown();
        session_.ResetRecording();
    } else if (id >= menu_id::first_rate && id <= menu_id::last_rate) {
        select_rate(id);
    } else if (id == menu_id::full_screen) {
        toggle_full_screen();
    } else if (id == menu_id::settings) {
        window_.ShowSettingsWindow();
    } else if (id == menu_id::about) {
        window_.ShowAbout();
    } else if (id == menu_id::save_forward) {
        StartExport(review::ExportDirection::forward);
    } else if (id == menu_id::save_reverse) {
        StartExport(review::ExportDirection::reverse);
    } else if (id >= menu_id::delete_current && id <= menu_id::delete_from_current) {
        window_.EditorCommand(id);
    } else if (id == menu_id::optimize_size) {
        toggle_optimize_size();
    } else if (id == menu_id::export_options) {
        window_.ShowExportOptions();
    } else if (id == menu_id::pause_recording) {
        TogglePause();
    }
}

void Shell::select_rate(int id) {
    for (int i = menu_id::first_rate; i <= menu_id::last_rate; ++i) {
        if (i == id) {
            menus_.SetItemCheck(i, kMenuChecked);
            settings_.config().WriteKey(keys::rate_item.name, i);
        } else {
            menus_.SetItemCheck(i, kMenuUnchecked);
        }
    }
    // A running recording keeps its interval; the rate counts from the next start.
    frame_rate_ = text_to_int(menus_.GetItemLabel(id));
}

void Shell::toggle_full_screen() {
    const std::uint32_t flags = full_screen() ? kMenuUnchecked : kMenuChecked;
    menus_.SetItemCheck(menu_id::full_screen, flags);
    settings_.config().WriteKey(keys::full_screen_item.name, static_cast<int>(flags));
}

void Shell::toggle_optimize_size() {
    const bool optimize = !optimize_size();
    menus_.SetItemCheck(menu_id::optimize_size, optimize ? kMenuChecked : kMenuUnchecked);
    settings_.config().WriteKey(keys::optimize_save.name, optimize ? 1 : 0);
}

void Shell::StartExport(review::ExportDirection direction) {
    // The mode goes with the export it starts; a toggle while one runs counts from the next.
    // So do the export options; with none set the export is ExportFrames, the plain bytes.
    const Optimization optimization = export_optimization();
    cancel_countdown();
    exporter_.Start(session_, export_shell_, optimization,
                    export_job(export_options_.plan(), direction, optimization));
}

void Shell::SetRecordButtonCaption(const std::string& gbk) {
    window_.SetButtonCaption(button::record, gbk);
    if (session_.recording() && gbk == "录制") {
        // The recording stops (the session calls this first): its warnings, each once.
        std::vector<std::string> warnings;
        warnings.swap(pending_warnings_);
        for (const std::string& warning : warnings) window_.ShowWarning(warning);
    }
}

void Shell::Warn(const std::string& gbk) {
    if (!session_.recording()) {
        window_.ShowWarning(gbk);
    } else if (std::find(pending_warnings_.begin(), pending_warnings_.end(), gbk) == pending_warnings_.end()) {
        pending_warnings_.push_back(gbk);
    }
}

void Shell::ShutDown() {
    // No box while the windows go: what the recording warned of goes with it.
    pending_warnings_.clear();
    cancel_countdown();
    settings_.ReleaseHotkeys(*this);
    session_.ResetRecording();
    exporter_.Wait();
    maker_.Clear();
    session_.store().Close();
    store_geometry();
}

void Shell::SessionEnding() {
    store_geometry();
    // The system ends the process next: the recording stays in its spill file, every frame of it,
    // for the next start to offer, whatever runs of the program's shut-down before the end.
    session_.ReleaseFrameStore();
}

platform::ScreenRect Shell::FrameWindowRect() const {
    return review::restored_rect(window_.WindowState(), window_.WindowRect(), window_.NormalRect());
}

void Shell::store_geometry() {
    const platform::ScreenRect r = FrameWindowRect();
    const ConfigFile& config = settings_.config();
    config.WriteKey(keys::left.name, r.left);
    config.WriteKey(keys::top.name, r.top);
    config.WriteKey(keys::width.name, r.right - r.left);
    config.WriteKey(keys::height.name, r.bottom - r.top);
}

capture::RecordingShell::Size Shell::ScreenSize() const {
    const platform::ScreenSize size = window_.ScreenSize();
    return {size.width, size.height};
}

SettingsShell::Position Shell::FrameWindowPosition() const {
    const platform::ScreenRect r = FrameWindowRect();
    return {r.left, r.top};
}

void Shell::ResizeFrameWindow(int width, int height) {
    const platform::ScreenRect r = FrameWindowRect();
    window_.MoveWindow(r.left, r.top, width, height);
}

void Shell::ApplyTransparency(std::uint32_t colour_key) {
    window_.ApplyTransparency(colour_key, settings_.click_through());
}

}  // namespace gifanim::app
