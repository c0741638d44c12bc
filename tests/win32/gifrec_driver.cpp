// Drives gifrec.exe as a user would: each case copies the program into a fresh folder (so it has
// its own gif配置.ini), starts it, works its frame window through messages and checks what shows.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

// Ids of app/win32/frame_window.h.
constexpr int kToolbarId = 200;
constexpr int kFirstButtonId = 100;
constexpr int kSaveForwardMenuId = 12;

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

HWND top_window_of(DWORD process, const wchar_t* cls, const wchar_t* title) {
    struct Search {
        DWORD process;
        const wchar_t* cls;
        const wchar_t* title;
        HWND found;
    } search{process, cls, title, nullptr};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t cls[256] = {};
            GetClassNameW(window, cls, 256);
            if (owner != s.process || (s.cls && wcscmp(cls, s.cls) != 0)) return TRUE;
            if (s.title && window_text(window) != s.title) return TRUE;
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
        std::wstring command = L"\"" + (dir_ / L"gifrec.exe").wstring() + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                                   environment ? CREATE_UNICODE_ENVIRONMENT : 0, const_cast<wchar_t*>(environment),
                                   dir_.c_str(), &startup, &process_));
        WaitForInputIdle(process_.hProcess, 10000);
    }

    void start() {
        launch();
        frame_ = wait_for([this] {
            HWND w = top_window_of(process_.dwProcessId, L"GifRecFrameWindow", nullptr);
            return w && IsWindowVisible(w) ? w : nullptr;
        });
        ASSERT_NE(frame_, nullptr);
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

    fs::path dir_;
    PROCESS_INFORMATION process_{};
    HWND frame_ = nullptr;
    HWND toolbar_ = nullptr;
};

TEST_F(Gifrec, FirstStartUsesDesignedGeometryAndStoresItInGbk) {
    start();
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

TEST_F(Gifrec, ExportsThroughTheSaveDialog) {
    start();
    record(600);
    ASSERT_TRUE(enabled(4));
    SendMessageW(frame_, WM_COMMAND, kSaveForwardMenuId, 0);

    const DWORD pid = process_.dwProcessId;
    HWND dialog = wait_for([pid] { return top_window_of(pid, nullptr, L"保存GIF图片"); });
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), frame_);
    HWND name = GetDlgItem(dialog, 0x47c);
    HWND edit = wait_for([name] {
        HWND combo = FindWindowExW(name, nullptr, L"ComboBox", nullptr);
        return combo ? FindWindowExW(combo, nullptr, L"Edit", nullptr) : FindWindowExW(name, nullptr, L"Edit", nullptr);
    });
    ASSERT_NE(edit, nullptr);
    const fs::path gif = dir_ / L"录制 out.gif";
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(gif.c_str()));
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);

    HWND box = wait_for([pid] { return top_window_of(pid, L"#32770", L"Zovaro提示您："); }, 20);
    ASSERT_NE(box, nullptr);
    EXPECT_NE(window_text(GetDlgItem(box, 0xFFFF)).find(L"导出成功"), std::wstring::npos);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(read_bytes(gif).substr(0, 6), "GIF89a");
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
    std::wstring environment;
    for (const wchar_t* name : {L"TMP", L"TEMP"}) environment += std::wstring(name) + L"=" + missing + L'\0';
    for (const wchar_t* name : {L"SystemRoot", L"WINEPREFIX", L"DISPLAY", L"WINEDEBUG", L"USERPROFILE"}) {
        wchar_t value[1024] = {};
        if (GetEnvironmentVariableW(name, value, 1024)) environment += std::wstring(name) + L"=" + value + L'\0';
    }
    environment += L'\0';
    launch(environment.c_str());
    const DWORD pid = process_.dwProcessId;
    HWND box = wait_for([pid] { return top_window_of(pid, L"#32770", L"信息："); }, 20);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(window_text(GetDlgItem(box, 0xFFFF)), L"初始化失败");
    EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_EQ(WaitForSingleObject(process_.hProcess, 10000), WAIT_OBJECT_0);
    DWORD code = 9;
    GetExitCodeProcess(process_.hProcess, &code);
    EXPECT_EQ(code, 0u);
}

TEST_F(Gifrec, MaximizeIsRefused) {
    start();
    const RECT before = rect();
    SendMessageW(frame_, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    const RECT after = rect();
    EXPECT_FALSE(IsZoomed(frame_));
    EXPECT_EQ(after.left, before.left);
    EXPECT_EQ(after.top, before.top);
    EXPECT_EQ(after.right, before.right);
    EXPECT_EQ(after.bottom, before.bottom);
    EXPECT_EQ(close(), 0u);
}

}  // namespace
