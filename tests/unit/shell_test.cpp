#include "app/shell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "capture/recording_journal.h"
#include "tests/unit/scratch_dir.h"
#include "tests/unit/test_images.h"

namespace gifanim::app {
namespace {

struct FakeWindow : FrameWindowPort {
    std::vector<std::string> calls;
    std::string caption = kFrameWindowCaption;
    std::map<int, std::string> buttons{{0, "录制"}, {1, "清空"}, {2, "预览"}, {3, "编辑"}, {4, "保存"}};
    std::map<int, bool> enabled;
    platform::ScreenRect rect{50, 50, 50 + kDesignedWidth, 50 + kDesignedHeight};
    std::vector<MenuItem> popup;
    std::uint32_t key = 0;
    bool click_through = false;
    bool answer_yes = false;

    void SetCaption(const std::string& s) override { caption = s; }
    std::string ButtonCaption(int i) const override { return buttons.at(i); }
    void SetButtonCaption(int i, const std::string& s) override { buttons[i] = s; }
    void EnableButton(int i, bool on) override { enabled[i] = on; }
    platform::ScreenRect WindowRect() const override { return rect; }
    void MoveWindow(int l, int t, int w, int h) override { rect = {l, t, l + w, t + h}; }
    // Minimised or maximised, `rect` is the system's and `normal` the one the window comes back to.
    review::WindowShow show = review::WindowShow::normal;
    platform::ScreenRect normal;
    platform::ScreenRect work_area{0, 0, 1280, 984};
    review::WindowShow WindowState() const override { return show; }
    platform::ScreenRect NormalRect() const override { return show == review::WindowShow::normal ? rect : normal; }
    platform::ScreenRect WorkArea(const platform::ScreenRect&) const override { return work_area; }
    void Minimize() override { calls.push_back("minimize"); }
    platform::ScreenRect CapturePanelRect() const override {
        return {rect.left + 8, rect.top + 70, rect.right - 8, rect.bottom - 8};
    }
    platform::ScreenSize ScreenSize() const override { return {1280, 1024}; }
    void StartTimer(int id, std::int32_t ms) override {
        calls.push_back("start " + std::to_string(id) + " " + std::to_string(ms));
    }
    void StopTimer(int id) override { calls.push_back("stop " + std::to_string(id)); }
    void ShowPopupMenu(const std::vector<MenuItem>& items) override { popup = items; }
    void ApplyTransparency(std::uint32_t k, bool through) override { key = k, click_through = through; }
    void ShowSettingsWindow() override { calls.push_back("settings"); }
    void HideSettingsWindow() override { calls.push_back("hide settings"); }
    void ShowAbout() override { calls.push_back("about"); }
    void ShowWarning(const std::string& s) override { calls.push_back("warning " + s); }
    bool AskYesNo(const std::string& text, const std::string& title) override {
        calls.push_back("ask " + title + " " + text);
        return answer_yes;
    }
    void ShowPreview() override { calls.push_back("preview"); }
    void OpenEditor() override { calls.push_back("editor"); }
    void EditorCommand(int id) override { calls.push_back("editor " + std::to_string(id)); }
};

struct StillGrabber : capture::FrameGrabber {
    bool Grab(const platform::ScreenRect&, bool, platform::ScreenPixels& p) override {
        p.bits_per_pixel = 32;
        p.data.assign(4, 1);
        return true;
    }
    std::vector<std::uint8_t> Encode(platform::ScreenPixels&) override { return {1, 2, 3}; }
};

// A screen that changes at every grab, and runs out of memory encoding the grabs listed.
struct ShortOfMemoryGrabber : capture::FrameGrabber {
    int grabs = 0;
    std::vector<int> failing;
    bool Grab(const platform::ScreenRect&, bool, platform::ScreenPixels& p) override {
        ++grabs;
        p.bits_per_pixel = 32;
        p.data.assign(4, static_cast<std::uint8_t>(grabs));
        return true;
    }
    std::vector<std::uint8_t> Encode(platform::ScreenPixels& p) override {
        if (std::find(failing.begin(), failing.end(), grabs) != failing.end()) throw std::bad_alloc();
        return {1, 2, p.data[0]};
    }
};

struct NoExport : review::ExportShell {
    std::filesystem::path AskSavePath() override { return {}; }
    void ShowProgressWindow() override {}
    void HideProgressWindow() override {}
    void EnableFrameWindow(bool) override {}
    std::int32_t ProgressMaximum() override { return 100; }
    void SetProgress(std::int32_t) override {}
    void SetFrameWindowCaption(const std::string&) override {}
    void ShowMessage(const std::string&, const std::string&, int) override {}
};

// The panel shows a grey desk with a square that moves by 20 pixels a frame: screen n is the
// n-th position. Each grab is a BMP of the whole panel.
struct MovingSquareGrabber : capture::FrameGrabber {
    int screen = 1;
    int width = 0, height = 0;
    bool Grab(const platform::ScreenRect& rect, bool, platform::ScreenPixels& p) override {
        width = rect.right - rect.left;
        height = rect.bottom - rect.top;
        p.bits_per_pixel = 24;
        p.data.assign(1, static_cast<std::uint8_t>(screen));
        return true;
    }
    std::vector<std::uint8_t> Encode(platform::ScreenPixels& p) override {
        const int left = 20 * p.data[0];
        return test::make_bmp(width, height, [left](int x, int y) {
            const bool square = x >= left && x < left + 40 && y >= 30 && y < 70;
            return square ? test::Rgb{220, 40, 30} : test::Rgb{128, 128, static_cast<std::uint8_t>(120 + y % 8)};
        });
    }
};

// Saves every export to `path`.
struct SaveTo : NoExport {
    std::filesystem::path path;
    std::filesystem::path AskSavePath() override { return path; }
};

std::string file_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Equal bytes; otherwise the sizes and the first byte that differs rather than both files.
::testing::AssertionResult same_bytes(const std::string& a, const std::string& b) {
    if (a == b) return ::testing::AssertionSuccess();
    const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin();
    return ::testing::AssertionFailure() << a.size() << " and " << b.size() << " bytes, first difference at byte "
                                         << at;
}

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

TEST(Menus, EveryItemKeepsItsIdAndTheSavePopupEndsWithOptimizeSize) {
    test::ScratchDir scratch{"menus-"};
    const MenuModel menus = BuildMenus(ConfigFile(scratch.dir / "gif配置.ini"));
    struct Row {
        int id;
        std::string label;
        std::uint32_t flags;
        bool operator==(const Row&) const = default;
    };
    const auto rows = [&menus](Popup popup) {
        std::vector<Row> out;
        for (const MenuItem& item : menus.Items(popup)) out.push_back({item.id, item.label, item.flags});
        return out;
    };
    constexpr std::uint32_t sep = kMenuSeparator;
    EXPECT_EQ(rows(Popup::record), (std::vector<Row>{{1, "新建(&V)", 0},
                                                     {2, "", sep},
                                                     {3, "3帧/s", 0},
                                                     {4, "5帧/s", 0},
                                                     {5, "10帧/s", 0},
                                                     {6, "15帧/s", 0},
                                                     {7, "", sep},
                                                     {8, "全屏幕(&X)", 0},
                                                     {9, "设置(&Z)", 0},
                                                     {10, "", sep},
                                                     {11, "关于(&H)", 0},
                                                     {20, "暂停录制", 0}}));
    EXPECT_EQ(rows(Popup::save),
              (std::vector<Row>{{12, "正序保存", 0}, {13, "倒序保存", 0}, {17, "", sep}, {18, "优化体积", 0},
                                 {19, "导出选项...", 0}}));
    EXPECT_EQ(
        rows(Popup::frames),
        (std::vector<Row>{{14, "删除当前帧", 0}, {15, "删除第一帧到当前帧", 0}, {16, "删除从当前帧最后一帧", 0}}));
    EXPECT_EQ(menu_id::save_separator, 17);
    EXPECT_EQ(menu_id::optimize_size, 18);
    EXPECT_EQ(menu_id::export_options, 19);
    EXPECT_EQ(menu_id::pause_recording, 20);
}

class ShellTest : public ::testing::Test {
protected:
    test::ScratchDir scratch{"shell-"};
    ConfigFile config{scratch.dir / "gif配置.ini"};
    FakeWindow window;
    StillGrabber grabber;
    NoExport exports;
};

TEST_F(ShellTest, FirstStartWithoutASettingsFile) {
    Shell shell(config, window, grabber, exports);
    ASSERT_TRUE(shell.StartUp());
    EXPECT_EQ(window.rect.left, 0);
    EXPECT_EQ(window.rect.top, 0);
    EXPECT_EQ(window.rect.right, 480);
    EXPECT_EQ(window.rect.bottom, 340);
    EXPECT_EQ(shell.menus().GetMenuState(4), kMenuChecked);
    EXPECT_EQ(shell.menus().GetItemLabel(4), "5帧/s");
    EXPECT_EQ(shell.frame_rate(), 5);
    EXPECT_FALSE(shell.full_screen());
    EXPECT_TRUE(shell.settings().record_cursor());
    EXPECT_FALSE(shell.settings().checked(SettingsCheck::record_cursor));
    EXPECT_EQ(window.key, 0xFF00FFu);
    EXPECT_TRUE(window.click_through);
    for (int i = 1; i <= 4; ++i) EXPECT_FALSE(window.enabled.at(i)) << i;
    EXPECT_EQ(window.caption, "Zovaro GIF录制");

    // The fixed ids, separators included.
    EXPECT_EQ(shell.menus().GetMenuState(2), kMenuSeparator);
    EXPECT_EQ(shell.menus().GetMenuState(7), kMenuSeparator);
    EXPECT_EQ(shell.menus().GetItemLabel(8), "全屏幕(&X)");
    EXPECT_EQ(shell.menus().GetItemLabel(13), "倒序保存");
    EXPECT_EQ(shell.menus().GetItemLabel(16), "删除从当前帧最后一帧");
    EXPECT_EQ(shell.menus().GetMenuState(17), kMenuSeparator);
    EXPECT_EQ(shell.menus().GetMenuState(18), kMenuUnchecked);
    EXPECT_FALSE(shell.optimize_size());
    EXPECT_EQ(shell.menus().GetItemLabel(19), "导出选项...");
    EXPECT_EQ(shell.menus().GetItemLabel(20), "暂停录制");
    EXPECT_EQ(shell.menus().GetMenuState(21), kNoSuchItem);

    // Recording at the restored rate: 5 frames per second, delays of 20.
    shell.ToolbarClick(button::record);
    EXPECT_EQ(window.calls.back(), "start 1001 200");
    EXPECT_EQ(window.buttons[0], "停止");
    shell.RecordTick();
    EXPECT_EQ(window.caption, "当前帧数:1  延时:20");
    shell.ToolbarClick(button::record);
    EXPECT_EQ(window.buttons[0], "录制");
    for (int i = 1; i <= 4; ++i) EXPECT_TRUE(window.enabled.at(i)) << i;

    // Shut-down stores the geometry and deletes the spill file.
    const auto spill = shell.session().store().DiskFrames().path();
    ASSERT_TRUE(std::filesystem::exists(spill));
    window.rect = {10, 20, 650, 500};
    shell.ShutDown();
    EXPECT_FALSE(std::filesystem::exists(spill));
    EXPECT_EQ(config.ReadKey(keys::left), "10");
    EXPECT_EQ(config.ReadKey(keys::top), "20");
    EXPECT_EQ(config.ReadKey(keys::width), "640");
    EXPECT_EQ(config.ReadKey(keys::height), "480");
}

TEST_F(ShellTest, StoredGeometryRateAndFullScreenAreRestored) {
    config.WriteKey(keys::left.name, -32);
    config.WriteKey(keys::top.name, -5);
    config.WriteKey(keys::rate_item.name, 5);
    config.WriteKey(keys::full_screen_item.name, 8);
    Shell shell(config, window, grabber, exports);
    ASSERT_TRUE(shell.StartUp());
    // Centred with the designed size, which the window still has at that moment.
    EXPECT_EQ(window.rect.left, (1280 - 588) / 2);
    EXPECT_EQ(window.rect.top, (1024 - 429) / 2);
    EXPECT_EQ(shell.frame_rate(), 10);
    EXPECT_EQ(shell.menus().GetMenuState(5), kMenuChecked);
    EXPECT_EQ(shell.menus().GetMenuState(4), kMenuUnchecked);
    EXPECT_TRUE(shell.full_screen());
    EXPECT_EQ(shell.session().store().capture_rect().right, 1280);
    EXPECT_EQ(shell.session().store().capture_rect().bottom, 1024);
}

TEST_F(ShellTest, RateAndFullScreenCommandsWriteTheirKeys) {
    Shell shell(config, window, grabber, exports);
    ASSERT_TRUE(shell.StartUp());
    shell.ToolbarClick(button::record);
    shell.MenuCommand(3);
    EXPECT_EQ(shell.frame_rate(), 3);
    EXPECT_EQ(config.ReadKey(keys::rate_item), "3");
    EXPECT_EQ(shell.menus().GetMenuState(3), kMenuChecked);
    EXPECT_EQ(shell.menus().GetMenuState(4), kMenuUnchecked);
    EXPECT_EQ(window.calls, std::vector<std::string>{"start 1001 200"});  // the running timer stays

    shell.MenuCommand(8);
    EXPECT_TRUE(shell.full_screen());
    EXPECT_EQ(config.ReadKey(keys::full_screen_item), "8");
    shell.MenuCommand(8);
    EXPECT_FALSE(shell.full_screen());
    EXPECT_EQ(config.ReadKey(keys::full_screen_item), "0");

    // 确定 relabels the rate items unchecked and leaves the rate.
    shell.settings().SetText(SettingsEdit::rate2, "8");
    shell.settings().SetText(SettingsEdit::rate1, "12abc");
    shell.settings().StoreAndApply(shell.settings_shell());
    EXPECT_EQ(shell.menus().GetItemLabel(4), "8帧/s");
    EXPECT_EQ(shell.menus().GetItemLabel(3), "12abc帧/s");
    EXPECT_EQ(shell.menus().GetMenuState(3), kMenuUnchecked);
    EXPECT_EQ(shell.frame_rate(), 3);
    EXPECT_EQ(window.rect.right - window.rect.left, 480);
}

TEST_F(ShellTest, OptimizeSizeTogglesItsCheckAndWritesItsKeyAtOnce) {
    Shell shell(config, window, grabber, exports);
    ASSERT_TRUE(shell.StartUp());
    EXPECT_FALSE(shell.export_optimization().enabled);

    shell.MenuCommand(menu_id::optimize_size);
    EXPECT_EQ(shell.menus().GetMenuState(menu_id::optimize_size), kMenuChecked);
    EXPECT_EQ(count_of(file_bytes(config.path()), "优化保存=1\r\n"), 1u);
    EXPECT_TRUE(shell.export_optimization().enabled);
    EXPECT_EQ(shell.export_optimization().quality, Optimization::kDefaultQuality);
    // The popup the window draws carries the mark.
    shell.ShowPopupMenu(Popup::save);
    ASSERT_EQ(window.popup.size(), 5u);
    EXPECT_EQ(window.popup[3].flags, kMenuChecked);
    EXPECT_EQ(window.popup[2].flags, kMenuSeparator);

    shell.MenuCommand(menu_id::optimize_size);
    EXPECT_EQ(shell.menus().GetMenuState(menu_id::optimize_size), kMenuUnchecked);
    const std::string ini = file_bytes(config.path());
    EXPECT_EQ(count_of(ini, "优化保存=0\r\n"), 1u);
    EXPECT_EQ(count_of(ini, "优化保存="), 1u);
    EXPECT_FALSE(shell.export_optimization().enabled);
    // The separator is no command.
    shell.MenuCommand(menu_id::save_separator);
    EXPECT_FALSE(shell.optimize_size());
    EXPECT_EQ(file_bytes(config.path()), ini);
}

TEST_F(ShellTest, StoredOptimizeSaveSetsTheCheckAtStartUp) {
    // 1 and 0, as the toggle writes them; like the other switches of the file, only "1" is on.
    for (const auto& [value, checked] :
         std::vector<std::pair<std::string, bool>>{{"1", true}, {"0", false}, {"8", false}, {" 01", false}}) {
        std::ofstream(config.path(), std::ios::binary) << "[配置]\r\n优化保存=" + value + "\r\n";
        Shell shell(config, window, grabber, exports);
        ASSERT_TRUE(shell.StartUp());
        EXPECT_EQ(shell.menus().GetMenuState(menu_id::optimize_size), checked ? kMenuChecked : kMenuUnchecked) << value;
        EXPECT_EQ(shell.export_optimization().enabled, checked) << value;
        EXPECT_EQ(shell.menus().GetMenuState(menu_id::full_screen), kMenuUnchecked) << value;
    }
}

TEST_F(ShellTest, EveryWayToSaveWritesTheOptimizedGifWhileOptimizeSizeIsChecked) {
    MovingSquareGrabber pictures;
    SaveTo saves;
    Shell shell(config, window, pictures, saves);
    ASSERT_TRUE(shell.StartUp());
    shell.ToolbarClick(button::record);
    for (int i = 1; i <= 3; ++i) {
        pictures.screen = i;
        shell.RecordTick();
    }
    shell.ToolbarClick(button::record);
    ASSERT_EQ(shell.session().store().count(), 3);

    // What the maker writes from these frames in either mode, made here without the shell; the
    // plain GIFs by a maker never told of the mode, as before it was there.
    const auto made = [&](const Optimization& mode, review::ExportDirection direction) {
        GifMaker maker;
        if (mode.enabled) maker.SetOptimization(mode);
        saves.path = scratch.dir / "made.gif";
        EXPECT_EQ(review::ExportFrames(shell.session().store().Snapshot(), direction, maker, saves), 1);
        return file_bytes(saves.path);
    };
    const Optimization optimizing{true, Optimization::kDefaultQuality};
    const std::string plain = made({}, review::ExportDirection::forward);
    const std::string plain_reverse = made({}, review::ExportDirection::reverse);
    const std::string optimized = made(optimizing, review::ExportDirection::forward);
    const std::string optimized_reverse = made(optimizing, review::ExportDirection::reverse);
    ASSERT_LT(optimized.size(), plain.size()) << "the maker's optimizing mode writes a smaller GIF";

    const auto exported = [&](const std::function<void()>& save) {
        saves.path = scratch.dir / "exported.gif";
        std::filesystem::remove(saves.path);
        save();
        shell.exporter().Wait();
        EXPECT_EQ(shell.exporter().last_result(), 1);
        return file_bytes(saves.path);
    };
    EXPECT_TRUE(same_bytes(exported([&] { shell.MenuCommand(menu_id::save_forward); }), plain));
    shell.MenuCommand(menu_id::optimize_size);
    EXPECT_TRUE(same_bytes(exported([&] { shell.MenuCommand(menu_id::save_forward); }), optimized));
    EXPECT_TRUE(same_bytes(exported([&] { shell.MenuCommand(menu_id::save_reverse); }), optimized_reverse));
    EXPECT_TRUE(same_bytes(exported([&] { shell.ToolbarClick(button::save); }), optimized));
    // The preview window's 保存 and its popup's items come here.
    EXPECT_TRUE(same_bytes(exported([&] { shell.StartExport(review::ExportDirection::reverse); }), optimized_reverse));
    shell.MenuCommand(menu_id::optimize_size);
    EXPECT_TRUE(same_bytes(exported([&] { shell.StartExport(review::ExportDirection::forward); }), plain));
    EXPECT_TRUE(same_bytes(exported([&] { shell.MenuCommand(menu_id::save_reverse); }), plain_reverse));
}

TEST_F(ShellTest, ToolbarAndDropDownsDispatchByCaption) {
    Shell shell(config, window, grabber, exports);
    ASSERT_TRUE(shell.StartUp());
    shell.ToolbarDropDown(button::record);
    ASSERT_EQ(window.popup.size(), 12u);
    EXPECT_EQ(window.popup[0].label, "新建(&V)");
    shell.ToolbarDropDown(button::save);
    ASSERT_EQ(window.popup.size(), 5u);
    EXPECT_EQ(window.popup[1].id, 13);
    EXPECT_EQ(window.popup[3].id, 18);
    window.popup.clear();
    shell.ToolbarDropDown(button::clear);
    EXPECT_TRUE(window.popup.empty());

    shell.ToolbarClick(button::record);
    shell.RecordTick();
    shell.ToolbarClick(button::clear);  // 清空 during a recording
    EXPECT_EQ(window.buttons[0], "录制");
    EXPECT_EQ(window.caption, "当前帧数:0");
    EXPECT_EQ(window.calls.back(), "stop 1001");
    shell.ToolbarClick(button::preview);
    shell.ToolbarClick(button::edit);
    shell.MenuCommand(11);
    shell.MenuCommand(9);
    shell.MenuCommand(15);
    EXPECT_EQ(std::vector<std::string>(window.calls.end() - 5, window.calls.end()),
              (std::vector<std::string>{"preview", "editor", "about", "settings", "editor 15"}));

    EXPECT_TRUE(refuses_system_command(0xF030));
    EXPECT_TRUE(refuses_system_command(0xF032));
    // The low four bits are the system's: every maximize is one.
    EXPECT_TRUE(refuses_system_command(0xF03F));
    EXPECT_FALSE(refuses_system_command(0xF020));
    EXPECT_FALSE(refuses_system_command(0xF120));  // SC_RESTORE
    EXPECT_FALSE(refuses_system_command(0xF012));  // a move by the caption
    const platform::ScreenRect panel = capture_panel_layout(580, 380, 0, 40);
    EXPECT_EQ(panel.top, 40);
    EXPECT_EQ(panel.bottom - panel.top, 340);
    EXPECT_EQ(panel.right, 580);
}

TEST_F(ShellTest, AnEndingSessionStoresTheGeometryAndKeepsTheRecordingAndItsSpillFile) {
    config.WriteKey(keys::storage.name, 0);  // the frames go to the spill file
    Shell shell(config, window, grabber, exports);
    ASSERT_TRUE(shell.StartUp());
    shell.ToolbarClick(button::record);
    shell.RecordTick();
    shell.RecordTick();
    const capture::FrameStore& store = shell.session().store();
    const std::int32_t frames = store.count();
    ASSERT_GT(frames, 0);
    const auto spill = store.DiskFrames().path();
    const auto spilled = std::filesystem::file_size(spill);
    ASSERT_GT(spilled, 0u);

    window.rect = {30, 40, 530, 420};
    shell.SessionEnding();
    EXPECT_EQ(config.ReadKey(keys::left), "30");
    EXPECT_EQ(config.ReadKey(keys::top), "40");
    EXPECT_EQ(config.ReadKey(keys::width), "500");
    EXPECT_EQ(config.ReadKey(keys::height), "380");
    // Whatever of the shut-down still runs, the recording stays, whole, for the next start.
    shell.ShutDown();
    ASSERT_TRUE(std::filesystem::exists(spill));
    EXPECT_GE(std::filesystem::file_size(spill), spilled);
    const auto left = capture::journal::find_left_recordings(spill.parent_path());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].frames, static_cast<std::size_t>(frames));
    std::filesystem::remove(spill);
}

TEST_F(ShellTest, MinimisedAndMaximisedWindowsStoreTheRectangleTheyComeBackTo) {
    Shell shell(config, window, grabber, exports);
    ASSERT_TRUE(shell.StartUp());
    const auto stored = [this] {
        return std::vector<std::string>{config.ReadKey(keys::left), config.ReadKey(keys::top),
                                        config.ReadKey(keys::width), config.ReadKey(keys::height)};
    };
    const std::vector<std::string> normal{"120", "90", "500", "360"};
    window.normal = {120, 90, 620, 450};

    // A full-screen recording minimised the window, which is closed from the task bar.
    window.show = review::WindowShow::minimized;
    window.rect = {-32000, -32000, -31840, -31972};
    EXPECT_EQ(shell.FrameWindowRect().left, 120);
    shell.SessionEnding();
    EXPECT_EQ(stored(), normal);
    // Maximised, it is larger than the screen by its borders.
    config.WriteKey(keys::width.name, 0);
    window.show = review::WindowShow::maximized;
    window.rect = {-8, -8, 1288, 992};
    shell.ShutDown();
    EXPECT_EQ(stored(), normal);
    // Shown normally, its own rectangle counts.
    window.show = review::WindowShow::normal;
    window.rect = {10, 20, 410, 320};
    shell.ShutDown();
    EXPECT_EQ(stored(), (std::vector<std::string>{"10", "20", "400", "300"}));
}

TEST_F(ShellTest, AStoredPlaceOnNoMonitorComesBackOntoTheNearestOne) {
    struct Case {
        int left, top;
        std::vector<int> placed;
    };
    for (const Case& c : std::vector<Case>{
             {5000, 200, {800, 200, 1280, 540}},    // right of the screen: a monitor since unplugged
             {300, 2000, {300, 644, 780, 984}},     // below it, past the work area's foot
             {1000, 900, {1000, 900, 1480, 1240}},  // partly on the screen, as the user may leave it
         }) {
        config.WriteKey(keys::left.name, c.left);
        config.WriteKey(keys::top.name, c.top);
        Shell shell(config, window, grabber, exports);
        ASSERT_TRUE(shell.StartUp());
        const platform::ScreenRect& r = window.rect;
        EXPECT_EQ((std::vector<int>{r.left, r.top, r.right, r.bottom}), c.placed) << c.left << ", " << c.top;
    }
}

TEST_F(ShellTest, ARecordingsWarningsShowOnceEachWhenItStopsAndNotInTheCaption) {
    ShortOfMemoryGrabber short_of_memory;
    short_of_memory.failing = {2, 3, 5};
    Shell shell(config, window, short_of_memory, exports);
    ASSERT_TRUE(shell.StartUp());
    const std::string out_of_memory = std::string("warning ") + capture::kOutOfMemoryText;
    const auto warnings = [&] { return std::count(window.calls.begin(), window.calls.end(), out_of_memory); };
    shell.ToolbarClick(button::record);
    for (int i = 0; i < 4; ++i) shell.RecordTick();
    EXPECT_EQ(warnings(), 0) << "nothing in the way while the recording runs";
    EXPECT_EQ(window.caption, "当前帧数:2  延时:20");
    shell.ToolbarClick(button::record);
    EXPECT_EQ(warnings(), 1);
    // The next recording warns of its own trouble; 清空 ends it too.
    shell.ToolbarClick(button::record);
    shell.RecordTick();
    EXPECT_EQ(warnings(), 1);
    shell.ToolbarClick(button::clear);
    EXPECT_EQ(warnings(), 2);
    // A recording that ends with the program shows nothing while the windows go.
    shell.ToolbarClick(button::record);
    short_of_memory.failing = {short_of_memory.grabs + 1};
    shell.RecordTick();
    shell.ShutDown();
    EXPECT_EQ(warnings(), 2);
}

TEST(FrameWindowDpi, TheCapturePanelKeepsItsPhysicalSizeAcrossADpiChange) {
    // The panel is the client area below the toolbar.
    const auto panel = [](const platform::ScreenRect& window, platform::ScreenSize frame, int toolbar) {
        return std::vector<int>{window.right - window.left - frame.width,
                                window.bottom - window.top - frame.height - toolbar};
    };
    // From a 150 % screen to a 100 % one: the system suggests 2/3 of the size, at the new place.
    DpiChange to_96;
    to_96.window = {100, 100, 700, 500};
    to_96.suggested = {1950, 80, 2350, 347};
    to_96.toolbar_before = 60;
    to_96.toolbar_after = 40;
    to_96.frame_before = {24, 47};
    to_96.frame_after = {16, 39};
    const platform::ScreenRect moved = frame_rect_after_dpi_change(to_96, std::nullopt);
    EXPECT_EQ(moved.left, 1950);
    EXPECT_EQ(moved.top, 80);
    EXPECT_EQ(panel(moved, to_96.frame_after, 40), panel(to_96.window, to_96.frame_before, 60));
    EXPECT_EQ(panel(moved, to_96.frame_after, 40), (std::vector<int>{576, 293}));

    // And back: the window is the size it had.
    DpiChange to_144 = to_96;
    std::swap(to_144.toolbar_before, to_144.toolbar_after);
    std::swap(to_144.frame_before, to_144.frame_after);
    to_144.window = moved;
    to_144.suggested = {100, 100, 100 + 888, 100 + 558};
    const platform::ScreenRect back = frame_rect_after_dpi_change(to_144, std::nullopt);
    EXPECT_EQ((std::vector<int>{back.left, back.top, back.right, back.bottom}), (std::vector<int>{100, 100, 700, 500}));

    // Put at its stored place on a monitor of another scale at start-up, the window keeps the
    // stored rectangle, measured there: the stored size does not change from start to start.
    const platform::ScreenRect stored{1950, 80, 2542, 452};
    const platform::ScreenRect placed = frame_rect_after_dpi_change(to_96, stored);
    EXPECT_EQ((std::vector<int>{placed.left, placed.top, placed.right, placed.bottom}),
              (std::vector<int>{1950, 80, 2542, 452}));
}

TEST_F(ShellTest, AnUnusableRateRefusesToRecord) {
    config.WriteKey(keys::rate_item.name, 99);
    Shell shell(config, window, grabber, exports);
    ASSERT_TRUE(shell.StartUp());
    EXPECT_EQ(shell.frame_rate(), 0);
    shell.ToolbarClick(button::record);
    EXPECT_EQ(window.buttons[0], "录制");
    ASSERT_FALSE(window.calls.empty());
    EXPECT_EQ(window.calls.back(), std::string("warning ") + capture::kBadFrameRateText);
}

#ifndef _WIN32
TEST_F(ShellTest, NoSpillFileMeansNoStart) {
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    setenv("TMPDIR", (scratch.dir / "missing").c_str(), 1);
    Shell shell(config, window, grabber, exports);
    EXPECT_FALSE(shell.StartUp());
    if (old)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
}
#endif

}  // namespace

// A frame window whose system holds some keys for other programs.
using Registered = std::map<int, std::pair<unsigned, unsigned>>;

struct HotkeyWindow : FakeWindow {
    Registered registered;  // id: modifiers, key
    std::vector<std::pair<unsigned, unsigned>> taken;
    bool RegisterHotkey(int id, unsigned modifiers, unsigned key) override {
        const std::pair<unsigned, unsigned> wanted{modifiers, key};
        if (std::find(taken.begin(), taken.end(), wanted) != taken.end()) return false;
        for (const auto& [other, held] : registered)
            if (held == wanted) return false;
        if (registered.count(id)) return false;  // the system refuses an id in use
        registered[id] = wanted;
        return true;
    }
    void UnregisterHotkey(int id) override { registered.erase(id); }
};

class ShellHotkeys : public ShellTest {
protected:
    HotkeyWindow keys_window;
};

TEST_F(ShellHotkeys, StartUpRegistersF8AndF7AndShutDownReleasesThem) {
    Shell shell(config, keys_window, grabber, exports);
    ASSERT_TRUE(shell.StartUp());
    EXPECT_EQ(keys_window.registered, (Registered{{1, {0u, 0x77u}}, {2, {0u, 0x76u}}}));
    EXPECT_EQ(shell.settings().hotkey_status(), "");
    shell.ShutDown();
    EXPECT_TRUE(keys_window.registered.empty());
}

TEST_F(ShellHotkeys, AStoredKeyHeldElsewhereIsReportedAndStaysStored) {
    config.WriteKey(keys::pause_hotkey.name, 0x0278);  // Ctrl+F9
    keys_window.taken.push_back({2u, 0x78u});
    Shell shell(config, keys_window, grabber, exports);
    ASSERT_TRUE(shell.StartUp());
    EXPECT_EQ(shell.settings().hotkey_status(), kHotkeyTakenText);
    EXPECT_EQ(keys_window.registered.count(2), 0u);
    EXPECT_EQ(keys_window.registered.count(1), 1u);
    EXPECT_EQ(config.ReadKey(keys::pause_hotkey), "632");
}

TEST_F(ShellHotkeys, TheRecordKeyActsAsTheButtonAndThePauseKeyPausesOnlyARecording) {
    Shell shell(config, keys_window, grabber, exports);
    ASSERT_TRUE(shell.StartUp());
    shell.HotkeyPressed(hotkey_id(HotkeyAction::pause_resume));  // nothing to pause
    EXPECT_FALSE(shell.session().paused());
    shell.HotkeyPressed(hotkey_id(HotkeyAction::record_stop));
    EXPECT_EQ(keys_window.buttons[0], "停止");
    EXPECT_TRUE(shell.session().recording());
    shell.RecordTick();
    shell.HotkeyPressed(hotkey_id(HotkeyAction::pause_resume));
    EXPECT_TRUE(shell.session().paused());
    EXPECT_EQ(keys_window.caption, "已暂停  当前帧数:1");
    EXPECT_EQ(keys_window.calls.back(), "stop 1001");
    shell.HotkeyPressed(hotkey_id(HotkeyAction::pause_resume));
    EXPECT_FALSE(shell.session().paused());
    EXPECT_EQ(keys_window.calls.back(), "start 1001 200");
    // Ids the recorder did not register (the system's own are negative) do nothing.
    shell.HotkeyPressed(-1);
    shell.HotkeyPressed(3);
    EXPECT_TRUE(shell.session().recording());
    shell.HotkeyPressed(hotkey_id(HotkeyAction::pause_resume));
    shell.HotkeyPressed(hotkey_id(HotkeyAction::record_stop));  // 停止 during a pause
    EXPECT_FALSE(shell.session().recording());
    EXPECT_FALSE(shell.session().paused());
    EXPECT_EQ(keys_window.buttons[0], "录制");
}

TEST_F(ShellHotkeys, ThePauseItemTogglesAndSaysWhatItWillDo) {
    Shell shell(config, keys_window, grabber, exports);
    ASSERT_TRUE(shell.StartUp());
    const auto pause_label = [&] {
        shell.ShowPopupMenu(Popup::record);
        return keys_window.popup.back().id == menu_id::pause_recording ? keys_window.popup.back().label : "";
    };
    EXPECT_EQ(pause_label(), "暂停录制");
    shell.ToolbarClick(button::record);
    shell.MenuCommand(menu_id::pause_recording);
    EXPECT_TRUE(shell.session().paused());
    EXPECT_EQ(pause_label(), "继续录制");
    shell.MenuCommand(menu_id::pause_recording);
    EXPECT_FALSE(shell.session().paused());
    EXPECT_EQ(pause_label(), "暂停录制");
}

TEST_F(ShellHotkeys, AKeyTypedReplacesTheOldOneOrIsRefusedAndDefaultsBringBackF8AndF7) {
    Shell shell(config, keys_window, grabber, exports);
    ASSERT_TRUE(shell.StartUp());
    Settings& settings = shell.settings();
    // Ctrl+Shift+F9: the field's flags are control 2 and shift 1, RegisterHotKey's 2 and 4.
    EXPECT_TRUE(settings.ChangeHotkey(HotkeyAction::record_stop, Hotkey{0x0378}, shell.settings_shell()));
    EXPECT_EQ(keys_window.registered.at(1), (std::pair<unsigned, unsigned>{6u, 0x78u}));
    EXPECT_EQ(config.ReadKey(keys::record_hotkey), "888");

    keys_window.taken.push_back({1u, 0x41u});  // Alt+A belongs to another program
    EXPECT_FALSE(settings.ChangeHotkey(HotkeyAction::pause_resume, Hotkey{0x0441}, shell.settings_shell()));
    EXPECT_EQ(settings.hotkey_status(), kHotkeyTakenText);
    EXPECT_EQ(settings.hotkey(HotkeyAction::pause_resume), Hotkey{0x76});
    EXPECT_EQ(keys_window.registered.at(2), (std::pair<unsigned, unsigned>{0u, 0x76u})) << "F7 stays in force";
    EXPECT_EQ(config.ReadKey(keys::pause_hotkey), "118");

    // The record key itself is held by this program: the pause key cannot take it either.
    EXPECT_FALSE(settings.ChangeHotkey(HotkeyAction::pause_resume, Hotkey{0x0378}, shell.settings_shell()));
    EXPECT_EQ(keys_window.registered.at(2), (std::pair<unsigned, unsigned>{0u, 0x76u}));

    // A cleared field is no key, and a success clears the note.
    EXPECT_TRUE(settings.ChangeHotkey(HotkeyAction::pause_resume, Hotkey{}, shell.settings_shell()));
    EXPECT_EQ(keys_window.registered.count(2), 0u);
    EXPECT_EQ(settings.hotkey_status(), "");
    EXPECT_EQ(config.ReadKey(keys::pause_hotkey), "0");

    settings.ClickDefaults(shell.settings_shell());
    EXPECT_EQ(keys_window.registered, (Registered{{1, {0u, 0x77u}}, {2, {0u, 0x76u}}}));
    EXPECT_EQ(config.ReadKey(keys::record_hotkey), "119");
    EXPECT_EQ(config.ReadKey(keys::pause_hotkey), "118");

    // Stored keys come back at the next start.
    EXPECT_TRUE(settings.ChangeHotkey(HotkeyAction::record_stop, Hotkey{0x79}, shell.settings_shell()));
    shell.ShutDown();
    HotkeyWindow next;
    Shell again(config, next, grabber, exports);
    ASSERT_TRUE(again.StartUp());
    EXPECT_EQ(next.registered.at(1), (std::pair<unsigned, unsigned>{0u, 0x79u}));
}

TEST_F(ShellHotkeys, TheCountdownShowsEachSecondThenRecordsAndStopCancelsIt) {
    config.WriteKey(keys::countdown.name, 3);
    Shell shell(config, keys_window, grabber, exports);
    ASSERT_TRUE(shell.StartUp());
    EXPECT_EQ(shell.settings().countdown_seconds(), 3);
    keys_window.calls.clear();
    shell.ToolbarClick(button::record);
    EXPECT_EQ(keys_window.caption, "3");
    EXPECT_EQ(keys_window.buttons[0], "停止");
    EXPECT_FALSE(shell.session().recording());
    EXPECT_EQ(keys_window.calls, (std::vector<std::string>{"start 1002 1000"}));
    shell.HotkeyPressed(hotkey_id(HotkeyAction::pause_resume));  // nothing to pause yet
    shell.CountdownTick();
    EXPECT_EQ(keys_window.caption, "2");
    shell.CountdownTick();
    EXPECT_EQ(keys_window.caption, "1");
    EXPECT_FALSE(shell.session().recording());
    shell.CountdownTick();
    EXPECT_TRUE(shell.session().recording());
    EXPECT_FALSE(shell.counting_down());
    EXPECT_EQ(std::vector<std::string>(keys_window.calls.end() - 2, keys_window.calls.end()),
              (std::vector<std::string>{"stop 1002", "start 1001 200"}));
    shell.RecordTick();
    shell.ToolbarClick(button::record);
    EXPECT_FALSE(shell.session().recording());
    ASSERT_EQ(shell.session().store().count(), 1u);

    // 停止 during the countdown: no recording, the caption and button as before it.
    shell.ToolbarClick(button::record);
    shell.CountdownTick();
    EXPECT_EQ(keys_window.caption, "2");
    shell.ToolbarClick(button::record);
    EXPECT_EQ(keys_window.calls.back(), "stop 1002");
    EXPECT_EQ(keys_window.buttons[0], "录制");
    EXPECT_EQ(keys_window.caption, "当前帧数:1");
    shell.CountdownTick();  // a tick queued before the cancel
    shell.CountdownTick();
    shell.CountdownTick();
    EXPECT_FALSE(shell.session().recording());
    EXPECT_EQ(keys_window.buttons[0], "录制");

    // Without frames the caption goes back to the window's name; so does 新建 during a countdown.
    shell.MenuCommand(menu_id::new_recording);
    shell.ToolbarClick(button::record);
    shell.MenuCommand(menu_id::new_recording);
    EXPECT_FALSE(shell.counting_down());
    EXPECT_EQ(keys_window.buttons[0], "录制");
}

// Records whether the session asked where the pointer is, which it does only to draw a ring.
struct PointerGrabber : StillGrabber {
    int asked = 0;
    bool Pointer(platform::PointerState& out) override {
        ++asked;
        out = {10, 10, true, false};
        return true;
    }
};

TEST_F(ShellHotkeys, ShowClicksIsStoredAtOnceAndDrawsTheRingFromTheNextGrab) {
    PointerGrabber pointer;
    Shell shell(config, keys_window, pointer, exports);
    ASSERT_TRUE(shell.StartUp());
    shell.ToolbarClick(button::record);
    shell.RecordTick();
    EXPECT_EQ(pointer.asked, 0);
    shell.settings().ClickShowClicks(true);
    EXPECT_EQ(config.ReadKey(keys::show_clicks), "1");
    shell.RecordTick();
    EXPECT_EQ(pointer.asked, 1);
    shell.settings().ClickShowClicks(false);
    EXPECT_EQ(config.ReadKey(keys::show_clicks), "0");
    shell.RecordTick();
    EXPECT_EQ(pointer.asked, 1);
}

TEST(Hotkeys, TheStoredNumberIsTheFieldsKeyWithItsModifiers) {
    const Hotkey ctrl_alt_shift_ext_a{0x0F41};
    EXPECT_EQ(ctrl_alt_shift_ext_a.virtual_key(), 0x41);
    // Alt 1, control 2, shift 4 for RegisterHotKey; the field's "extended" bit is no modifier.
    EXPECT_EQ(ctrl_alt_shift_ext_a.register_modifiers(), 7u);
    EXPECT_EQ(Hotkey{0x0141}.register_modifiers(), 4u);
    EXPECT_EQ(Hotkey{0x0241}.register_modifiers(), 2u);
    EXPECT_EQ(Hotkey{0x0441}.register_modifiers(), 1u);
    EXPECT_EQ(Hotkey{0x0841}.register_modifiers(), 0u);
    EXPECT_TRUE(Hotkey{0x0200}.empty());

    EXPECT_EQ(decode_hotkey("119", HotkeyAction::pause_resume), Hotkey{0x77});
    EXPECT_EQ(decode_hotkey("0", HotkeyAction::record_stop), Hotkey{});
    EXPECT_EQ(decode_hotkey("4095", HotkeyAction::record_stop), Hotkey{0x0FFF});
    // What no field could hold reads as the action's default.
    for (const char* text : {"", "abc", "-1", "4096", "70000", "12x", " 5"}) {
        EXPECT_EQ(decode_hotkey(text, HotkeyAction::record_stop), Hotkey{0x77}) << text;
        EXPECT_EQ(decode_hotkey(text, HotkeyAction::pause_resume), Hotkey{0x76}) << text;
    }
    EXPECT_EQ(hotkey_action(1), HotkeyAction::record_stop);
    EXPECT_EQ(hotkey_action(2), HotkeyAction::pause_resume);
    EXPECT_EQ(hotkey_action(0), std::nullopt);
    EXPECT_EQ(hotkey_action(3), std::nullopt);
    EXPECT_EQ(hotkey_action(-2), std::nullopt);  // IDHOT_SNAPDESKTOP
}

TEST(Hotkeys, OnlyTheOfferedCountdownsAreTaken) {
    EXPECT_EQ(decode_countdown("0"), 0);
    EXPECT_EQ(decode_countdown("3"), 3);
    EXPECT_EQ(decode_countdown("5"), 5);
    for (const char* text : {"4", "-3", "10", "", "3s"}) EXPECT_EQ(decode_countdown(text), 0) << text;
    Countdown countdown;
    EXPECT_FALSE(countdown.running());
    EXPECT_EQ(countdown.Start(5), "5");
    std::string caption;
    for (const char* expected : {"4", "3", "2", "1"}) {
        ASSERT_EQ(countdown.Tick(caption), Countdown::Step::shows);
        EXPECT_EQ(caption, expected);
    }
    EXPECT_EQ(countdown.Tick(caption), Countdown::Step::start_recording);
    EXPECT_FALSE(countdown.running());
    EXPECT_EQ(pause_item_label(false), "暂停录制");
    EXPECT_EQ(pause_item_label(true), "继续录制");
}
}  // namespace gifanim::app
