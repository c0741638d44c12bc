// The export options: what the dialog stores and reads back, how typing is checked, what each
// export is given, and the estimate made off the user-interface thread.
#include "app/export_options.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/export_estimate.h"
#include "gif/gif_reader.h"
#include "tests/unit/scratch_dir.h"
#include "tests/unit/test_images.h"

namespace gifanim::app {
namespace {

std::string read_text(const std::filesystem::path& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

class ExportOptionsTest : public ::testing::Test {
protected:
    test::ScratchDir scratch{"export-options-"};
    ConfigFile config{scratch.dir / "gif配置.ini"};
    bool ini_has(const std::string& line) const {
        return read_text(config.path()).find(line + "\r\n") != std::string::npos;
    }
    std::vector<std::string> texts(const ExportOptions& o) const {
        return {o.text(ExportOption::max_size_mb), o.text(ExportOption::scale_percent), o.text(ExportOption::speed),
                o.text(ExportOption::max_fps)};
    }
};

TEST_F(ExportOptionsTest, EachValueIsStoredAsItChangesAndReadBackAtTheNextStart) {
    ExportOptions options(config);
    options.FillFromConfig();
    EXPECT_EQ(texts(options), (std::vector<std::string>{"0", "100", "1", "0"}));
    EXPECT_TRUE(options.plan().plain());

    EXPECT_TRUE(options.SetText(ExportOption::scale_percent, "50"));
    EXPECT_TRUE(ini_has("缩放=50"));
    EXPECT_FALSE(ini_has("速度百分比=100")) << "only the value that changed is written";
    EXPECT_TRUE(options.SetText(ExportOption::speed, "2"));
    EXPECT_TRUE(options.SetText(ExportOption::max_fps, "10"));
    EXPECT_TRUE(options.SetText(ExportOption::max_size_mb, "5"));
    EXPECT_FALSE(options.SetText(ExportOption::max_size_mb, " 5 ")) << "the same value again asks for no estimate";
    for (const char* line : {"最大体积=5", "缩放=50", "速度百分比=200", "最高帧率=10"})
        EXPECT_TRUE(ini_has(line)) << line;

    ExportOptions restarted(config);
    restarted.FillFromConfig();
    EXPECT_EQ(texts(restarted), (std::vector<std::string>{"5", "50", "2", "10"}));
    const ExportPlan plan = restarted.plan();
    EXPECT_EQ(plan.shape.scale.kind, review::Scaling::Kind::percent);
    EXPECT_EQ(plan.shape.scale.percent, 50);
    EXPECT_EQ(plan.shape.speed, 2.0);
    EXPECT_EQ(plan.shape.max_fps, 10);
    EXPECT_FALSE(plan.shape.crop);
    EXPECT_EQ(plan.limit_bytes, 5'000'000u);

    // 默认: "no change", stored, and the plan is the plain export again.
    EXPECT_TRUE(restarted.RestoreDefaults());
    EXPECT_FALSE(restarted.RestoreDefaults());
    for (const char* line : {"最大体积=0", "缩放=100", "速度百分比=100", "最高帧率=0"})
        EXPECT_TRUE(ini_has(line)) << line;
    EXPECT_TRUE(restarted.plan().plain());
    EXPECT_EQ(restarted.plan().shape.scale.kind, review::Scaling::Kind::none);
}

TEST_F(ExportOptionsTest, TypingThatIsNoNumberIsRefusedAndOutOfRangeIsClampedAndSaidSo) {
    ExportOptions options(config);
    options.FillFromConfig();
    for (const char* bad : {"abc", "", "-3", "5%", "1.5"}) {
        EXPECT_FALSE(options.SetText(ExportOption::scale_percent, bad)) << bad;
        EXPECT_EQ(options.value(ExportOption::scale_percent), 100) << bad;
        EXPECT_NE(options.note(), "") << bad;
        EXPECT_EQ(options.text(ExportOption::scale_percent), bad) << "the box keeps what is typed in it";
    }
    EXPECT_FALSE(std::filesystem::exists(config.path())) << "nothing refused is written";

    EXPECT_TRUE(options.SetText(ExportOption::scale_percent, "99999999999999"));
    EXPECT_EQ(options.value(ExportOption::scale_percent), 400);
    EXPECT_NE(options.note().find("400"), std::string::npos) << options.note();
    EXPECT_TRUE(ini_has("缩放=400"));
    EXPECT_TRUE(options.SetText(ExportOption::max_fps, "60"));
    EXPECT_EQ(options.value(ExportOption::max_fps), 50);

    // Speeds take two decimals; the rest is rounded, the range is 0.1 to 10.
    EXPECT_TRUE(options.SetText(ExportOption::speed, "1.5"));
    EXPECT_EQ(options.note(), "");
    EXPECT_TRUE(ini_has("速度百分比=150"));
    EXPECT_TRUE(options.SetText(ExportOption::speed, ".255"));
    EXPECT_EQ(options.value(ExportOption::speed), 26);
    EXPECT_TRUE(options.SetText(ExportOption::speed, "0.01"));
    EXPECT_EQ(options.value(ExportOption::speed), 10);
    EXPECT_NE(options.note(), "");
    options.ShowValues();
    EXPECT_EQ(options.text(ExportOption::speed), "0.1");
    EXPECT_EQ(options.note(), "");
    for (const char* bad : {".", "1..5", "1,5", "x2"}) EXPECT_FALSE(options.SetText(ExportOption::speed, bad)) << bad;
    EXPECT_EQ(options.value(ExportOption::speed), 10);

    // A file edited by hand: what is no number is the default, the rest is brought into range.
    std::ofstream(config.path(), std::ios::binary)
        << "[配置]\r\n缩放=abc\r\n最高帧率=999\r\n速度百分比=1\r\n最大体积=-4\r\n";
    ExportOptions edited(config);
    edited.FillFromConfig();
    EXPECT_EQ(texts(edited), (std::vector<std::string>{"0", "100", "0.1", "50"}));
}

TEST(EstimateText, OneDecimalOfMillionsOfBytesAndADashWithoutAnEstimate) {
    EXPECT_EQ(estimate_text(3'249'999, 0), "预计大小:3.2MB");
    EXPECT_EQ(estimate_text(3'250'001, 0), "预计大小:3.3MB");
    EXPECT_EQ(estimate_text(std::nullopt, 0), "预计大小:-");
    EXPECT_EQ(estimate_text(900'000, 1'000'000), "预计大小:0.9MB");
    EXPECT_NE(estimate_text(1'200'000, 1'000'000), "预计大小:1.2MB") << "above the limit the text says so";
}

// The export each plan gets, through a fake dialog and box.
struct RecordingUi : review::ExportShell {
    std::filesystem::path answer;
    std::vector<std::string> boxes;
    std::filesystem::path AskSavePath() override { return answer; }
    void ShowProgressWindow() override {}
    void HideProgressWindow() override {}
    void EnableFrameWindow(bool) override {}
    std::int32_t ProgressMaximum() override { return 100; }
    void SetProgress(std::int32_t) override {}
    void SetFrameWindowCaption(const std::string&) override {}
    void ShowMessage(const std::string& text, const std::string&, int) override { boxes.push_back(text); }
};

TEST_F(ExportOptionsTest, NoChangeWritesThePlainExportAndOptionsShapeEveryExport) {
    capture::FrameStore store;
    ASSERT_TRUE(store.Open(scratch.dir));
    store.set_capture_rect({0, 0, 64, 32});
    for (int i = 0; i < 6; ++i) {
        FrameInfo info;
        info.DelayTime = 20;
        info.Width = 64;
        info.Depth = 32;
        info.DisposalMethod = 3;
        store.Append(std::make_shared<const std::vector<std::uint8_t>>(test::make_bmp(
                         64, 32,
                         [i](int x, int y) {
                             return x / 8 == i ? test::Rgb{250, 30, 30} : test::screen_like_pixel(x, y, 1);
                         })),
                     info, false);
    }
    const capture::FrameStoreSnapshot frames = store.Snapshot();
    const auto run = [&](const ExportPlan& plan, const std::string& name) {
        RecordingUi ui;
        ui.answer = scratch.dir / name;
        GifMaker maker;
        const int result = export_job(plan, review::ExportDirection::forward, {})(frames, maker, ui);
        EXPECT_EQ(ui.boxes.size(), 1u);
        return result == 1 ? read_text(ui.answer) : std::string();
    };
    ExportOptions options(config);
    options.FillFromConfig();
    {
        RecordingUi ui;
        ui.answer = scratch.dir / "direct.gif";
        GifMaker maker;
        ASSERT_EQ(review::ExportFrames(frames, review::ExportDirection::forward, maker, ui), 1);
    }
    const std::string plain = run(options.plan(), "plain.gif");
    ASSERT_FALSE(plain.empty());
    EXPECT_TRUE(plain == read_text(scratch.dir / "direct.gif")) << "no change is ExportFrames, byte for byte";

    options.SetText(ExportOption::scale_percent, "50");
    options.SetText(ExportOption::speed, "2");
    ASSERT_FALSE(run(options.plan(), "shaped.gif").empty());
    GifReader reader;
    ASSERT_TRUE(reader.Create());
    ASSERT_TRUE(reader.LoadGif(scratch.dir / "shaped.gif"));
    EXPECT_EQ(reader.GetGifInfo().Width, 32);
    EXPECT_EQ(reader.GetGifInfo().Depth, 16);
    int total = 0;
    for (int f = 1; f <= reader.FrameCount(); ++f) total += reader.GetFrameInfo(f).DelayTime;
    EXPECT_EQ(total, 60) << "6 frames of 20 at twice the speed";

    // A limit: the file written is under it.
    options.SetText(ExportOption::max_size_mb, "1");
    const std::string fitted = run(options.plan(), "fitted.gif");
    EXPECT_GT(fitted.size(), 0u);
    EXPECT_LE(fitted.size(), 1'000'000u);
}

TEST(SizeEstimator, TheNewestRequestSupersedesTheOlderOnesAndDropForgetsThem) {
    std::mutex mutex;
    std::condition_variable cv;
    bool computing = false, release = false;
    std::vector<int> computed;  // the max_fps of each request estimated, as its mark
    std::atomic<int> ready{0};
    SizeEstimator estimator([&] { ++ready; },
                            [&](const EstimateRequest& r) -> std::uint64_t {
                                std::unique_lock lock(mutex);
                                computed.push_back(r.shape.max_fps);
                                computing = true;
                                cv.notify_all();
                                cv.wait(lock, [&] { return release; });
                                return static_cast<std::uint64_t>(r.shape.max_fps) * 1000;
                            });
    const auto request = [](int mark) {
        EstimateRequest r;
        r.shape.max_fps = mark;
        return r;
    };
    estimator.Ask(request(1));
    {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return computing; });
    }
    // While 1 is being estimated, 2 and then 3 come: 2 is never estimated, 1's result never shown.
    estimator.Ask(request(2));
    estimator.Ask(request(3));
    EXPECT_FALSE(estimator.Latest());
    {
        std::lock_guard lock(mutex);
        release = true;
        cv.notify_all();
    }
    for (int i = 0; i < 500 && ready.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(ready.load(), 1);
    ASSERT_TRUE(estimator.Latest());
    EXPECT_EQ(estimator.Latest()->bytes, 3000u);
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(computed, (std::vector<int>{1, 3}));
    }
    estimator.Drop();
    EXPECT_FALSE(estimator.Latest()) << "no frames: the last estimate is not shown for them";
}

TEST(EstimateRequest, NoFramesAskNoEstimate) {
    capture::FrameStore store;
    EXPECT_FALSE(estimate_request(store, {}, {}));
}

}  // namespace
}  // namespace gifanim::app
