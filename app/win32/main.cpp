// gifrec.exe: creates the windows, starts the shell and runs the message loop until the frame
// window is closed.
#include <windows.h>

#include <commctrl.h>

#include "app/config.h"
#include "app/shell.h"
#include "app/win32/export_options_window.h"
#include "app/win32/frame_window.h"
#include "app/win32/settings_window.h"
#include "capture/session.h"
#include "platform/system.h"
#include "platform/win32/window.h"
#include "review/win32/editor_window.h"
#include "review/win32/export_shell.h"
#include "review/win32/preview_window.h"
#include "review/win32/progress_window.h"

#include <memory>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
    using namespace gifanim;
    using platform::win32::wide;
    INITCOMMONCONTROLSEX controls{sizeof controls,
                                  ICC_BAR_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES | ICC_HOTKEY_CLASS};
    InitCommonControlsEx(&controls);

    app::win32::FrameWindow frame;
    if (!frame.create()) return 1;
    review::win32::ProgressWindow progress;
    progress.create(frame.hwnd());
    const app::ProgramPlaces places = app::find_program_places();
    review::win32::Win32ExportShell exports(frame.hwnd(), progress, places.save_folder);
    capture::ScreenGrabber grabber;
    app::Shell shell(app::ConfigFile(places.settings), frame, grabber, exports);
    frame.attach(shell);
    review::win32::PreviewWindow preview(shell.session().store());
    preview.create(frame.hwnd());
    preview.on_save_popup = [&shell] { shell.ShowPopupMenu(app::Popup::save); };
    preview.on_export = [&shell](review::ExportDirection direction) { shell.StartExport(direction); };
    frame.on_show_preview = [&] { preview.prepare(shell.FrameWindowRect(), frame.capture_panel_in_client()); };
    // Made by 编辑 and destroyed on close; 编辑 while it is open brings it to the front.
    std::unique_ptr<review::win32::EditorWindow> editor;
    frame.on_open_editor = [&] {
        if (editor && editor->hwnd()) {
            editor->bring_to_front();
            return;
        }
        editor = std::make_unique<review::win32::EditorWindow>(shell.session());
        editor->on_delete_popup = [&shell] { shell.ShowPopupMenu(app::Popup::frames); };
        editor->create(frame.hwnd(), shell.FrameWindowRect());
    };
    frame.on_editor_command = [&editor](int id) {
        if (editor && editor->hwnd()) editor->command(id);
    };
    app::win32::SettingsWindow settings;
    settings.create(frame.hwnd(), shell.settings(), shell.settings_shell());
    frame.on_show_settings = [&settings] { settings.show(); };
    frame.on_hide_settings = [&settings] { settings.hide(); };
    app::win32::ExportOptionsWindow export_options;
    export_options.create(frame.hwnd(), shell);
    frame.on_show_export_options = [&export_options] { export_options.show(); };

    SetWindowPos(frame.hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
    if (!shell.StartUp()) {
        frame.detach();
        ShowWindow(frame.hwnd(), SW_HIDE);
        MessageBoxW(nullptr, wide(app::kInitFailedText).c_str(), wide(app::kInitFailedTitle).c_str(), MB_OK);
        return 0;
    }
    settings.show_model();
    ShowWindow(frame.hwnd(), show);
    shell.OfferLeftRecordings(platform::temp_directory());

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        // Tab and the arrow keys move between the settings window's controls.
        if (settings.hwnd() && IsDialogMessageW(settings.hwnd(), &message)) continue;
        if (export_options.hwnd() && IsDialogMessageW(export_options.hwnd(), &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
