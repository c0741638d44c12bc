// Drives gifrec.exe as a user would: each case copies the program into a fresh folder (so it has
// its own gif配置.ini), starts it, works its frame window through messages and checks what shows.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Ids of app/win32/frame_window.h.
constexpr int kToolbarId = 200;
constexpr int kCapturePanelId = 201;
constexpr int kFirstButtonId = 100;
constexpr int kSettingsMenuId = 9;
constexpr int kSaveForwardMenuId = 12;
constexpr int kSaveReverseMenuId = 13;
constexpr int kOptimizeSizeMenuId = 18;
constexpr int kExportOptionsMenuId = 19;
// Ids of app/win32/export_options_window.h.
constexpr int kMaxSizeEdit = 1301;
constexpr int kScaleEdit = 1302;
constexpr int kSpeedEdit = 1303;
constexpr int kMaxFpsEdit = 1304;
constexpr int kEstimateLabel = 1305;
constexpr int kOptionsNoteLabel = 1306;
constexpr int kOptionsOkButton = 1307;
constexpr int kOptionsDefaultsButton = 1308;
// Ids of app/win32/settings_window.h.
constexpr int kRate4Edit = 1004;
constexpr int kWidthEdit = 1007;
constexpr int kMemorySizeEdit = 1017;
constexpr int kDiskStorageRadio = 1015;
constexpr int kOkButton = 1019;
constexpr int kDefaultsButton = 1020;
constexpr int kShowClicksCheck = 1021;
constexpr int kRecordHotkeyField = 1024;
constexpr int kPauseHotkeyField = 1026;
constexpr int kHotkeyStatusLabel = 1027;
constexpr int kCountdownCombo = 1029;
constexpr int kPauseMenuId = 20;
// Ids of review/win32/preview_window.h and editor_window.h.
constexpr int kPreviewFirstButtonId = 110;
constexpr int kPreviewToolbarId = 300;
constexpr int kEditorSaveButtonId = 1201;
constexpr int kFrameStripId = 1203;

std::string gbk(const std::wstring& text) {
    const int n = WideCharToMultiByte(936, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(936, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::string read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::wstring window_text(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

// Polls for up to `seconds` until `found` returns a window.
HWND wait_for(const std::function<HWND()>& found, double seconds = 10) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    while (GetTickCount64() < end) {
        if (HWND window = found()) return window;
        Sleep(50);
    }
    return nullptr;
}

// The number after `label` in `text`, or -1.
int number_after(const std::wstring& text, const std::wstring& label) {
    const std::size_t at = text.find(label);
    return at == std::wstring::npos ? -1 : _wtoi(text.c_str() + at + label.size());
}

std::uintmax_t folder_bytes(const fs::path& dir) {
    std::uintmax_t total = 0;
    for (const auto& entry : fs::directory_iterator(dir)) total += entry.file_size();
    return total;
}

// The spill files in a temporary folder: one per running recorder, and those left behind.
std::vector<fs::path> spill_files(const fs::path& temp) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(temp)) {
        if (entry.path().extension() == L".tmp") found.push_back(entry.path());
    }
    return found;
}

// Milliseconds since 1970 by the wall clock, which the Linux side's `date +%s%3N` reads too.
long long unix_ms() {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    const ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<long long>((ticks - 116444736000000000ull) / 10000);
}

// Whether `box` shows the system's icon `which`, which Wine's message box holds in static 0x440:
// where the icon is opaque (it draws the same on black and on white) the screen must show its
// pixels. The question mark's and the information sign's differ in the glyph alone, about an
// eighth of them, so one in a hundred wrong is the bound.
bool shows_icon(HWND box, const wchar_t* which) {
    HWND icon = GetDlgItem(box, 0x440);
    RECT r{};
    if (!icon || !IsWindowVisible(icon) || !GetClientRect(icon, &r) || r.right <= 0 || r.bottom <= 0) return false;
    MapWindowPoints(icon, nullptr, reinterpret_cast<POINT*>(&r), 2);
    const int width = r.right - r.left, height = r.bottom - r.top;
    const size_t size = static_cast<size_t>(width) * height * 4;
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    const auto* pixels = static_cast<const unsigned char*>(bits);
    const auto take = [&] {
        GdiFlush();
        return std::vector<unsigned char>(pixels, pixels + size);
    };
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    const std::vector<unsigned char> shown = take();
    std::vector<unsigned char> drawn[2];
    for (int background = 0; background < 2; ++background) {
        const RECT all{0, 0, width, height};
        FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(background ? WHITE_BRUSH : BLACK_BRUSH)));
        DrawIconEx(memory, 0, 0, LoadIconW(nullptr, which), width, height, 0, nullptr, DI_NORMAL);
        drawn[background] = take();
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    int opaque = 0, wrong = 0;
    for (size_t i = 0; i < size; i += 4) {
        if (!std::equal(&drawn[0][i], &drawn[0][i] + 3, &drawn[1][i])) continue;
        ++opaque;
        for (size_t c = 0; c < 3; ++c) {
            if (std::abs(shown[i + c] - drawn[0][i + c]) > 24) {
                ++wrong;
                break;
            }
        }
    }
    return opaque * 4 > width * height && wrong * 100 <= opaque;
}

// A Unicode environment block with `variables` ("NAME=value") and what Wine needs to run.
std::wstring environment_with(std::initializer_list<std::wstring> variables) {
    std::wstring block;
    for (const std::wstring& v : variables) block += v + L'\0';
    for (const wchar_t* name : {L"SystemRoot", L"WINEPREFIX", L"DISPLAY", L"WINEDEBUG", L"USERPROFILE"}) {
        wchar_t value[1024] = {};
        if (GetEnvironmentVariableW(name, value, 1024)) block += std::wstring(name) + L"=" + value + L'\0';
    }
    return block + L'\0';
}

// The first top-level window of `process` with this class and title (null: any); with `visible`,
// the first one shown.
HWND top_window_of(DWORD process, const wchar_t* cls, const wchar_t* title, bool visible = false) {
    struct Search {
        DWORD process;
        const wchar_t* cls;
        const wchar_t* title;
        bool visible;
        HWND found;
    } search{process, cls, title, visible, nullptr};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t cls[256] = {};
            GetClassNameW(window, cls, 256);
            if (owner != s.process || (s.cls && wcscmp(cls, s.cls) != 0)) return TRUE;
            if (s.title && window_text(window) != s.title) return TRUE;
            if (s.visible && !IsWindowVisible(window)) return TRUE;
            s.found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

class Gifrec : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Without a window manager every hide or close of a managed window stalls about a second.
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\X11 Driver", 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"N"), 2 * sizeof(wchar_t));
        RegCloseKey(key);
    }

    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / (std::wstring(L"gifrec_e2e_") + fs::path(info->name()).wstring());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        fs::copy_file(fs::path(GIFREC_EXE), dir_ / L"gifrec.exe");
    }

    void TearDown() override {
        if (other_.hProcess) {
            TerminateProcess(other_.hProcess, 9);
            WaitForSingleObject(other_.hProcess, 10000);
            CloseHandle(other_.hProcess);
            CloseHandle(other_.hThread);
        }
        if (process_.hProcess) {
            if (frame_) PostMessageW(frame_, WM_CLOSE, 0, 0);
            if (WaitForSingleObject(process_.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(process_.hProcess, 9);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // Starts gifrec; `environment` (a Unicode environment block) replaces the inherited one.
    void launch(const wchar_t* environment = nullptr) {
        if (program_dir_.empty()) program_dir_ = dir_;
        std::wstring command = L"\"" + (program_dir_ / L"gifrec.exe").wstring() + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                                   environment ? CREATE_UNICODE_ENVIRONMENT : 0, const_cast<wchar_t*>(environment),
                                   program_dir_.c_str(), &startup, &process_));
        WaitForInputIdle(process_.hProcess, 10000);
    }

    void start(const wchar_t* environment = nullptr) {
        const ULONGLONG launched = GetTickCount64();
        launch(environment);
        frame_ = wait_for([this] {
            HWND w = top_window_of(process_.dwProcessId, L"GifRecFrameWindow", nullptr);
            return w && IsWindowVisible(w) ? w : nullptr;
        });
        ASSERT_NE(frame_, nullptr);
        startup_ms_ = GetTickCount64() - launched;
        toolbar_ = GetDlgItem(frame_, kToolbarId);
        ASSERT_NE(toolbar_, nullptr);
    }

    // Closes the frame window and waits for the program to end; returns its exit code.
    DWORD close() {
        // A close is refused while an export finishes, as a user would, try again.
        for (int i = 0; i < 20 && WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0; ++i) {
            PostMessageW(frame_, WM_CLOSE, 0, 0);
            WaitForSingleObject(process_.hProcess, 500);
        }
        frame_ = nullptr;
        if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(process_.hProcess, 9);
        DWORD code = 9;
        GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

    // Ends the program as a crash or the task manager would: no window hears of it.
    void kill() {
        TerminateProcess(process_.hProcess, 9);
        WaitForSingleObject(process_.hProcess, 10000);
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
        process_ = {};
        frame_ = nullptr;
    }

    // The box that offers a recording left behind, checked for its owner, icon, buttons and text;
    // null when none comes within `seconds`. `frames` is the number it offers. The box is up by the
    // time start() returns (the program first waits for input in it), so a second says none comes.
    HWND recovery_box(int& frames, double seconds = 10) {
        frames = -1;
        HWND box = message_box(L"Zovaro提示您：", seconds);
        if (!box) return nullptr;
        Sleep(200);  // painted
        const std::wstring text = window_text(GetDlgItem(box, 0xFFFF));
        frames = number_after(text, L"的录制(");
        EXPECT_EQ(text, L"Zovaro提示您：\r\n\r\n发现上次没有保存的录制(" + std::to_wstring(frames) + L"帧)，是否恢复？");
        EXPECT_EQ(GetWindow(box, GW_OWNER), frame_);
        for (int id : {IDYES, IDNO}) EXPECT_TRUE(IsWindowVisible(GetDlgItem(box, id))) << "button " << id;
        for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE}) {
            EXPECT_FALSE(IsWindowVisible(GetDlgItem(box, id))) << "button " << id;
        }
        EXPECT_TRUE(shows_icon(box, reinterpret_cast<const wchar_t*>(IDI_QUESTION))) << "the question icon";
        return box;
    }
    void answer(HWND box, int id) {
        PostMessageW(box, WM_COMMAND, id, 0);
        EXPECT_NE(wait_for([box] { return IsWindow(box) ? nullptr : box; }), nullptr);
    }

    bool enabled(int index) { return SendMessageW(toolbar_, TB_ISBUTTONENABLED, kFirstButtonId + index, 0) != 0; }
    void click(int index) {
        SendMessageW(frame_, WM_COMMAND, kFirstButtonId + index, reinterpret_cast<LPARAM>(toolbar_));
    }
    RECT rect() {
        RECT r{};
        GetWindowRect(frame_, &r);
        return r;
    }
    void record(int ms) {
        click(0);
        Sleep(ms);
        click(0);
    }

    // A message box of the program with this title, once it shows its text.
    HWND message_box(const wchar_t* title, double seconds = 10) {
        const DWORD pid = process_.dwProcessId;
        return wait_for(
            [pid, title] {
                HWND box = top_window_of(pid, L"#32770", title, true);
                return box && !window_text(GetDlgItem(box, 0xFFFF)).empty() ? box : nullptr;
            },
            seconds);
    }

    HWND shown_window(const wchar_t* cls) {
        const DWORD pid = process_.dwProcessId;
        return wait_for([pid, cls] { return top_window_of(pid, cls, nullptr, true); });
    }

    // Presses a preview button and collects the captions until one ends with `end`: the frame
    // numbers shown on the way, in order.
    std::vector<int> play(HWND preview, int button, const std::wstring& end) {
        SendMessageW(preview, WM_COMMAND, kPreviewFirstButtonId + button,
                     reinterpret_cast<LPARAM>(GetDlgItem(preview, kPreviewToolbarId)));
        std::vector<int> shown;
        const ULONGLONG until = GetTickCount64() + 30000;
        while (GetTickCount64() < until) {
            const std::wstring caption = window_text(preview);
            if (caption == end) return shown;
            const int k = number_after(caption, L"当前播放第");
            if (k >= 0 && (shown.empty() || shown.back() != k)) shown.push_back(k);
            Sleep(5);
        }
        ADD_FAILURE() << "no end caption " << gbk(end) << ", last " << gbk(window_text(preview));
        return shown;
    }

    // Clicks (`down`, `up`) where the cursor is until the program shows a popup menu: under Wine an
    // injected click can be lost while a fresh window settles its activation, and a user would
    // click again. Three tries; the popup, or null.
    HWND click_for_popup(DWORD down, DWORD up) {
        const DWORD pid = process_.dwProcessId;
        HWND menu = nullptr;
        for (int attempt = 0; attempt < 3 && !menu; ++attempt) {
            send_input({mouse(down), mouse(up)});
            menu = wait_for([pid] { return top_window_of(pid, L"#32768", nullptr, true); }, 3);
        }
        return menu;
    }

    // Double-clicks the editor's strip at 300, 100; the frame viewer it shows, or null.
    HWND open_viewer(HWND editor) {
        POINT at{300, 100};
        ClientToScreen(GetDlgItem(editor, kFrameStripId), &at);
        SetCursorPos(at.x, at.y);
        send_input({mouse(MOUSEEVENTF_LEFTDOWN), mouse(MOUSEEVENTF_LEFTUP), mouse(MOUSEEVENTF_LEFTDOWN),
                    mouse(MOUSEEVENTF_LEFTUP)});
        return shown_window(L"GifRecFrameViewer");
    }

    // Right-clicks the thumbnail at x in the editor's strip and picks the popup's item `item`
    // (1 to 3) with the keyboard, through the system's input queue as a user would.
    // Waits (up to 2 s) until the window has stayed where it is for 150 ms: a click aimed at a
    // window still being placed lands on whatever is there after the move.
    static void wait_until_still(HWND window) {
        RECT before{}, now{};
        GetWindowRect(window, &before);
        for (int i = 0; i < 13; ++i) {
            Sleep(150);
            GetWindowRect(window, &now);
            if (EqualRect(&before, &now)) return;
            before = now;
        }
    }

    void delete_through_popup(HWND editor, int x, int item) {
        wait_until_still(editor);
        POINT at{x, 100};
        ClientToScreen(GetDlgItem(editor, kFrameStripId), &at);
        SetCursorPos(at.x, at.y);
        HWND menu = click_for_popup(MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP);
        ASSERT_NE(menu, nullptr);
        for (int i = 0; i < item; ++i) send_input({key(VK_DOWN, 0), key(VK_DOWN, KEYEVENTF_KEYUP)});
        send_input({key(VK_RETURN, 0), key(VK_RETURN, KEYEVENTF_KEYUP)});
        ASSERT_NE(wait_for([menu] { return IsWindowVisible(menu) ? nullptr : menu; }), nullptr);
    }

    // Drags the editor's knob by `dx` through the input queue, from the track's left end (10 pixels
    // in, 224 down) or, for a drag back, its right end (10 in from the right); then double-clicks
    // the strip at 300, 100 and returns the viewer's caption, hiding the viewer again.
    std::wstring viewer_after_drag(HWND editor, int dx) {
        wait_until_still(editor);
        RECT client{};
        GetClientRect(editor, &client);
        POINT knob{dx > 0 ? 16 : client.right - 14, 224};
        ClientToScreen(editor, &knob);
        SetCursorPos(knob.x, knob.y);
        send_input({mouse(MOUSEEVENTF_LEFTDOWN)});
        Sleep(100);
        send_input({move_to(knob.x + dx / 2, knob.y), move_to(knob.x + dx, knob.y)});
        Sleep(100);
        send_input({mouse(MOUSEEVENTF_LEFTUP)});
        HWND viewer = open_viewer(editor);
        if (!viewer) return L"no viewer";
        const std::wstring caption = window_text(viewer);
        PostMessageW(viewer, WM_CLOSE, 0, 0);
        wait_for([viewer] { return IsWindowVisible(viewer) ? nullptr : viewer; });
        return caption;
    }
    static INPUT move_to(int x, int y) {
        INPUT in = mouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE);
        in.mi.dx = MulDiv(std::clamp(x, 0, GetSystemMetrics(SM_CXSCREEN) - 1), 65536, GetSystemMetrics(SM_CXSCREEN));
        in.mi.dy = MulDiv(y, 65536, GetSystemMetrics(SM_CYSCREEN));
        return in;
    }
    static INPUT mouse(DWORD flags) {
        INPUT in{};
        in.type = INPUT_MOUSE;
        in.mi.dwFlags = flags;
        return in;
    }
    static INPUT key(WORD vk, DWORD flags) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = vk;
        in.ki.dwFlags = flags;
        return in;
    }
    static void send_input(std::vector<INPUT> inputs) {
        SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    }

    // The screen rectangle of toolbar button `index`: the toolbar writes it into memory of its
    // own process, which is read back from there.
    RECT button_rect(int index) {
        RECT r{};
        void* remote = VirtualAllocEx(process_.hProcess, nullptr, sizeof r, MEM_COMMIT, PAGE_READWRITE);
        if (!remote) return r;
        SendMessageW(toolbar_, TB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(remote));
        ReadProcessMemory(process_.hProcess, remote, &r, sizeof r, nullptr);
        VirtualFreeEx(process_.hProcess, remote, 0, MEM_RELEASE);
        MapWindowPoints(toolbar_, nullptr, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }

    // Opens the drop-down of toolbar button `index` (0 录制, 4 保存) with a click on its arrow,
    // counts the check marks it shows and closes it with Escape. A check mark is a run of at least
    // four rows with dark pixels in the popup's left margin, where nothing else is drawn but the
    // separators' one-row lines.
    int popup_check_marks(int index) {
        const RECT button = button_rect(index);
        SetCursorPos(button.right - 4, (button.top + button.bottom) / 2);
        HWND menu = click_for_popup(MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
        if (!menu) return -1;
        Sleep(300);  // drawn
        RECT r{};
        GetWindowRect(menu, &r);
        const int width = r.right - r.left, height = r.bottom - r.top;
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;  // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
        SelectObject(memory, old);
        int marks = 0, run = 0;
        for (int y = 2; y < height - 2; ++y) {
            bool dark = false;
            for (int x = 3; x < 16 && x < width; ++x) {
                const auto* p = static_cast<const unsigned char*>(bits) + (static_cast<size_t>(y) * width + x) * 4;
                dark = dark || p[0] + p[1] + p[2] < 3 * 80;
            }
            run = dark ? run + 1 : 0;
            if (run == 4) ++marks;
        }
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
        send_input({key(VK_ESCAPE, 0), key(VK_ESCAPE, KEYEVENTF_KEYUP)});
        wait_for([menu] { return IsWindowVisible(menu) ? nullptr : menu; });
        return marks;
    }

    // Chooses a save command, names `gif` in the save dialog and answers the success box.
    void export_through_dialog(int menu_id, const fs::path& gif) {
        export_through_dialog([this, menu_id] { SendMessageW(frame_, WM_COMMAND, menu_id, 0); }, gif);
    }
    // The same after `save`, which opens the dialog some other way.
    void export_through_dialog(const std::function<void()>& save, const fs::path& gif) {
        save();
        const DWORD pid = process_.dwProcessId;
        HWND dialog = wait_for([pid] { return top_window_of(pid, nullptr, L"保存GIF图片"); });
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(GetWindow(dialog, GW_OWNER), frame_);
        HWND name = GetDlgItem(dialog, 0x47c);
        HWND edit = wait_for([name] {
            HWND combo = FindWindowExW(name, nullptr, L"ComboBox", nullptr);
            return combo ? FindWindowExW(combo, nullptr, L"Edit", nullptr)
                         : FindWindowExW(name, nullptr, L"Edit", nullptr);
        });
        ASSERT_NE(edit, nullptr);
        SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(gif.c_str()));
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);

        // Large frames take a while to reduce under Wine.
        HWND box = message_box(L"Zovaro提示您：", 120);
        ASSERT_NE(box, nullptr);
        EXPECT_NE(window_text(GetDlgItem(box, 0xFFFF)).find(L"导出成功"), std::wstring::npos);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        // The box is gone and the export's thread has finished with the window.
        wait_for([box] { return IsWindow(box) ? nullptr : box; });
    }

    // Opens 导出选项 from the 保存 menu's command; the dialog, once shown.
    HWND open_export_options() {
        SendMessageW(frame_, WM_COMMAND, kExportOptionsMenuId, 0);
        const DWORD pid = process_.dwProcessId;
        return wait_for([pid] { return top_window_of(pid, L"GifRecExportOptionsWindow", L"导出选项", true); });
    }
    // Types `text` into a box of a dialog, as the keyboard would change it.
    static void type_into(HWND dialog, int id, const wchar_t* text) {
        SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    }
    // What an edit box of another process holds: GetWindowText answers such a box with its
    // caption, not with its text (labels answer GetWindowText).
    static std::wstring control_text(HWND dialog, int id) {
        wchar_t text[512] = {};
        SendMessageW(GetDlgItem(dialog, id), WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
        return text;
    }
    static void press(HWND dialog, int id) {
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    }
    // A key pressed and released through the system's input queue, as the keyboard would.
    static void press_key(WORD vk) {
        send_input({key(vk, 0), key(vk, KEYEVENTF_KEYUP)});
    }
    std::wstring record_caption() {
        wchar_t text[64] = {};
        TBBUTTONINFOW info{};
        info.cbSize = sizeof info;
        info.dwMask = TBIF_TEXT;
        void* remote =
            VirtualAllocEx(process_.hProcess, nullptr, sizeof info + sizeof text, MEM_COMMIT, PAGE_READWRITE);
        if (!remote) return {};
        info.pszText = reinterpret_cast<wchar_t*>(static_cast<char*>(remote) + sizeof info);
        info.cchText = 64;
        WriteProcessMemory(process_.hProcess, remote, &info, sizeof info, nullptr);
        SendMessageW(toolbar_, TB_GETBUTTONINFOW, kFirstButtonId, reinterpret_cast<LPARAM>(remote));
        ReadProcessMemory(process_.hProcess, info.pszText, text, sizeof text, nullptr);
        VirtualFreeEx(process_.hProcess, remote, 0, MEM_RELEASE);
        return text;
    }
    // Waits until the 录制 button reads `caption`; whether it did within `seconds`.
    bool record_button_reads(const std::wstring& caption, double seconds = 5) {
        return wait_for([&] { return record_caption() == caption ? frame_ : nullptr; }, seconds) != nullptr;
    }
    // Where a case's GIFs go: the judging script's folder when it runs the case, else the case's own.
    fs::path out_dir() const {
        wchar_t out_text[1024] = {};
        return GetEnvironmentVariableW(L"GIFREC_E2E_OUT", out_text, 1024) > 0 ? fs::path(out_text).make_preferred()
                                                                              : dir_;
    }
    bool ini_has(const wchar_t* line) const {
        return read_bytes(dir_ / L"gif配置.ini").find(gbk(std::wstring(line) + L"\r\n")) != std::string::npos;
    }

    fs::path dir_;
    fs::path program_dir_;  // where gifrec.exe runs from: dir_ unless a case moves it
    PROCESS_INFORMATION process_{};
    PROCESS_INFORMATION other_{};  // a second instance's, while a case runs two
    HWND frame_ = nullptr;
    HWND toolbar_ = nullptr;
    ULONGLONG startup_ms_ = 0;  // from CreateProcess to a visible frame window
};

TEST_F(Gifrec, FirstStartUsesDesignedGeometryAndStoresItInGbk) {
    start();
    std::printf("gifrec.exe start-up to a shown frame window: %llu ms\n", startup_ms_);
    const RECT r = rect();
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right - r.left, 480);
    EXPECT_EQ(r.bottom - r.top, 340);
    EXPECT_EQ(window_text(frame_), L"Zovaro GIF录制");
    for (int i = 1; i <= 4; ++i) EXPECT_FALSE(enabled(i)) << "button " << i;
    EXPECT_EQ(close(), 0u);

    const std::string ini = read_bytes(dir_ / L"gif配置.ini");
    EXPECT_NE(ini.find(gbk(L"[配置]")), std::string::npos);
    for (const wchar_t* line : {L"宽度=480", L"高度=340", L"左边=0", L"顶边=0"}) {
        EXPECT_NE(ini.find(gbk(line)), std::string::npos) << gbk(line);
    }
}

TEST_F(Gifrec, StoredSettingsCentreTheWindowAndRecordFullScreen) {
    std::ofstream(dir_ / L"gif配置.ini", std::ios::binary) << gbk(L"[配置]\r\n菜单帧=5\r\n菜单全屏=8\r\n左边=-1\r\n");
    start();
    const UINT dpi = GetDpiForWindow(frame_);
    const int designed = MulDiv(588, static_cast<int>(dpi), 96);
    EXPECT_EQ(rect().left, (GetSystemMetrics(SM_CXSCREEN) - designed) / 2);

    click(0);
    // A full-screen recording gets the frame window out of its own picture.
    EXPECT_NE(wait_for([this] { return IsIconic(frame_) ? frame_ : nullptr; }, 5), nullptr);
    Sleep(1000);
    click(0);
    EXPECT_EQ(window_text(frame_).rfind(L"当前帧数:", 0), 0u) << gbk(window_text(frame_));
    for (int i = 1; i <= 4; ++i) EXPECT_TRUE(enabled(i)) << "button " << i;
    EXPECT_EQ(close(), 0u);
}

// A window-mode recording exported through the dialog. What the see-through panel shows depends on
// how Wine emulates the colour key, so scripts/gifrec_colours.sh (which runs this case with
// GIFREC_E2E_OUT set) judges only the frames' count, size and delays: window.txt gives it the
// panel's "width height frames".
TEST_F(Gifrec, ExportsThroughTheSaveDialog) {
    wchar_t out_text[1024] = {};
    const bool kept = GetEnvironmentVariableW(L"GIFREC_E2E_OUT", out_text, 1024) > 0;
    start();
    record(1000);
    ASSERT_TRUE(enabled(4));
    const fs::path gif = kept ? fs::path(out_text).make_preferred() / L"window.gif" : dir_ / L"录制 out.gif";
    export_through_dialog(kSaveForwardMenuId, gif);
    EXPECT_EQ(read_bytes(gif).substr(0, 6), "GIF89a");
    RECT panel{};
    GetWindowRect(GetDlgItem(frame_, kCapturePanelId), &panel);
    if (kept) {
        std::ofstream(fs::path(out_text) / L"window.txt")
            << panel.right - panel.left << ' ' << panel.bottom - panel.top << ' '
            << number_after(window_text(frame_), L"当前帧数:") << '\n';
    }
    EXPECT_EQ(close(), 0u);
}

TEST_F(Gifrec, ClearDuringARecordingAndACancelledSaveChangeWhatTheyShould) {
    start();
    record(500);
    const std::wstring recorded = window_text(frame_);
    // Cancelling the dialog changes nothing: no box, the same caption, the window usable.
    SendMessageW(frame_, WM_COMMAND, kSaveForwardMenuId, 0);
    const DWORD pid = process_.dwProcessId;
    HWND dialog = wait_for([pid] { return top_window_of(pid, nullptr, L"保存GIF图片"); });
    ASSERT_NE(dialog, nullptr);
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_NE(wait_for([this] { return IsWindowEnabled(frame_) ? frame_ : nullptr; }, 5), nullptr);
    Sleep(500);
    EXPECT_EQ(top_window_of(pid, L"#32770", L"Zovaro提示您："), nullptr);
    EXPECT_EQ(window_text(frame_), recorded);

    // 清空 while a recording continues the earlier frames: stopped and emptied.
    click(0);
    Sleep(300);
    click(1);
    EXPECT_EQ(window_text(frame_), L"当前帧数:0");
    for (int i = 1; i <= 4; ++i) EXPECT_FALSE(enabled(i)) << "button " << i;
    Sleep(500);  // no tick comes after the reset
    EXPECT_EQ(window_text(frame_), L"当前帧数:0");
    EXPECT_EQ(close(), 0u);
}

TEST_F(Gifrec, NoSpillFileShowsTheInitFailureAndEndsWithZero) {
    const std::wstring missing = (dir_ / L"no such folder").wstring();
    const std::wstring environment = environment_with({L"TMP=" + missing, L"TEMP=" + missing});
    launch(environment.c_str());
    HWND box = message_box(L"信息：", 20);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(window_text(GetDlgItem(box, 0xFFFF)), L"初始化失败");
    EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_EQ(WaitForSingleObject(process_.hProcess, 10000), WAIT_OBJECT_0);
    DWORD code = 9;
    GetExitCodeProcess(process_.hProcess, &code);
    EXPECT_EQ(code, 0u);
}

// Logging off ends the process without closing its windows: what a close stores is stored at
// WM_ENDSESSION, and the recording's spill file stays for the next start to recover. Here a
// full-screen recording runs, the frame window minimised: the place stored is the one it had.
TEST_F(Gifrec, LoggingOffStoresTheGeometryAndKeepsTheRecordingsSpillFile) {
    std::ofstream(dir_ / L"gif配置.ini", std::ios::binary) << gbk(L"[配置]\r\n存储方式=0\r\n菜单全屏=8\r\n");
    const fs::path temp = dir_ / L"temp";
    fs::create_directories(temp);
    const std::wstring environment = environment_with({L"TMP=" + temp.wstring(), L"TEMP=" + temp.wstring()});
    start(environment.c_str());
    SetWindowPos(frame_, nullptr, 120, 90, 500, 360, SWP_NOZORDER | SWP_NOACTIVATE);
    click(0);
    ASSERT_NE(wait_for([this] { return IsIconic(frame_) ? frame_ : nullptr; }, 5), nullptr);
    Sleep(600);
    EXPECT_EQ(SendMessageW(frame_, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
    SendMessageW(frame_, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    // What the system does next.
    TerminateProcess(process_.hProcess, 0);
    ASSERT_EQ(WaitForSingleObject(process_.hProcess, 10000), WAIT_OBJECT_0);
    frame_ = nullptr;

    const std::string ini = read_bytes(dir_ / L"gif配置.ini");
    for (const wchar_t* line : {L"左边=120", L"顶边=90", L"宽度=500", L"高度=360"}) {
        EXPECT_NE(ini.find(gbk(line)), std::string::npos) << gbk(line);
    }
    std::uintmax_t spilled = 0;
    for (const auto& entry : fs::directory_iterator(temp)) {
        if (entry.path().extension() == L".tmp") spilled += entry.file_size();
    }
    EXPECT_GT(spilled, 0u);
}

// A full-screen recording ended by a kill halfway comes back at the next start: the box offers the
// frames recorded up to about a second before the kill, Yes makes them the recording, and they
// export. scripts/gifrec_recovery.sh runs this case with GIFREC_E2E_OUT set while it paints the
// screen, and has giflib judge recovered.gif against recovered.txt ("frames start_ms kill_ms").
TEST_F(Gifrec, AKilledRecordingIsOfferedAtTheNextStartAndExports) {
    wchar_t out_text[1024] = {};
    const bool kept = GetEnvironmentVariableW(L"GIFREC_E2E_OUT", out_text, 1024) > 0;
    const fs::path out = kept ? fs::path(out_text).make_preferred() : dir_;
    wchar_t ms_text[32] = {};
    const int record_ms = GetEnvironmentVariableW(L"GIFREC_E2E_RECORD_MS", ms_text, 32) ? _wtoi(ms_text) : 2000;
    const fs::path temp = dir_ / L"temp";
    fs::create_directories(temp);
    const std::wstring environment = environment_with({L"TMP=" + temp.wstring(), L"TEMP=" + temp.wstring()});
    std::ofstream(dir_ / L"gif配置.ini", std::ios::binary) << gbk(L"[配置]\r\n菜单全屏=8\r\n");

    start(environment.c_str());
    click(0);
    const long long started = unix_ms();
    ASSERT_NE(wait_for([this] { return IsIconic(frame_) ? frame_ : nullptr; }, 5), nullptr);
    Sleep(static_cast<DWORD>(record_ms));
    const int counted = number_after(window_text(frame_), L"当前帧数:");
    const long long killed = unix_ms();
    kill();
    ASSERT_GE(counted, 3);

    start(environment.c_str());
    int n = 0;
    HWND box = recovery_box(n);
    ASSERT_NE(box, nullptr);
    // Frames reach the file as they are taken; the last second's may be lost, 5 a second here.
    EXPECT_GE(n, counted - 5);
    EXPECT_LE(n, counted + 1);
    answer(box, IDYES);
    EXPECT_EQ(window_text(frame_), L"当前帧数:" + std::to_wstring(n));
    for (int i = 1; i <= 4; ++i) EXPECT_TRUE(enabled(i)) << "button " << i;
    export_through_dialog(kSaveForwardMenuId, out / L"recovered.gif");
    std::ofstream(out / L"recovered.txt") << n << ' ' << started << ' ' << killed << '\n';
    EXPECT_EQ(close(), 0u);
    EXPECT_TRUE(fs::is_empty(temp)) << "the recovered recording's file is deleted at exit like any other";
}

// Recovered and killed again, the recording is offered again, the same frames; No deletes its file,
// and the start after that offers nothing.
TEST_F(Gifrec, ARecordingRefusedAtTheNextStartIsDeletedForGood) {
    const fs::path temp = dir_ / L"temp";
    fs::create_directories(temp);
    const std::wstring environment = environment_with({L"TMP=" + temp.wstring(), L"TEMP=" + temp.wstring()});
    start(environment.c_str());
    record(600);
    const int counted = number_after(window_text(frame_), L"当前帧数:");
    ASSERT_GE(counted, 1);
    kill();

    start(environment.c_str());
    int n = 0;
    HWND box = recovery_box(n);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(n, counted);
    answer(box, IDYES);
    kill();
    const std::vector<fs::path> left = spill_files(temp);
    ASSERT_EQ(left.size(), 1u) << "the recovered recording went on in the file it was found in";

    start(environment.c_str());
    box = recovery_box(n);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(n, counted);
    answer(box, IDNO);
    EXPECT_FALSE(fs::exists(left[0]));
    EXPECT_EQ(spill_files(temp).size(), 1u) << "only the running program's own";
    EXPECT_EQ(window_text(frame_), L"Zovaro GIF录制");
    for (int i = 1; i <= 4; ++i) EXPECT_FALSE(enabled(i)) << "button " << i;
    EXPECT_EQ(close(), 0u);
    EXPECT_TRUE(fs::is_empty(temp));

    start(environment.c_str());
    EXPECT_EQ(recovery_box(n, 1), nullptr) << n << " frames offered";
    EXPECT_EQ(close(), 0u);
}

// The journal of a recorder that still runs is its own: a second instance offers nothing and leaves
// the file alone.
TEST_F(Gifrec, ASecondInstanceLeavesARunningRecordersRecordingAlone) {
    const fs::path temp = dir_ / L"temp";
    fs::create_directories(temp);
    const std::wstring environment = environment_with({L"TMP=" + temp.wstring(), L"TEMP=" + temp.wstring()});
    start(environment.c_str());
    record(600);
    const std::wstring caption = window_text(frame_);
    const std::vector<fs::path> first = spill_files(temp);
    ASSERT_EQ(first.size(), 1u);
    const auto bytes = fs::file_size(first[0]);
    ASSERT_GT(bytes, 0u);
    other_ = std::exchange(process_, {});
    HWND first_frame = std::exchange(frame_, nullptr);

    start(environment.c_str());
    int n = 0;
    EXPECT_EQ(recovery_box(n, 1), nullptr) << n << " frames offered";
    EXPECT_EQ(spill_files(temp).size(), 2u);
    EXPECT_EQ(close(), 0u);
    ASSERT_TRUE(fs::exists(first[0]));
    EXPECT_EQ(fs::file_size(first[0]), bytes);

    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
    process_ = std::exchange(other_, {});
    frame_ = first_frame;
    EXPECT_EQ(window_text(frame_), caption);
    EXPECT_EQ(close(), 0u);
    EXPECT_TRUE(fs::is_empty(temp));
}

// A stored place on a monitor since unplugged: the frame window comes back onto the screen, next
// to where it was, with its stored size.
TEST_F(Gifrec, AStoredPlaceOffEveryMonitorComesBackOntoTheScreen) {
    std::ofstream(dir_ / L"gif配置.ini", std::ios::binary) << gbk(L"[配置]\r\n左边=5000\r\n顶边=200\r\n");
    start();
    RECT work{};
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    const RECT r = rect();
    EXPECT_EQ(r.right, work.right);
    EXPECT_EQ(r.top, 200);
    EXPECT_EQ(r.right - r.left, 480);
    EXPECT_EQ(r.bottom - r.top, 340);
    EXPECT_EQ(close(), 0u);
}

TEST_F(Gifrec, MaximizeIsRefused) {
    start();
    // Without a maximise box the system offers no maximise of its own (a drag to the screen's top
    // edge, a double click on the caption).
    EXPECT_EQ(GetWindowLongW(frame_, GWL_STYLE) & WS_MAXIMIZEBOX, 0);
    EXPECT_NE(GetWindowLongW(frame_, GWL_STYLE) & WS_MINIMIZEBOX, 0);
    const RECT before = rect();
    // The command's low four bits are the system's own: any of them is still a maximise.
    for (const WPARAM command : {WPARAM(SC_MAXIMIZE), WPARAM(SC_MAXIMIZE | HTCAPTION), WPARAM(SC_MAXIMIZE | 0xF)}) {
        SendMessageW(frame_, WM_SYSCOMMAND, command, 0);
        EXPECT_FALSE(IsZoomed(frame_)) << std::hex << command;
    }
    SendMessageW(frame_, WM_NCLBUTTONDBLCLK, HTCAPTION, MAKELPARAM(before.left + 200, before.top + 8));
    EXPECT_FALSE(IsZoomed(frame_));
    const RECT after = rect();
    EXPECT_EQ(after.left, before.left);
    EXPECT_EQ(after.top, before.top);
    EXPECT_EQ(after.right, before.right);
    EXPECT_EQ(after.bottom, before.bottom);
    EXPECT_EQ(close(), 0u);
}

// Closed from the task bar while minimised (a full-screen recording with 全屏隐藏窗口), or while
// maximised some other way, the window stores the rectangle it comes back to, not the system's
// for that state, and starts there next time.
TEST_F(Gifrec, AMinimisedOrMaximisedWindowStoresTheRectangleItComesBackTo) {
    const auto finish = [this] {
        EXPECT_EQ(close(), 0u);
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
        process_ = {};
    };
    for (const int state : {SW_MINIMIZE, SW_MAXIMIZE}) {
        SCOPED_TRACE(state);
        start();
        SetWindowPos(frame_, nullptr, 120, 90, 500, 360, SWP_NOZORDER | SWP_NOACTIVATE);
        ShowWindow(frame_, state);
        ASSERT_NE(wait_for(
                      [this, state] {
                          return (state == SW_MINIMIZE ? IsIconic(frame_) : IsZoomed(frame_)) ? frame_ : nullptr;
                      },
                      5),
                  nullptr);
        finish();
        const std::string ini = read_bytes(dir_ / L"gif配置.ini");
        for (const wchar_t* line : {L"左边=120\r\n", L"顶边=90\r\n", L"宽度=500\r\n", L"高度=360\r\n"}) {
            EXPECT_NE(ini.find(gbk(line)), std::string::npos) << gbk(line);
        }
        start();
        const RECT r = rect();
        EXPECT_EQ(r.left, 120);
        EXPECT_EQ(r.top, 90);
        EXPECT_EQ(r.right - r.left, 500);
        EXPECT_EQ(r.bottom - r.top, 360);
        finish();
    }
}

// The message that runs work on a window's thread, from another process, with or without a
// cookie, sent or posted, with a pointer that would crash the recorder were it called through.
TEST_F(Gifrec, ARunMessageFromAnotherProcessIsIgnored) {
    start();
    for (const WPARAM cookie : {WPARAM(0), WPARAM(1), ~WPARAM(0)}) {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(frame_, WM_APP + 0x100, cookie, 1, SMTO_ABORTIFHUNG, 5000, &result);
        PostMessageW(frame_, WM_APP + 0x100, cookie, 0x7FFF0000);
    }
    Sleep(300);
    ASSERT_EQ(WaitForSingleObject(process_.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the recorder ended";
    record(400);
    EXPECT_EQ(window_text(frame_).rfind(L"当前帧数:", 0), 0u) << gbk(window_text(frame_));
    EXPECT_EQ(close(), 0u);
}

// The colours are judged outside, by scripts/gifrec_colours.sh, which paints the X root window a
// known sequence of colours meanwhile and runs this case alone with GIFREC_E2E_OUT set; here the
// recording is made and both exports go through the dialog as a user would.
TEST_F(Gifrec, FullScreenRecordingExportsForwardsAndInReverse) {
    wchar_t out_text[1024] = {};
    const bool kept = GetEnvironmentVariableW(L"GIFREC_E2E_OUT", out_text, 1024) > 0;
    // The save dialog takes no forward slashes.
    const fs::path out = kept ? fs::path(out_text).make_preferred() : dir_;
    wchar_t ms_text[32] = {};
    const int record_ms = GetEnvironmentVariableW(L"GIFREC_E2E_RECORD_MS", ms_text, 32) ? _wtoi(ms_text) : 2000;

    // Rate item 4 (5 frames per second) is the first start's choice.
    std::ofstream(dir_ / L"gif配置.ini", std::ios::binary) << gbk(L"[配置]\r\n菜单全屏=8\r\n");
    start();
    click(0);
    ASSERT_NE(wait_for([this] { return IsIconic(frame_) ? frame_ : nullptr; }, 5), nullptr);
    Sleep(static_cast<DWORD>(record_ms));
    click(0);
    ShowWindow(frame_, SW_RESTORE);  // from the task bar
    export_through_dialog(kSaveForwardMenuId, out / L"forward.gif");
    export_through_dialog(kSaveReverseMenuId, out / L"reverse.gif");
    for (const wchar_t* name : {L"forward.gif", L"reverse.gif"}) {
        const std::string gif = read_bytes(out / name);
        ASSERT_GE(gif.size(), 10u);
        EXPECT_EQ(gif.substr(0, 6), "GIF89a");
        const auto word = [&](std::size_t at) {
            return static_cast<unsigned char>(gif[at]) | static_cast<unsigned char>(gif[at + 1]) << 8;
        };
        EXPECT_EQ(word(6), GetSystemMetrics(SM_CXSCREEN));
        EXPECT_EQ(word(8), GetSystemMetrics(SM_CYSCREEN));
    }
    const int n = number_after(window_text(frame_), L"当前帧数:");
    ASSERT_GE(n, 3);
    const std::wstring all = L"一共有" + std::to_wstring(n) + L"帧";

    // The preview plays every frame forwards, then backwards, and closing only hides it.
    click(2);
    HWND preview = shown_window(L"GifRecPreviewWindow");
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(window_text(preview), all);
    const std::vector<int> forwards =
        play(preview, 0, all + L"     当前播放第" + std::to_wstring(n) + L"帧,已播放完毕");
    ASSERT_FALSE(forwards.empty());
    EXPECT_TRUE(std::is_sorted(forwards.begin(), forwards.end()));
    EXPECT_EQ(forwards.back(), n);
    const std::vector<int> backwards = play(preview, 1, all + L"     当前播放第1帧,已播放完毕");
    ASSERT_FALSE(backwards.empty());
    EXPECT_TRUE(std::is_sorted(backwards.rbegin(), backwards.rend()));
    EXPECT_EQ(backwards.front(), n);
    PostMessageW(preview, WM_CLOSE, 0, 0);
    EXPECT_NE(wait_for([preview] { return IsWindowVisible(preview) ? nullptr : preview; }), nullptr);
    EXPECT_TRUE(IsWindow(preview));

    // The editor deletes frame 2 through the popup; 保存 puts the rest into the store, which the
    // next export writes (the script compares it with the first export, frame 2 left out).
    click(3);
    HWND editor = shown_window(L"GifRecEditorWindow");
    ASSERT_NE(editor, nullptr);
    const std::wstring total = L"总帧数:" + std::to_wstring(n) + L"      当前剩余帧数:";
    EXPECT_EQ(window_text(editor), total + std::to_wstring(n));
    delete_through_popup(editor, 300, 1);  // 删除当前帧 on thumbnail 2
    EXPECT_EQ(window_text(editor), total + std::to_wstring(n - 1));
    SendMessageW(editor, WM_COMMAND, MAKEWPARAM(kEditorSaveButtonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(editor, kEditorSaveButtonId)));
    EXPECT_EQ(window_text(frame_), L"当前帧数:" + std::to_wstring(n - 1));
    export_through_dialog(kSaveForwardMenuId, out / L"edited.gif");

    // A double-click shows the frame in the viewer, which closing only hides.
    click(3);
    HWND viewer = open_viewer(editor);
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(window_text(viewer), L"一共有" + std::to_wstring(n - 1) + L"帧     当前帧: 第2帧");
    PostMessageW(viewer, WM_CLOSE, 0, 0);
    EXPECT_NE(wait_for([viewer] { return IsWindowVisible(viewer) ? nullptr : viewer; }), nullptr);
    EXPECT_TRUE(IsWindow(viewer));

    // Dragging the knob to the track's right end scrolls the strip to its last four thumbnails, so
    // a double-click at 300 in the strip opens the third from last; dragged back, the second.
    const int left_now = n - 1;
    if (left_now > 4) {
        // Centred on the small frame window at the screen's corner, the editor would start partly
        // off the screen; it was moved inside, where its knob and buttons can be reached.
        RECT placed{};
        GetWindowRect(editor, &placed);
        EXPECT_EQ(placed.left, 0);
        EXPECT_GE(placed.top, 0);
        EXPECT_EQ(viewer_after_drag(editor, 2000),
                  L"一共有" + std::to_wstring(left_now) + L"帧     当前帧: 第" + std::to_wstring(left_now - 2) + L"帧");
        EXPECT_EQ(viewer_after_drag(editor, -2000), L"一共有" + std::to_wstring(left_now) + L"帧     当前帧: 第2帧");
    }

    // 编辑 again brings the open editor to the front rather than making a second one. A delete
    // not saved: closing asks, and No leaves the store as it was.
    click(3);
    EXPECT_EQ(shown_window(L"GifRecEditorWindow"), editor);
    EXPECT_EQ(GetForegroundWindow(), editor);
    delete_through_popup(editor, 300, 1);
    PostMessageW(editor, WM_CLOSE, 0, 0);
    HWND prompt = message_box(L"Zovaro提示您：");
    ASSERT_NE(prompt, nullptr);
    EXPECT_NE(window_text(GetDlgItem(prompt, 0xFFFF)).find(L"你已做了修改,尚未保存,是否保存"), std::wstring::npos);
    PostMessageW(prompt, WM_COMMAND, IDNO, 0);
    EXPECT_NE(wait_for([editor] { return IsWindow(editor) ? nullptr : editor; }), nullptr);
    EXPECT_EQ(window_text(frame_), L"当前帧数:" + std::to_wstring(n - 1));
    export_through_dialog(kSaveForwardMenuId, out / L"unchanged.gif");
    EXPECT_EQ(read_bytes(out / L"unchanged.gif"), read_bytes(out / L"edited.gif"));
    EXPECT_EQ(close(), 0u);
}

// 优化体积 checked, every save writes the optimized GIF. scripts/gifrec_colours.sh runs this case
// with GIFREC_E2E_OUT set while it paints the screen and has giflib compare plain.gif with
// optimized.gif: smaller, the same pictures at every moment within the bound, the same total delay.
TEST_F(Gifrec, OptimizeSizeIsStoredAndEverySaveWritesTheOptimizedGif) {
    wchar_t out_text[1024] = {};
    const bool kept = GetEnvironmentVariableW(L"GIFREC_E2E_OUT", out_text, 1024) > 0;
    const fs::path out = kept ? fs::path(out_text).make_preferred() : dir_;
    wchar_t ms_text[32] = {};
    const int record_ms = GetEnvironmentVariableW(L"GIFREC_E2E_RECORD_MS", ms_text, 32) ? _wtoi(ms_text) : 2000;
    const auto ini_has = [this](const wchar_t* line) {
        return read_bytes(dir_ / L"gif配置.ini").find(gbk(std::wstring(line) + L"\r\n")) != std::string::npos;
    };

    std::ofstream(dir_ / L"gif配置.ini", std::ios::binary) << gbk(L"[配置]\r\n菜单全屏=8\r\n");
    start();
    click(0);
    ASSERT_NE(wait_for([this] { return IsIconic(frame_) ? frame_ : nullptr; }, 5), nullptr);
    Sleep(static_cast<DWORD>(record_ms));
    click(0);
    ShowWindow(frame_, SW_RESTORE);
    EXPECT_EQ(popup_check_marks(4), 0) << "优化体积 starts unchecked";
    export_through_dialog(kSaveForwardMenuId, out / L"plain.gif");

    SendMessageW(frame_, WM_COMMAND, kOptimizeSizeMenuId, 0);
    EXPECT_TRUE(ini_has(L"优化保存=1"));
    EXPECT_EQ(popup_check_marks(4), 1) << "优化体积 checked in the 保存 drop-down";
    export_through_dialog(kSaveForwardMenuId, out / L"optimized.gif");

    // The preview's 保存 saves the same recording the same way.
    click(2);
    HWND preview = shown_window(L"GifRecPreviewWindow");
    ASSERT_NE(preview, nullptr);
    export_through_dialog(
        [preview] {
            SendMessageW(preview, WM_COMMAND, kPreviewFirstButtonId + 3,
                         reinterpret_cast<LPARAM>(GetDlgItem(preview, kPreviewToolbarId)));
        },
        out / L"preview.gif");
    const std::string from_preview = read_bytes(out / L"preview.gif"), optimized = read_bytes(out / L"optimized.gif");
    EXPECT_TRUE(from_preview == optimized) << from_preview.size() << " and " << optimized.size() << " bytes";
    PostMessageW(preview, WM_CLOSE, 0, 0);
    EXPECT_EQ(close(), 0u);
    EXPECT_TRUE(ini_has(L"优化保存=1")) << "kept after the program ends";
}

TEST_F(Gifrec, SettingsWindowWritesItsKeysAndMovesRecordingToTheSpillFile) {
    const fs::path temp = dir_ / L"temp";
    fs::create_directories(temp);
    const std::wstring environment = environment_with({L"TMP=" + temp.wstring(), L"TEMP=" + temp.wstring()});
    start(environment.c_str());
    SendMessageW(frame_, WM_COMMAND, kSettingsMenuId, 0);
    const DWORD pid = process_.dwProcessId;
    HWND settings = wait_for([pid] {
        HWND w = top_window_of(pid, L"GifRecSettingsWindow", L"设置");
        return w && IsWindowVisible(w) ? w : nullptr;
    });
    ASSERT_NE(settings, nullptr);

    // Controls sit where they were designed, scaled by the window's resolution.
    const int dpi = static_cast<int>(GetDpiForWindow(settings));
    const struct {
        int id, x, y, width, height;
    } designed[] = {{kRate4Edit, 184, 24, 40, 24}, {kMemorySizeEdit, 80, 224, 48, 24}, {kOkButton, 35, 420, 64, 32}};
    for (const auto& c : designed) {
        RECT r{};
        GetWindowRect(GetDlgItem(settings, c.id), &r);
        MapWindowPoints(nullptr, settings, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_EQ(r.left, MulDiv(c.x, dpi, 96)) << c.id;
        EXPECT_EQ(r.top, MulDiv(c.y, dpi, 96)) << c.id;
        EXPECT_EQ(r.right - r.left, MulDiv(c.width, dpi, 96)) << c.id;
        EXPECT_EQ(r.bottom - r.top, MulDiv(c.height, dpi, 96)) << c.id;
    }
    const auto press = [settings](int id) {
        SendMessageW(settings, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(settings, id)));
    };
    const auto ini_has = [this](const wchar_t* line) {
        return read_bytes(dir_ / L"gif配置.ini").find(gbk(std::wstring(line) + L"\r\n")) != std::string::npos;
    };

    // Every frame reaches the spill file, kept in memory or not; 使用硬盘 is stored at once and the
    // next frames are read from the file. (The panel reads the same every tick under Wine, so later
    // ticks only lengthen the last frame: 清空 makes the next tick store a frame.)
    record(500);
    EXPECT_GT(folder_bytes(temp), 0u);
    press(kDiskStorageRadio);
    EXPECT_TRUE(ini_has(L"存储方式=0"));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(settings, kMemorySizeEdit)));
    click(1);
    record(500);
    EXPECT_GT(folder_bytes(temp), 0u);

    // 确定 stores the boxes, sizes the frame window and relabels the rate items: item 4 is now
    // 25 frames per second, so the first tick's delay is 4.
    // Rate item 4, the first start's choice, carries the popup's one check mark until 确定.
    EXPECT_EQ(popup_check_marks(0), 1);
    SendMessageW(GetDlgItem(settings, kRate4Edit), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"25"));
    SendMessageW(GetDlgItem(settings, kWidthEdit), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"500"));
    press(kOkButton);
    EXPECT_FALSE(IsWindowVisible(settings));
    EXPECT_TRUE(ini_has(L"帧4=25"));
    EXPECT_TRUE(ini_has(L"宽度=500"));
    EXPECT_EQ(rect().right - rect().left, 500);
    EXPECT_EQ(popup_check_marks(0), 0) << "确定 leaves the relabelled rate items unchecked";
    SendMessageW(frame_, WM_COMMAND, 6, 0);
    EXPECT_TRUE(ini_has(L"菜单帧=6"));
    EXPECT_EQ(popup_check_marks(0), 1);
    click(1);
    click(0);
    const ULONGLONG until = GetTickCount64() + 3000;
    int delay = -1;
    while (delay < 0 && GetTickCount64() < until) delay = number_after(window_text(frame_), L"延时:");
    click(0);
    EXPECT_GT(delay, 0);
    EXPECT_EQ(delay % 4, 0) << delay;
    EXPECT_LT(delay, 20) << "the first frames' delay at 25 frames per second";

    // 默认 then 确定 stores the designed values.
    SendMessageW(frame_, WM_COMMAND, kSettingsMenuId, 0);
    press(kDefaultsButton);
    press(kOkButton);
    for (const wchar_t* line : {L"帧1=3", L"帧2=5", L"帧3=10", L"帧4=15", L"宽度=480", L"高度=340", L"内存大小=20",
                                L"存储方式=1", L"穿透=1", L"录制鼠标=1", L"全屏隐藏=1"}) {
        EXPECT_TRUE(ini_has(line)) << gbk(line);
    }
    EXPECT_EQ(close(), 0u);
    EXPECT_TRUE(fs::is_empty(temp)) << "the spill file is deleted at exit";
}

// Folders and names beyond the ANSI code page, on a locale other than Chinese.
TEST_F(Gifrec, UnicodeFoldersWorkOnAnyLocale) {
    program_dir_ = dir_ / L"程序 Ünïcode ✓";
    const fs::path temp = dir_ / L"临时 ß Ω";
    fs::create_directories(program_dir_);
    fs::create_directories(temp);
    fs::copy_file(dir_ / L"gifrec.exe", program_dir_ / L"gifrec.exe");
    std::ofstream(program_dir_ / L"gif配置.ini", std::ios::binary) << gbk(L"[配置]\r\n存储方式=0\r\n");
    const std::wstring environment =
        environment_with({L"TMP=" + temp.wstring(), L"TEMP=" + temp.wstring(), L"LANG=en_US.UTF-8"});
    start(environment.c_str());
    record(600);
    EXPECT_GT(folder_bytes(temp), 0u);
    const fs::path gif = temp / L"导出 ü.gif";
    export_through_dialog(kSaveForwardMenuId, gif);
    EXPECT_EQ(read_bytes(gif).substr(0, 6), "GIF89a");
    fs::remove(gif);
    EXPECT_EQ(close(), 0u);
    EXPECT_TRUE(fs::is_empty(temp));
    EXPECT_NE(read_bytes(program_dir_ / L"gif配置.ini").find(gbk(L"宽度=480")), std::string::npos);
}

// 导出选项: every value typed is stored at once and shown again after a restart, and 默认 stores
// "no change"; typing that is no number is refused and said so; the estimate shows for a recording
// and a dash without one.
TEST_F(Gifrec, ExportOptionsAreStoredAsTypedAndRestoredAfterARestart) {
    start();
    record(600);
    HWND dialog = open_export_options();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), frame_);
    const int dpi = static_cast<int>(GetDpiForWindow(dialog));
    RECT box{};
    GetWindowRect(GetDlgItem(dialog, kScaleEdit), &box);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&box), 2);
    EXPECT_EQ(box.left, MulDiv(88, dpi, 96));
    EXPECT_EQ(box.top, MulDiv(60, dpi, 96));
    EXPECT_EQ(box.right - box.left, MulDiv(56, dpi, 96));
    const auto estimate = [&dialog] { return window_text(GetDlgItem(dialog, kEstimateLabel)); };
    const auto shows_megabytes = [&] {
        const std::wstring text = estimate();
        return text.rfind(L"预计大小:", 0) == 0 && text.find(L"MB") != std::wstring::npos;
    };
    EXPECT_NE(wait_for([&] { return shows_megabytes() ? dialog : nullptr; }), nullptr) << gbk(estimate());

    type_into(dialog, kMaxFpsEdit, L"abc");
    EXPECT_NE(window_text(GetDlgItem(dialog, kOptionsNoteLabel)), L"");
    EXPECT_EQ(read_bytes(dir_ / L"gif配置.ini").find(gbk(L"最高帧率")), std::string::npos) << "nothing refused is stored";
    type_into(dialog, kMaxSizeEdit, L"3");
    type_into(dialog, kScaleEdit, L"50");
    type_into(dialog, kSpeedEdit, L"2");
    type_into(dialog, kMaxFpsEdit, L"10");
    EXPECT_EQ(window_text(GetDlgItem(dialog, kOptionsNoteLabel)), L"");
    for (const wchar_t* line : {L"最大体积=3", L"缩放=50", L"速度百分比=200", L"最高帧率=10"}) {
        EXPECT_TRUE(ini_has(line)) << gbk(line);
    }
    // The estimate follows the options; with the recording cleared there is none.
    EXPECT_NE(wait_for([&] { return shows_megabytes() ? dialog : nullptr; }), nullptr) << gbk(estimate());
    click(1);
    type_into(dialog, kScaleEdit, L"25");
    EXPECT_EQ(estimate(), L"预计大小:-");
    press(dialog, kOptionsOkButton);
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_EQ(close(), 0u);

    start();
    dialog = open_export_options();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(control_text(dialog, kMaxSizeEdit), L"3");
    EXPECT_EQ(control_text(dialog, kScaleEdit), L"25");
    EXPECT_EQ(control_text(dialog, kSpeedEdit), L"2");
    EXPECT_EQ(control_text(dialog, kMaxFpsEdit), L"10");
    EXPECT_EQ(estimate(), L"预计大小:-");
    press(dialog, kOptionsDefaultsButton);
    for (const wchar_t* line : {L"最大体积=0", L"缩放=100", L"速度百分比=100", L"最高帧率=0"}) {
        EXPECT_TRUE(ini_has(line)) << gbk(line);
    }
    EXPECT_EQ(control_text(dialog, kScaleEdit), L"100");
    EXPECT_EQ(close(), 0u);
}

// 缩放 50 % and 速度 2× set in 导出选项 shape the next save. scripts/gifrec_colours.sh runs this
// case with GIFREC_E2E_OUT set while it paints the screen and has giflib compare unshaped.gif with
// shaped.gif: half the size, half the total delay, the same colours in the same order.
TEST_F(Gifrec, ExportOptionsShapeTheSavedGif) {
    wchar_t out_text[1024] = {};
    const bool kept = GetEnvironmentVariableW(L"GIFREC_E2E_OUT", out_text, 1024) > 0;
    const fs::path out = kept ? fs::path(out_text).make_preferred() : dir_;
    std::ofstream(dir_ / L"gif配置.ini", std::ios::binary) << gbk(L"[配置]\r\n菜单全屏=8\r\n");
    start();
    click(0);
    ASSERT_NE(wait_for([this] { return IsIconic(frame_) ? frame_ : nullptr; }, 5), nullptr);
    Sleep(2000);
    click(0);
    ShowWindow(frame_, SW_RESTORE);
    export_through_dialog(kSaveForwardMenuId, out / L"unshaped.gif");
    HWND dialog = open_export_options();
    ASSERT_NE(dialog, nullptr);
    type_into(dialog, kScaleEdit, L"50");
    type_into(dialog, kSpeedEdit, L"2");
    press(dialog, kOptionsOkButton);
    export_through_dialog(kSaveForwardMenuId, out / L"shaped.gif");
    const std::string gif = read_bytes(out / L"shaped.gif");
    ASSERT_GE(gif.size(), 10u);
    EXPECT_EQ(static_cast<unsigned char>(gif[6]) | static_cast<unsigned char>(gif[7]) << 8,
              GetSystemMetrics(SM_CXSCREEN) / 2);
    EXPECT_EQ(close(), 0u);
}

}  // namespace

namespace {

// F8 pressed through the input queue while the frame window is minimised and another window has
// the focus starts a full-screen recording and stops it, the button's caption following.
TEST_F(Gifrec, HotkeyStartsAndStopsAFullScreenRecordingWhileMinimised) {
    std::ofstream(dir_ / L"gif配置.ini", std::ios::binary) << gbk(L"[配置]\r\n菜单全屏=8\r\n");
    start();
    ShowWindow(frame_, SW_MINIMIZE);
    ASSERT_NE(wait_for([this] { return IsIconic(frame_) ? frame_ : nullptr; }, 5), nullptr);
    press_key(VK_F8);
    ASSERT_TRUE(record_button_reads(L"停止")) << "F8 did not start the recording";
    Sleep(1000);
    press_key(VK_F8);
    ASSERT_TRUE(record_button_reads(L"录制")) << "F8 did not stop the recording";
    const int frames = number_after(window_text(frame_), L"当前帧数:");
    EXPECT_GE(frames, 3);
    EXPECT_LE(frames, 7);
    EXPECT_TRUE(enabled(4));
    EXPECT_EQ(close(), 0u);
}


// The time from now until `done` holds, in milliseconds, polled every 10 ms; -1 after `seconds`.
long long ms_until(const std::function<bool()>& done, double seconds = 10) {
    const ULONGLONG start = GetTickCount64();
    while (!done()) {
        if (GetTickCount64() - start > static_cast<ULONGLONG>(seconds * 1000)) return -1;
        Sleep(10);
    }
    return static_cast<long long>(GetTickCount64() - start);
}

// F7 pauses a full-screen recording (the caption says so) and resumes it; the menu's 暂停录制
// pauses again and 停止 ends the paused recording. scripts/gifrec_hotkeys.sh runs this case and
// has giflib check that the delays of pause.gif add up to the time recorded, the pauses left out,
// which the case writes into pause.txt.
TEST_F(Gifrec, PauseKeyLeavesThePauseOutOfTheDelays) {
    const fs::path out = out_dir();
    std::ofstream(dir_ / L"gif配置.ini", std::ios::binary) << gbk(L"[配置]\r\n菜单全屏=8\r\n");
    start();
    const auto paused = [this] { return window_text(frame_).rfind(L"已暂停  当前帧数:", 0) == 0; };
    click(0);
    ASSERT_TRUE(record_button_reads(L"停止"));
    ULONGLONG segment = GetTickCount64();
    long long recorded = 0;
    Sleep(1000);
    press_key(VK_F7);
    ASSERT_GE(ms_until(paused, 3), 0) << "F7 did not pause: " << gbk(window_text(frame_));
    recorded += static_cast<long long>(GetTickCount64() - segment);
    const int frames_at_pause = number_after(window_text(frame_), L"当前帧数:");
    Sleep(1500);
    EXPECT_EQ(number_after(window_text(frame_), L"当前帧数:"), frames_at_pause) << "frames grabbed while paused";
    press_key(VK_F7);
    ASSERT_GE(ms_until([&] { return !paused(); }, 3), 0) << "F7 did not resume";
    segment = GetTickCount64();
    Sleep(1000);
    SendMessageW(frame_, WM_COMMAND, kPauseMenuId, 0);
    ASSERT_TRUE(paused()) << "暂停录制 did not pause";
    recorded += static_cast<long long>(GetTickCount64() - segment);
    Sleep(1500);
    click(0);
    EXPECT_TRUE(record_button_reads(L"录制")) << "停止 did not end the paused recording";
    EXPECT_GT(number_after(window_text(frame_), L"当前帧数:"), frames_at_pause);
    ShowWindow(frame_, SW_RESTORE);
    export_through_dialog(kSaveForwardMenuId, out / L"pause.gif");
    std::ofstream(out / L"pause.txt") << recorded << "\n";
    EXPECT_EQ(close(), 0u);
}

// With 显示鼠标点击 stored, a left button held across ticks of a full-screen recording puts a
// ring around the pointer into those frames. scripts/gifrec_hotkeys.sh has giflib look for the
// ring's colour beside the pointer, whose place the case writes into click.txt.
TEST_F(Gifrec, AHeldClickShowsAsARingAroundThePointer) {
    const fs::path out = out_dir();
    std::ofstream(dir_ / L"gif配置.ini", std::ios::binary)
        << gbk(L"[配置]\r\n菜单全屏=8\r\n录制鼠标=0\r\n显示点击=1\r\n");
    start();
    const int x = 400, y = 300;
    send_input({move_to(x, y)});
    press_key(VK_F8);
    ASSERT_TRUE(record_button_reads(L"停止"));
    Sleep(700);
    send_input({mouse(MOUSEEVENTF_LEFTDOWN)});
    Sleep(800);
    send_input({mouse(MOUSEEVENTF_LEFTUP)});
    Sleep(700);
    press_key(VK_F8);
    ASSERT_TRUE(record_button_reads(L"录制"));
    ShowWindow(frame_, SW_RESTORE);
    export_through_dialog(kSaveForwardMenuId, out / L"click.gif");
    POINT at{};
    GetCursorPos(&at);
    EXPECT_EQ(at.x, x);
    EXPECT_EQ(at.y, y);
    std::ofstream(out / L"click.txt") << x << " " << y << "\n";
    EXPECT_EQ(close(), 0u);
}

// A key typed into a hotkey field is registered and stored at once and works after a restart; a
// key another program holds is refused with a note and the old one stays; 默认 brings F8 back.
// 显示鼠标点击 and 倒计时 are stored as they change.
TEST_F(Gifrec, AChangedHotkeyIsStoredAndWorksAfterARestart) {
    start();
    const auto open_settings = [this] {
        SendMessageW(frame_, WM_COMMAND, kSettingsMenuId, 0);
        const DWORD pid = process_.dwProcessId;
        return wait_for([pid] {
            HWND w = top_window_of(pid, L"GifRecSettingsWindow", L"设置");
            return w && IsWindowVisible(w) ? w : nullptr;
        });
    };
    // What typing into a field leaves: the field's key, and its change notification.
    const auto type_key = [](HWND settings, int id, WORD value) {
        SendMessageW(GetDlgItem(settings, id), HKM_SETHOTKEY, value, 0);
        SendMessageW(settings, WM_COMMAND, MAKEWPARAM(id, EN_CHANGE),
                     reinterpret_cast<LPARAM>(GetDlgItem(settings, id)));
    };
    const auto field = [](HWND settings, int id) {
        return static_cast<WORD>(SendMessageW(GetDlgItem(settings, id), HKM_GETHOTKEY, 0, 0));
    };
    HWND settings = open_settings();
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(field(settings, kRecordHotkeyField), VK_F8);
    EXPECT_EQ(field(settings, kPauseHotkeyField), VK_F7);
    type_key(settings, kRecordHotkeyField, VK_F9);
    EXPECT_TRUE(ini_has(L"录制快捷键=120"));
    EXPECT_EQ(window_text(GetDlgItem(settings, kHotkeyStatusLabel)), L"");

    // This program holds F10 (with Shift), as another would: the pause key stays F7.
    ASSERT_TRUE(RegisterHotKey(nullptr, 1, MOD_SHIFT, VK_F10));
    type_key(settings, kPauseHotkeyField, static_cast<WORD>(VK_F10 | HOTKEYF_SHIFT << 8));
    EXPECT_EQ(window_text(GetDlgItem(settings, kHotkeyStatusLabel)), L"快捷键已被其他程序占用");
    EXPECT_EQ(field(settings, kPauseHotkeyField), VK_F7);
    EXPECT_FALSE(ini_has(L"暂停快捷键=377"));
    UnregisterHotKey(nullptr, 1);

    press(settings, kShowClicksCheck);
    EXPECT_TRUE(ini_has(L"显示点击=1"));
    SendMessageW(GetDlgItem(settings, kCountdownCombo), CB_SETCURSEL, 2, 0);
    SendMessageW(settings, WM_COMMAND, MAKEWPARAM(kCountdownCombo, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(settings, kCountdownCombo)));
    EXPECT_TRUE(ini_has(L"倒计时=5"));
    SendMessageW(GetDlgItem(settings, kCountdownCombo), CB_SETCURSEL, 0, 0);
    SendMessageW(settings, WM_COMMAND, MAKEWPARAM(kCountdownCombo, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(settings, kCountdownCombo)));
    EXPECT_TRUE(ini_has(L"倒计时=0"));
    EXPECT_EQ(close(), 0u);

    start();
    settings = open_settings();
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(field(settings, kRecordHotkeyField), VK_F9);
    EXPECT_EQ(SendMessageW(GetDlgItem(settings, kShowClicksCheck), BM_GETCHECK, 0, 0), BST_CHECKED);
    ShowWindow(settings, SW_HIDE);
    ShowWindow(frame_, SW_MINIMIZE);
    press_key(VK_F8);
    EXPECT_FALSE(record_button_reads(L"停止", 0.5)) << "F8 still records";
    press_key(VK_F9);
    ASSERT_TRUE(record_button_reads(L"停止")) << "F9 did not start the recording after the restart";
    press_key(VK_F9);
    ASSERT_TRUE(record_button_reads(L"录制"));

    // 默认: F8 again, stored, and in force.
    press(settings, kDefaultsButton);
    EXPECT_EQ(field(settings, kRecordHotkeyField), VK_F8);
    EXPECT_TRUE(ini_has(L"录制快捷键=119"));
    press_key(VK_F8);
    EXPECT_TRUE(record_button_reads(L"停止")) << "F8 after 默认";
    press_key(VK_F8);
    EXPECT_TRUE(record_button_reads(L"录制"));
    EXPECT_EQ(close(), 0u);
}

// With 倒计时 at 3 the caption counts 3, 2, 1 and the first frame comes only after it; 停止
// during the countdown cancels it and nothing is recorded.
TEST_F(Gifrec, TheCountdownDelaysTheFirstFrameAndStopCancelsIt) {
    std::ofstream(dir_ / L"gif配置.ini", std::ios::binary) << gbk(L"[配置]\r\n菜单全屏=8\r\n倒计时=3\r\n");
    start();
    std::vector<std::wstring> captions;
    click(0);
    EXPECT_EQ(window_text(frame_), L"3");
    EXPECT_EQ(record_caption(), L"停止");
    const long long first_frame = ms_until([&] {
        const std::wstring caption = window_text(frame_);
        if (captions.empty() || captions.back() != caption) captions.push_back(caption);
        return number_after(caption, L"当前帧数:") >= 1;
    });
    ASSERT_GE(captions.size(), 4u);
    EXPECT_EQ(std::vector<std::wstring>(captions.begin(), captions.begin() + 3),
              (std::vector<std::wstring>{L"3", L"2", L"1"}));
    EXPECT_GE(first_frame, 3000) << "the first frame came before the countdown ended";
    EXPECT_LE(first_frame, 4500);
    EXPECT_TRUE(IsIconic(frame_)) << "the recording hides the window once it starts";
    click(0);
    ASSERT_TRUE(record_button_reads(L"录制"));
    const int frames = number_after(window_text(frame_), L"当前帧数:");
    ShowWindow(frame_, SW_RESTORE);

    click(0);
    EXPECT_EQ(window_text(frame_), L"3");
    Sleep(1200);
    click(0);
    EXPECT_EQ(record_caption(), L"录制");
    EXPECT_EQ(window_text(frame_), L"当前帧数:" + std::to_wstring(frames));
    Sleep(2500);
    EXPECT_EQ(window_text(frame_), L"当前帧数:" + std::to_wstring(frames)) << "the cancelled countdown recorded";
    EXPECT_FALSE(IsIconic(frame_));
    EXPECT_EQ(record_caption(), L"录制");
    EXPECT_EQ(close(), 0u);
}
}  // namespace
