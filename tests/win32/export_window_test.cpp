// The export's windows under a real export on a worker thread, while the test's thread runs the
// user-interface side and answers the boxes the way a user would.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

#include "platform/program_dir.h"
#include "review/win32/export_shell.h"
#include "tests/unit/scratch_dir.h"
#include "tests/unit/test_images.h"

namespace gifanim::review::win32 {
namespace {

using platform::win32::wide;

// A worker left waiting in a dialog cannot be ended: a timeout stops the program loudly.
void pump_until(const std::function<bool()>& done, const char* waiting_for) {
    for (const DWORD start = GetTickCount(); !done();) {
        if (GetTickCount() - start > 30000) {
            std::fprintf(stderr, "gave up waiting for %s\n", waiting_for);
            std::fflush(nullptr);
            std::_Exit(1);
        }
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

HWND find_dialog(const std::string& gbk_title) {
    for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"#32770", wide(gbk_title).c_str()));) {
        DWORD process = 0;
        GetWindowThreadProcessId(w, &process);
        if (process == GetCurrentProcessId() && IsWindowVisible(w)) return w;
    }
    return nullptr;
}

std::wstring text_of(HWND window) {
    wchar_t buffer[256]{};
    GetWindowTextW(window, buffer, 256);
    return buffer;
}

struct FrameLikeWindow : platform::win32::Window {
    bool create() { return Window::create(L"GifRecExportTestFrame", "", WS_OVERLAPPEDWINDOW, 0, 40, 60, 520, 300, {}); }
};

// The real shell with the save dialog answered; `full` runs when all frames are in.
struct AnsweredShell : Win32ExportShell {
    using Win32ExportShell::Win32ExportShell;
    std::filesystem::path answer;
    std::function<void()> full;
    std::filesystem::path AskSavePath() override { return answer; }
    void SetFrameWindowCaption(const std::string& gbk) override {
        full();
        Win32ExportShell::SetFrameWindowCaption(gbk);
    }
};

class Win32Export : public ::testing::Test {
protected:
    void SetUp() override {
        const INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        ASSERT_TRUE(frame.create());
        ShowWindow(frame.hwnd(), SW_SHOWNOACTIVATE);
        ASSERT_TRUE(progress.create(frame.hwnd()));
    }
    FrameLikeWindow frame;
    ProgressWindow progress;
};

TEST_F(Win32Export, ShowsTheBarCentredOnTheFrameWindowThenReportsSuccessAndIsReused) {
    const UINT dpi = platform::win32::dpi_of(progress.hwnd());
    if (const char* expected = std::getenv("GIFANIM_EXPECT_DPI")) {
        EXPECT_EQ(dpi, UINT(std::atoi(expected)));
    }
    EXPECT_FALSE(IsWindowVisible(progress.hwnd()));
    test::ScratchDir scratch{"gifanim-export-window-"};
    capture::FrameStore store;
    ASSERT_TRUE(store.Open(scratch.dir));
    store.set_capture_rect({0, 0, 12, 8});
    AnsweredShell shell(frame.hwnd(), progress);
    shell.full = [&] {
        const HWND bar = GetDlgItem(progress.hwnd(), kProgressBarId);
        EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
        EXPECT_TRUE(IsWindowVisible(progress.hwnd()));
        EXPECT_FALSE(IsWindowEnabled(frame.hwnd()));
        RECT w{}, c{}, f{};
        GetWindowRect(progress.hwnd(), &w);
        GetClientRect(progress.hwnd(), &c);
        GetWindowRect(frame.hwnd(), &f);
        EXPECT_EQ(c.right, MulDiv(247, dpi, 96));
        EXPECT_EQ(c.bottom, MulDiv(28, dpi, 96));
        EXPECT_EQ(w.left, f.left + (f.right - f.left - (w.right - w.left)) / 2);
        EXPECT_EQ(w.top, f.top + (f.bottom - f.top - (w.bottom - w.top)) / 2);
    };
    GifMaker maker;
    // Two exports through the same window: after being hidden it is shown again.
    for (int n = 1; n <= 4; ++n) {
        store.Append(std::make_shared<const std::vector<std::uint8_t>>(
                         test::make_bmp(12, 8,
                                        [n](int x, int) {
                                            return test::Rgb{std::uint8_t(n * 50), std::uint8_t(x * 20), 9};
                                        })),
                     FrameInfo{}, false);
        if (n < 3) continue;
        SCOPED_TRACE(n);
        const capture::FrameStoreSnapshot frames = store.Snapshot();
        shell.answer = scratch.dir / (L"导出" + std::to_wstring(n) + L".gif");
        std::atomic<int> result{-1};
        std::thread worker([&] { result = ExportFrames(frames, ExportDirection::reverse, maker, shell); });
        HWND box = nullptr;
        pump_until([&] { return (box = find_dialog(kExportTitle)) != nullptr; }, "the export's message box");
        EXPECT_EQ(text_of(GetDlgItem(box, 0xFFFF)), wide(kExportSucceededText));
        EXPECT_EQ(GetWindow(box, GW_OWNER), frame.hwnd());
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        pump_until([&] { return result != -1; }, "the export to end");
        worker.join();

        EXPECT_EQ(result, 1);
        EXPECT_GT(std::filesystem::file_size(shell.answer), 0u);
        EXPECT_FALSE(IsWindowVisible(progress.hwnd()));
        EXPECT_TRUE(IsWindowEnabled(frame.hwnd()));
        EXPECT_EQ(SendMessageW(progress.bar(), PBM_GETPOS, 0, 0), 0);
        EXPECT_EQ(text_of(frame.hwnd()), L"当前帧数:" + std::to_wstring(n));
    }
}

// A frame window hanging off the screen's edges (narrower than the bar, left of the work area,
// then below it): the bar centred on it would start off the screen, so it comes inside.
TEST_F(Win32Export, TheBarCentredOnAFrameWindowAtTheEdgesStaysInsideTheWorkArea) {
    RECT work{};
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    struct Case {
        int left, top;
        bool at_left;
    };
    for (const Case c : {Case{work.left - 60, work.top + 100, true}, Case{work.left + 200, work.bottom - 30, false}}) {
        SetWindowPos(frame.hwnd(), nullptr, c.left, c.top, 120, 60, SWP_NOZORDER | SWP_NOACTIVATE);
        progress.show_centred_on(frame.hwnd());
        RECT bar{};
        GetWindowRect(progress.hwnd(), &bar);
        EXPECT_GE(bar.left, work.left);
        EXPECT_GE(bar.top, work.top);
        EXPECT_LE(bar.right, work.right);
        EXPECT_LE(bar.bottom, work.bottom);
        // Moved no further than it took.
        if (c.at_left) {
            EXPECT_EQ(bar.left, work.left);
        } else {
            EXPECT_EQ(bar.bottom, work.bottom);
        }
        progress.hide();
    }
}

// The preview and the editor are topmost windows that the frame window owns, like the bar. Shown
// for an export started from one of them (the preview's 保存), the bar comes above it, every time,
// and leaves the activation where it was.
TEST_F(Win32Export, TheBarShowsAboveTheFrameWindowsOtherWindowsWithoutTakingTheActivation) {
    struct Preview : platform::win32::Window {
        bool create(HWND owner, const RECT& r) {
            return Window::create(L"GifRecExportTestPreview", "", WS_OVERLAPPEDWINDOW, platform::win32::kOwnedByTopmost,
                                  r.left - 40, r.top - 40, r.right - r.left + 80, r.bottom - r.top + 80, owner);
        }
    } preview;
    RECT f{};
    GetWindowRect(frame.hwnd(), &f);
    ASSERT_TRUE(preview.create(frame.hwnd(), f));
    ShowWindow(preview.hwnd(), SW_SHOWNORMAL);
    SetActiveWindow(preview.hwnd());
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        progress.show_centred_on(frame.hwnd());
        RECT bar{};
        GetWindowRect(progress.bar(), &bar);
        const POINT centre{(bar.left + bar.right) / 2, (bar.top + bar.bottom) / 2};
        EXPECT_EQ(WindowFromPoint(centre), progress.bar());
        EXPECT_EQ(GetActiveWindow(), preview.hwnd());
        progress.hide();
        // The user works in the preview between two exports, which brings it to the top.
        SetWindowPos(preview.hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }
}

// The real save dialog on the export's thread: its starting name and owner, and a typed Chinese
// name without extension coming back whole, with ".gif", in the program's folder.
TEST_F(Win32Export, SaveDialogReturnsATypedChineseNameInTheProgramFolder) {
    Win32ExportShell shell(frame.hwnd(), progress, platform::program_dir());
    std::filesystem::path chosen;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        chosen = shell.AskSavePath();
        done = true;
    });
    HWND dialog = nullptr;
    pump_until([&] { return (dialog = find_dialog(kSaveDialogTitle)) != nullptr; }, "the save dialog");
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), frame.hwnd());
    const HWND combo = FindWindowExW(GetDlgItem(dialog, 0x47c), nullptr, L"ComboBox", nullptr);
    const HWND edit = combo ? FindWindowExW(combo, nullptr, L"Edit", nullptr) : nullptr;
    if (edit) {
        EXPECT_EQ(text_of(edit), wide(kSaveDialogFileName));
        SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"录制测试"));
    }
    PostMessageW(dialog, WM_COMMAND, edit ? IDOK : IDCANCEL, 0);
    pump_until([&] { return done.load(); }, "the save dialog to close");
    worker.join();
    if (!edit) GTEST_SKIP() << "this save dialog has no name field ComboBoxEx32 > ComboBox > Edit as control 0x47c";
    EXPECT_EQ(chosen, platform::program_dir() / L"录制测试.gif");
}

}  // namespace
}  // namespace gifanim::review::win32
