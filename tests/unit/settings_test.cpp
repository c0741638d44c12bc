// The live settings against a recording shell and a settings file in a scratch folder.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/config.h"
#include "app/settings.h"
#include "tests/unit/scratch_dir.h"

namespace gifanim::app {
namespace {

std::string get(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void put(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Writes down what it was asked, in order, with the settings file as it was at that moment.
struct FakeShell : SettingsShell {
    const ConfigFile* config = nullptr;
    Position position{-5, 77};
    mutable std::vector<std::string> calls;
    std::array<std::string, 4> labels;
    std::string file_when_relabelled;

    Position FrameWindowPosition() const override {
        calls.push_back("position");
        return position;
    }
    void RelabelRateItems(const std::array<std::string, 4>& new_labels) override {
        calls.push_back("relabel");
        labels = new_labels;
        file_when_relabelled = get(config->path());
    }
    void ResizeFrameWindow(int width, int height) override {
        calls.push_back("resize " + std::to_string(width) + "x" + std::to_string(height));
    }
    void HideSettingsWindow() override { calls.push_back("hide"); }
    void ApplyTransparency(std::uint32_t colour_key) override { calls.push_back("key " + std::to_string(colour_key)); }
};

class SettingsTest : public ::testing::Test {
protected:
    test::ScratchDir scratch{"gifanim-settings-"};
    std::filesystem::path path = scratch.dir / u8"gif配置.ini";
    ConfigFile config{path};
    Settings settings{config};
    FakeShell shell;

    SettingsTest() { shell.config = &settings.config(); }

    // The window as the shell creates it at start-up.
    void start_up() {
        settings.FillFromConfig();
        settings.ReadRecordCursorFlag();
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> all;
        for (SettingsEdit e : {SettingsEdit::rate1, SettingsEdit::rate2, SettingsEdit::rate3, SettingsEdit::rate4,
                               SettingsEdit::width, SettingsEdit::height, SettingsEdit::memory_mb})
            all.push_back(settings.text(e));
        return all;
    }
};

const std::vector<std::string> default_texts{"3", "5", "10", "15", "480", "340", "20"};

TEST_F(SettingsTest, FirstStartWithoutAFileThenStoreWritesEveryKeyInOrder) {
    start_up();
    EXPECT_EQ(texts(), default_texts);
    EXPECT_FALSE(settings.disk_storage());
    EXPECT_TRUE(settings.memory_box_enabled());
    EXPECT_TRUE(settings.click_through());
    EXPECT_EQ(settings.colour_key(), 0xFF00FFu);
    EXPECT_TRUE(settings.full_screen_hide());
    // The box shows unchecked while the cursor is recorded.
    EXPECT_FALSE(settings.checked(SettingsCheck::record_cursor));
    EXPECT_TRUE(settings.record_cursor());
    EXPECT_EQ(settings.memory_budget_bytes(), 20971520);
    EXPECT_FALSE(std::filesystem::exists(path)) << "filling reads only";

    settings.StoreAndApply(shell);
    // Each key is new to the file, so the lines are in the order of the writes.
    EXPECT_EQ(get(path),
              "[配置]\r\n宽度=480\r\n高度=340\r\n左边=-5\r\n顶边=77\r\n内存大小=20\r\n帧1=3\r\n帧2=5\r\n帧3=10\r\n"
              "帧4=15\r\n存储方式=1\r\n穿透=1\r\n录制鼠标=0\r\n全屏隐藏=1\r\n");
    EXPECT_EQ(shell.calls, (std::vector<std::string>{"position", "relabel", "resize 480x340", "hide"}));
    EXPECT_EQ(shell.file_when_relabelled, get(path)) << "every write comes before the shell is changed";
    EXPECT_EQ(shell.labels, (std::array<std::string, 4>{"3帧/s", "5帧/s", "10帧/s", "15帧/s"}));
    // The next start no longer records the cursor.
    settings.ReadRecordCursorFlag();
    EXPECT_FALSE(settings.record_cursor());
}

TEST_F(SettingsTest, TypedTextsAreLabelsAsTypedAndNumbersInTheFile) {
    start_up();
    settings.SetText(SettingsEdit::rate1, "12abc");
    settings.SetText(SettingsEdit::rate2, "8");
    settings.SetText(SettingsEdit::width, "640");
    settings.SetText(SettingsEdit::height, "４８０");  // full-width digits
    settings.SetText(SettingsEdit::memory_mb, "4096MB");
    EXPECT_EQ(settings.memory_mb(), 4096);
    EXPECT_EQ(settings.memory_budget_bytes(), 4294967296) << "does not wrap at 32 bits";

    settings.StoreAndApply(shell);
    EXPECT_EQ(shell.labels, (std::array<std::string, 4>{"12abc帧/s", "8帧/s", "10帧/s", "15帧/s"}));
    EXPECT_EQ(shell.calls, (std::vector<std::string>{"position", "relabel", "resize 640x480", "hide"}));
    EXPECT_EQ(config.ReadKey(keys::rate1), "12");
    EXPECT_EQ(config.ReadKey(keys::rate2), "8");
    EXPECT_EQ(config.ReadKey(keys::width), "640");
    EXPECT_EQ(config.ReadKey(keys::height), "480");
    EXPECT_EQ(config.ReadKey(keys::memory_mb), "4096");
    // The boxes keep what was typed for the next showing.
    EXPECT_EQ(settings.text(SettingsEdit::height), "４８０");
}

TEST_F(SettingsTest, StorageClicksWriteAtOnceAndToggleTheMemoryBox) {
    start_up();
    settings.ClickDiskStorage();
    EXPECT_TRUE(settings.disk_storage());
    EXPECT_FALSE(settings.memory_box_enabled());
    EXPECT_EQ(get(path), "[配置]\r\n存储方式=0\r\n") << "written before 确定, and nothing else";

    settings.ClickMemoryStorage();
    EXPECT_FALSE(settings.disk_storage());
    EXPECT_TRUE(settings.memory_box_enabled());
    EXPECT_EQ(get(path), "[配置]\r\n存储方式=1\r\n");

    // Set by the program: no handler, so no write and the box stays as it was.
    settings.SetDiskStorage(true);
    EXPECT_TRUE(settings.disk_storage());
    EXPECT_TRUE(settings.memory_box_enabled());
    EXPECT_EQ(config.ReadKey(keys::storage), "1");
    EXPECT_TRUE(shell.calls.empty());
}

TEST_F(SettingsTest, CheckboxClicksRunTheirOwnHandlersOnly) {
    start_up();
    settings.ClickClickThrough(false, shell);
    EXPECT_EQ(get(path), "[配置]\r\n穿透=0\r\n");
    settings.ClickClickThrough(true, shell);
    EXPECT_EQ(config.ReadKey(keys::click_through), "1");
    EXPECT_EQ(shell.calls, (std::vector<std::string>{"key 1", "key 16711935"}));

    std::filesystem::remove(path);
    settings.ClickRecordCursor(false);
    EXPECT_FALSE(settings.record_cursor());
    EXPECT_FALSE(settings.checked(SettingsCheck::record_cursor));
    settings.ClickRecordCursor(true);
    EXPECT_TRUE(settings.record_cursor());
    EXPECT_FALSE(std::filesystem::exists(path)) << "the cursor box writes nothing";

    // Set by the program: the flag and the colour key stay, nothing is written.
    settings.SetChecked(SettingsCheck::record_cursor, false);
    settings.SetChecked(SettingsCheck::click_through, false);
    EXPECT_TRUE(settings.record_cursor());
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(shell.calls.size(), 2u);
}

TEST_F(SettingsTest, FillsTextsAsReadThenDefaultsAndStoreLeaveTheLiveFlagsAlone) {
    const std::string saved =
        "[配置]\r\n宽度=６４０\r\n帧1=12abc\r\n内存大小=２０\r\n穿透=01\r\n录制鼠标=0\r\n存储方式=0\r\n"
        "全屏隐藏=0\r\n";
    put(path, saved);
    start_up();
    EXPECT_EQ(texts(), (std::vector<std::string>{"12abc", "5", "10", "15", "６４０", "340", "２０"}));
    EXPECT_EQ(settings.memory_mb(), 20);
    EXPECT_FALSE(settings.click_through()) << "01 is not 1";
    EXPECT_EQ(settings.colour_key(), 0x000001u);
    EXPECT_FALSE(settings.full_screen_hide());
    EXPECT_FALSE(settings.record_cursor());
    EXPECT_TRUE(settings.disk_storage());
    EXPECT_FALSE(settings.memory_box_enabled());

    settings.FillDefaults();
    EXPECT_EQ(get(path), saved) << "默认 writes nothing";
    EXPECT_EQ(texts(), default_texts);
    EXPECT_TRUE(settings.memory_box_enabled());
    EXPECT_FALSE(settings.disk_storage());
    for (SettingsCheck c :
         {SettingsCheck::record_cursor, SettingsCheck::full_screen_hide, SettingsCheck::click_through})
        EXPECT_TRUE(settings.checked(c));
    EXPECT_FALSE(settings.record_cursor()) << "no click handler ran";

    settings.StoreAndApply(shell);
    EXPECT_EQ(config.ReadKey(keys::click_through), "1");
    EXPECT_EQ(config.ReadKey(keys::record_cursor), "1");
    EXPECT_EQ(config.ReadKey(keys::storage), "1");
    EXPECT_FALSE(settings.record_cursor());
    EXPECT_EQ(shell.calls, (std::vector<std::string>{"position", "relabel", "resize 480x340", "hide"}))
        << "the colour key changes only with a click on its box";
}

}  // namespace
}  // namespace gifanim::app
