#include "review/win32/export_shell.h"

#include <commdlg.h>
#include <objbase.h>

#include <vector>

namespace gifanim::review::win32 {

namespace {

using platform::win32::wide;

// Long enough for any path Windows accepts, not only MAX_PATH.
constexpr DWORD kPathBufferLength = 32768;

// The save dialog's shell parts want an apartment on the calling thread; one that was already
// initialised is left as it was.
class ComApartment {
public:
    ComApartment() : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (initialised_) CoUninitialize();
    }

private:
    bool initialised_;
};

}  // namespace

std::filesystem::path Win32ExportShell::AskSavePath() {
    const ComApartment apartment;

    std::vector<wchar_t> name(kPathBufferLength, L'\0');
    const std::wstring initial_name = wide(kSaveDialogFileName);
    initial_name.copy(name.data(), name.size() - 1);
    const std::wstring title = wide(kSaveDialogTitle);
    const std::wstring initial_dir = save_folder_.wstring();
    // Description and pattern, each ended by a null, and a second null to end the list.
    std::wstring filter = wide(kSaveDialogFilterName);
    filter += L'\0';
    filter += L"*.gif";
    filter += L'\0';

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = frame_;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = name.data();
    dialog.nMaxFile = kPathBufferLength;
    dialog.lpstrInitialDir = initial_dir.empty() ? nullptr : initial_dir.c_str();
    dialog.lpstrTitle = title.c_str();
    dialog.lpstrDefExt = L"gif";
    dialog.Flags = OFN_EXPLORER;
    if (!GetSaveFileNameW(&dialog)) return {};
    return std::filesystem::path(std::wstring(name.data()));
}

void Win32ExportShell::on_ui_thread(const std::function<void()>& work) const {
    // The progress window is made on the user-interface thread and is one of ours, so it takes
    // the work whatever kind of window the frame window is.
    platform::win32::run_on_window_thread(progress_.hwnd(), work);
}

void Win32ExportShell::ShowProgressWindow() {
    on_ui_thread([this] { progress_.show_centred_on(frame_); });
}

void Win32ExportShell::HideProgressWindow() {
    on_ui_thread([this] { progress_.hide(); });
}

void Win32ExportShell::EnableFrameWindow(bool enabled) {
    on_ui_thread([this, enabled] { EnableWindow(frame_, enabled ? TRUE : FALSE); });
}

std::int32_t Win32ExportShell::ProgressMaximum() {
    std::int32_t maximum = 0;
    on_ui_thread([this, &maximum] { maximum = progress_.maximum(); });
    return maximum;
}

void Win32ExportShell::SetProgress(std::int32_t position) {
    on_ui_thread([this, position] { progress_.set_position(position); });
}

void Win32ExportShell::SetFrameWindowCaption(const std::string& gbk) {
    const std::wstring caption = wide(gbk);
    on_ui_thread([this, &caption] { SetWindowTextW(frame_, caption.c_str()); });
}

void Win32ExportShell::ShowMessage(const std::string& gbk_text, const std::string& gbk_title, int icon) {
    MessageBoxW(frame_, wide(gbk_text).c_str(), wide(gbk_title).c_str(), MB_OK | static_cast<UINT>(icon));
}

}  // namespace gifanim::review::win32
