// One RecordingSession::CaptureTick of the whole screen, as `gifanim record` runs it on every timer
// tick: the grab, then either the JPEG encode and the store (a changing screen) or the comparison
// with the last grab and the merge (a still screen). Needs an X display of 1920x1080x24:
//   GIFANIM_XVFB_SCREEN=1920x1080x24 scripts/xvfb-run.sh build/linux-release/bench/tick_bench
// Real time is the tick's wall time, CPU time this process's; the X server's work for the grab
// (copying the screen into our shared memory) is not in it, so xserver_cpu_ms gives the X
// server's own CPU time per tick where it can be found (/proc, the Xvfb serving $DISPLAY).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "bench/screen_painter.h"
#include "capture/session.h"
#include "platform/screen.h"

namespace {

using namespace gifanim;

// What the recorder's frame window would answer: the whole screen, 15 frames a second, a memory
// budget no benchmark reaches, nothing on disk.
class BenchShell final : public capture::RecordingShell {
public:
    void SetCaption(const std::string&) override {}
    void SetRecordButtonCaption(const std::string&) override {}
    void RefreshToolbar() override {}
    void MinimizeFrameWindow() override {}
    void Warn(const std::string& gbk) override { warnings += gbk + "\n"; }
    void StartTimer(int, std::int32_t) override {}
    void StopTimer(int) override {}
    bool FullScreenChecked() const override { return true; }
    platform::ScreenRect CapturePanelRect() const override { return {}; }
    Size ScreenSize() const override {
        const platform::ScreenSize size = platform::screen_size();
        return {size.width, size.height};
    }
    std::int32_t FrameRate() const override { return 15; }
    std::int64_t MemoryBudgetBytes() const override { return std::int64_t{1} << 40; }
    bool DiskStorage() const override { return false; }
    bool FullScreenHide() const override { return false; }
    bool RecordCursor() const override { return false; }

    std::string warnings;
};

// The pid of the Xvfb whose first argument is $DISPLAY, or 0.
long find_x_server() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(entry.path() / "cmdline", std::ios::binary);
        std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::size_t end0 = cmdline.find('\0');
        if (end0 == std::string::npos) continue;
        const std::string argv0 = cmdline.substr(0, end0);
        const std::size_t end1 = cmdline.find('\0', end0 + 1);
        const std::string argv1 = cmdline.substr(end0 + 1, end1 == std::string::npos ? end1 : end1 - end0 - 1);
        if (argv0.size() >= 4 && argv0.compare(argv0.size() - 4, 4, "Xvfb") == 0 && argv1 == display) {
            return std::strtol(name.c_str(), nullptr, 10);
        }
    }
    return 0;
}

// The nanoseconds a process has run on a CPU (/proc/PID/schedstat), or -1.
long long run_time_ns(long pid) {
    if (pid <= 0) return -1;
    std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
    long long ns = -1;
    if (!(in >> ns)) return -1;
    return ns;
}

bench::ScreenPainter* painter() {
    static bench::ScreenPainter* p = [] {
        auto* made = new bench::ScreenPainter;
        std::string error;
        if (!made->open(error)) {
            std::fprintf(stderr, "tick_bench: %s\n", error.c_str());
            delete made;
            return static_cast<bench::ScreenPainter*>(nullptr);
        }
        return made;
    }();
    return p;
}

// With `journal` the spill file is made first, as the recorder makes it, so every tick also writes
// its frame or its longer delay there; without, nothing reaches the disk (the memory-only tick).
void capture_tick(benchmark::State& state, bool changing, bool journal) {
    bench::ScreenPainter* screen = painter();
    if (!screen || platform::screen_bits_per_pixel() == 0) {
        state.SkipWithError("no usable screen: run under scripts/xvfb-run.sh with GIFANIM_XVFB_SCREEN=1920x1080x24");
        return;
    }
    const long server = find_x_server();
    screen->reset();
    BenchShell shell;
    capture::ScreenGrabber grabber;
    capture::RecordingSession session(shell, grabber);
    if (journal && !session.OpenFrameStore()) {
        state.SkipWithError("no spill file could be made");
        return;
    }
    if (!session.StartRecording()) {
        state.SkipWithError("the recording did not start");
        return;
    }
    // The first frame, so that a still screen has a grab to match.
    session.CaptureTick();
    if (session.store().count() != 1 || session.store().LastFrame()->empty()) {
        state.SkipWithError("the first tick stored no frame");
        return;
    }
    const std::uint64_t unencoded_before = session.unencoded_ticks();
    std::uint64_t step = 0;
    long long server_ns = 0;
    bool server_known = server > 0;
    for (auto _ : state) {
        state.PauseTiming();
        // Frames of a changing screen pile up in memory; the store is emptied now and then.
        if (session.store().count() >= 200) session.ResetRecording();
        if (changing) screen->step(++step);
        const long long before = run_time_ns(server);
        state.ResumeTiming();
        session.CaptureTick();
        state.PauseTiming();
        const long long after = run_time_ns(server);
        if (before < 0 || after < 0) server_known = false;
        server_ns += after - before;
        state.ResumeTiming();
    }
    const std::uint64_t unencoded = session.unencoded_ticks() - unencoded_before;
    // Each tick must have done the work its name says, or the figures mean nothing.
    if (!shell.warnings.empty()) state.SkipWithError(("the session warned: " + shell.warnings).c_str());
    if (changing && unencoded != 0) state.SkipWithError("the screen did not change between some ticks");
    if (!changing && unencoded != static_cast<std::uint64_t>(state.iterations()))
        state.SkipWithError("a tick of the still screen was encoded");
    const platform::ScreenSize size = platform::screen_size();
    state.SetLabel(std::to_string(size.width) + "x" + std::to_string(size.height));
    state.counters["jpeg_kB"] = static_cast<double>(session.store().LastFrame()->size()) / 1000.0;
    if (server_known && state.iterations() > 0) {
        state.counters["xserver_cpu_ms"] =
            static_cast<double>(server_ns) / 1e6 / static_cast<double>(state.iterations());
    }
}

// A new picture before every tick (the change itself untimed): grab, JPEG, store. Argument 1:
// with the spill file.
void changing_screen(benchmark::State& state) {
    capture_tick(state, true, state.range(0) != 0);
}
// The same pixels as the last tick: grab, compare, merge.
void still_screen(benchmark::State& state) {
    capture_tick(state, false, state.range(0) != 0);
}

BENCHMARK(changing_screen)->ArgName("journal")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(still_screen)->ArgName("journal")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
