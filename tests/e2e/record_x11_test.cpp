// gifanim record on a real X server (the Xvfb of scripts/xvfb-run.sh): this program paints a
// window with a known sequence of colours while several recordings of it run as child processes,
// and giflib judges what they wrote.
// GoogleTest first: Xlib defines None and Bool as macros.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xutil.h>
// clang-format on

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "tests/unit/gif_oracle.h"
#include "tests/unit/scratch_dir.h"

extern char** environ;

namespace gifanim::test {
namespace {

namespace fs = std::filesystem;

// Milliseconds on the monotonic clock.
long now_ms() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

struct Rgb {
    int r, g, b;
};
constexpr Rgb kShow[6] = {{220, 30, 30}, {30, 200, 60}, {40, 60, 220}, {240, 220, 40}, {200, 40, 200}, {40, 210, 210}};
constexpr int kHoldMs = 600;
constexpr int kTolerance = 24;  // JPEG and palette error, per channel

// An override-redirect window at a known place: a solid band on top whose colour the test sets,
// and noise below it, which makes the JPEG of the whole window a few hundred kB.
class ShowWindow {
public:
    static constexpr int kLeft = 100, kTop = 80, kWidth = 1000, kHeight = 800, kBand = 150;

    explicit ShowWindow(Display* d) : d_(d) {
        const int s = DefaultScreen(d);
        XSetWindowAttributes a{};
        a.override_redirect = True;
        window_ = XCreateWindow(d, RootWindow(d, s), kLeft, kTop, kWidth, kHeight, 0, CopyFromParent, InputOutput,
                                CopyFromParent, CWOverrideRedirect, &a);
        band_ = XCreateSimpleWindow(d, window_, 0, 0, kWidth, kBand, 0, 0, pixel(kShow[0]));
        const Pixmap noise = XCreatePixmap(d, window_, kWidth, kHeight - kBand, 24);
        XImage* image = XCreateImage(d, DefaultVisual(d, s), 24, ZPixmap, 0, nullptr, kWidth, kHeight - kBand, 32, 0);
        image->data = static_cast<char*>(std::malloc(static_cast<std::size_t>(image->bytes_per_line) * image->height));
        std::mt19937 random(7);
        for (int i = 0; i < image->bytes_per_line * image->height; ++i) image->data[i] = static_cast<char>(random());
        XPutImage(d, noise, DefaultGC(d, s), image, 0, 0, 0, 0, kWidth, kHeight - kBand);
        XDestroyImage(image);
        const Window below = XCreateSimpleWindow(d, window_, 0, kBand, kWidth, kHeight - kBand, 0, 0, 0);
        XSetWindowBackgroundPixmap(d, below, noise);
        XFreePixmap(d, noise);
        // No window manager can redirect the map: once the server has it, the window is painted.
        XMapSubwindows(d, window_);
        XMapWindow(d, window_);
        XSync(d, False);
    }
    ~ShowWindow() {
        XDestroyWindow(d_, window_);
        XSync(d_, False);
    }
    // One ClearArea request: the server runs it whole, so no grab sees half a repaint.
    void show(const Rgb& c) {
        XSetWindowBackground(d_, band_, pixel(c));
        XClearWindow(d_, band_);
        XSync(d_, False);
    }

private:
    // The test's 24-bit screens are TrueColor, red in the high byte.
    static unsigned long pixel(const Rgb& c) { return static_cast<unsigned long>(c.r << 16 | c.g << 8 | c.b); }
    Display* d_;
    Window window_ = 0, band_ = 0;
};

std::string read_text(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// One run of the tool, with a TMPDIR of its own that holds nothing but its spill file, and its
// output and standard streams next to that folder.
struct Child {
    fs::path dir, tmp, out;
    pid_t pid = -1;
    int status = -1;
    std::intmax_t spill_seen = -1;  // the largest the spill file was seen; -1 while never seen
    std::string stdout_text, stderr_text;

    Child(const fs::path& scratch, const std::string& name)
        : dir(scratch / name), tmp(dir / "tmp"), out(dir / "out.gif") {
        fs::create_directories(tmp);
    }
    void start(std::vector<std::string> args, bool with_display = true, const char* command = "record") {
        args.insert(args.begin(), {GIFANIM_TOOL, command});
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> env{"TMPDIR=" + tmp.string()};
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "TMPDIR=", 7) != 0 && (with_display || std::strncmp(*e, "DISPLAY=", 8) != 0))
                env.emplace_back(*e);
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&files, 1, (dir / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&files, 2, (dir / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_EQ(posix_spawn(&pid, GIFANIM_TOOL, &files, nullptr, argv.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&files);
    }
    // Notes the spill file's size; true once it has been seen.
    bool watch() {
        std::intmax_t bytes = -1;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(tmp, ec))
            bytes = std::max<std::intmax_t>(bytes, 0) + static_cast<std::intmax_t>(entry.file_size(ec));
        spill_seen = std::max(spill_seen, bytes);
        return spill_seen >= 0;
    }
    void finish() {
        if (pid > 0) waitpid(pid, &status, 0);
        pid = -1;
        stdout_text = read_text(dir / "stdout");
        stderr_text = read_text(dir / "stderr");
    }
    ~Child() {
        // A test that failed half way leaves no recording running.
        if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
    }
    int exit_code() const { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }
    bool tmp_empty() const { return fs::is_empty(tmp); }
};

// Sleeps for `ms` while watching the runs' spill files.
void watch_for(int ms, std::vector<Child*> runs) {
    const long end = now_ms() + ms;
    do {
        for (Child* r : runs) r->watch();
        usleep(5000);
    } while (now_ms() < end);
}

// The index of the show colour of the recorded band, each of whose pixels must be within the
// tolerance of it; -1 when there is none.
int band_colour(const OracleGif& gif, const OracleFrame& f, int band_rows) {
    const std::vector<std::uint8_t>& palette = f.local_palette.empty() ? gif.global_palette : f.local_palette;
    auto rgb = [&](int x, int y) {
        const std::size_t i = 3u * f.pixels[static_cast<std::size_t>(y) * f.width + x];
        return Rgb{palette.at(i), palette.at(i + 1), palette.at(i + 2)};
    };
    auto near = [](Rgb a, Rgb b) {
        return std::abs(a.r - b.r) <= kTolerance && std::abs(a.g - b.g) <= kTolerance &&
               std::abs(a.b - b.b) <= kTolerance;
    };
    for (int c = 0; c < 6; ++c) {
        bool all = true;
        for (int y = 0; y < band_rows && all; ++y)
            for (int x = 0; x < f.width && all; ++x) all = near(rgb(x, y), kShow[c]);
        if (all) return c;
    }
    return -1;
}

// What the judge learns of one recording: the band colours of its frames, in file order.
struct Judged {
    std::vector<int> colours;
    std::vector<int> delays;
    long grabs = 0, collapsed = 0;
};

// The GIF's form, and the final line agreeing with it.
Judged judge(const Child& run, int width, int height, int band_rows) {
    Judged j;
    EXPECT_EQ(run.exit_code(), 0) << run.stderr_text;
    const OracleGif gif = oracle_decode(run.out);
    EXPECT_EQ(gif.width, width);
    EXPECT_EQ(gif.height, height);
    EXPECT_TRUE(gif.has_loop && gif.loop_count == 0);
    int total = 0;
    for (const OracleFrame& f : gif.frames) {
        EXPECT_TRUE(f.interlaced && f.has_control && f.disposal == 3);
        EXPECT_EQ(f.width * f.height, width * height);
        // Each grab adds trunc(100 / 10) hundredths: merges give multiples of it.
        EXPECT_TRUE(f.delay > 0 && f.delay % 10 == 0) << f.delay;
        j.colours.push_back(band_colour(gif, f, band_rows));
        j.delays.push_back(f.delay);
        total += f.delay;
    }
    const std::string head = run.out.string() + ": ";
    unsigned long frames = 0, bytes = 0;
    double seconds = 0;
    int cpu = 0, end = 0;
    if (run.stdout_text.rfind(head, 0) != 0 ||
        std::sscanf(run.stdout_text.c_str() + head.size(),
                    "%lu frames, %lf s, %lu bytes (%ld grabs, %ld collapsed, CPU %d%%)\n%n", &frames, &seconds, &bytes,
                    &j.grabs, &j.collapsed, &cpu, &end) != 6 ||
        head.size() + static_cast<std::size_t>(end) != run.stdout_text.size()) {
        ADD_FAILURE() << "final line: " << run.stdout_text;
        return j;
    }
    EXPECT_EQ(frames, gif.frames.size());
    EXPECT_EQ(std::lround(seconds * 100), total);
    EXPECT_EQ(bytes, fs::file_size(run.out));
    EXPECT_EQ(total, 10 * j.grabs) << "every grab lengthens the GIF by one tick";
    return j;
}

class RecordTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Without a screen this is a failure, never a skip: CI runs these under Xvfb.
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "no DISPLAY: run under scripts/xvfb-run.sh";
        display_ = XOpenDisplay(nullptr);
        ASSERT_NE(display_, nullptr) << "cannot open DISPLAY " << std::getenv("DISPLAY");
        ASSERT_EQ(DefaultDepth(display_, DefaultScreen(display_)), 24);
        ASSERT_EQ(DefaultVisual(display_, DefaultScreen(display_))->red_mask, 0xFF0000u);
    }
    void TearDown() override {
        if (display_) XCloseDisplay(display_);
    }
    Display* display_ = nullptr;
    ScratchDir scratch_{"gifanim-record-"};
};

std::string rect_arg(int l, int t, int r, int b) {
    return std::to_string(l) + "," + std::to_string(t) + "," + std::to_string(r) + "," + std::to_string(b);
}

// Five recordings of one colour show at once: a part of the band forwards, backwards, and stopped
// by SIGTERM halfway; the whole window on disk and split between memory and disk.
TEST_F(RecordTest, RecordingsFollowTheColourShow) {
    ShowWindow window(display_);
    using W = ShowWindow;
    const std::string band = rect_arg(W::kLeft + 50, W::kTop + 20, W::kLeft + 250, W::kTop + 120);
    const std::string whole = rect_arg(W::kLeft, W::kTop, W::kLeft + W::kWidth, W::kTop + W::kHeight);
    Child forward(scratch_.dir, "forward"), reverse(scratch_.dir, "reverse"), stopped(scratch_.dir, "stopped"),
        disk(scratch_.dir, "disk"), split(scratch_.dir, "split");
    const std::vector<Child*> runs{&forward, &reverse, &stopped, &disk, &split};
    const auto spawned = now_ms();
    forward.start({"-o", forward.out, "--rect", band, "--seconds", "4.5"});
    reverse.start({"-o", reverse.out, "--rect", band, "--seconds", "4.5", "--reverse"});
    stopped.start({"-o", stopped.out, "--rect", band});
    disk.start({"-o", disk.out, "--rect", whole, "--seconds", "4.5", "--disk"});
    split.start({"-o", split.out, "--rect", whole, "--seconds", "4.5", "--memory", "1"});
    // The spill file is made just before the recording starts.
    while (!std::all_of(runs.begin(), runs.end(), [](Child* r) { return r->watch(); })) {
        ASSERT_LT(now_ms() - spawned, 10000) << "a recording did not start";
        watch_for(5, {});
    }
    const auto ready = now_ms();
    std::vector<long> shown{ready};
    long stop_sent = 0;
    for (int c = 0; c < 6; ++c) {
        if (c > 0) {
            window.show(kShow[c]);
            shown.push_back(now_ms());
        }
        if (c == 3) {
            watch_for(kHoldMs / 2, runs);
            stop_sent = now_ms();
            kill(stopped.pid, SIGTERM);
            watch_for(kHoldMs / 2, runs);
        } else {
            watch_for(kHoldMs, runs);
        }
    }
    for (Child* r : runs) r->finish();

    const std::vector<int> all{0, 1, 2, 3, 4, 5};
    for (Child* r : {&forward, &stopped, &disk, &split}) {
        SCOPED_TRACE(r->dir.filename());
        const bool whole_window = r == &disk || r == &split;
        const Judged j = whole_window ? judge(*r, W::kWidth, W::kHeight, W::kBand - 16) : judge(*r, 200, 100, 100);
        EXPECT_EQ(j.colours, (r == &stopped ? std::vector<int>{0, 1, 2, 3} : all));
        EXPECT_TRUE(r->tmp_empty()) << "the spill file is left behind";
        if (r == &stopped) {
            // It recorded from some time between its start and its spill file, up to SIGTERM.
            const int recorded = 10 * static_cast<int>(j.grabs + j.collapsed);
            EXPECT_LE(recorded, (stop_sent - spawned) / 10 + 10);
            EXPECT_GE(recorded, (stop_sent - ready) / 10 - 10);
            continue;
        }
        EXPECT_NEAR(10 * (j.grabs + j.collapsed), 450, 10);
        // A colour between two changes lasts as long as it was on the screen, give or take a tick
        // at either end (and the ticks that collapsed).
        for (std::size_t i = 1; i + 1 < j.delays.size() && i + 1 < shown.size(); ++i)
            EXPECT_NEAR(j.delays[i], (shown[i + 1] - shown[i]) / 10, 20 + 10 * j.collapsed) << "frame " << i;
    }
    const Judged r = judge(reverse, 200, 100, 100);
    EXPECT_EQ(r.colours, (std::vector<int>{5, 4, 3, 2, 1, 0}));
    EXPECT_TRUE(reverse.tmp_empty());

    // Every frame reaches the spill file, wherever it is read from.
    EXPECT_GT(forward.spill_seen, 0);
    EXPECT_GT(disk.spill_seen, 1 << 20);
    EXPECT_GT(split.spill_seen, 1 << 20);
}

// Runs `gifanim ARGS...` with the child's TMPDIR to its end.
void run_tool(Child& c, std::vector<std::string> args, const char* command) {
    c.start(std::move(args), true, command);
    c.finish();
}

// Recordings killed part way through the colour show, and written out by `gifanim recover`: every
// colour shown a second before the kill is there, in order, and the delays add up to the time
// recorded up to then.
TEST_F(RecordTest, AKilledRecordingIsRecoveredUpToItsLastSecond) {
    ShowWindow window(display_);
    using W = ShowWindow;
    const std::string band = rect_arg(W::kLeft + 50, W::kTop + 20, W::kLeft + 250, W::kTop + 120);
    Child memory(scratch_.dir, "memory"), disk(scratch_.dir, "disk");
    const std::vector<Child*> runs{&memory, &disk};
    const auto spawned = now_ms();
    memory.start({"-o", memory.out, "--rect", band});
    disk.start({"-o", disk.out, "--rect", band, "--disk"});
    while (!std::all_of(runs.begin(), runs.end(), [](Child* r) { return r->watch(); })) {
        ASSERT_LT(now_ms() - spawned, 10000) << "a recording did not start";
        watch_for(5, {});
    }
    const long ready = now_ms();
    std::vector<long> shown{ready};
    const long kill_at[2] = {ready + 1900, ready + 2700};
    for (int c = 1; c < 6; ++c) {
        const long next = shown.back() + kHoldMs;
        for (int r = 0; r < 2; ++r) {
            if (runs[r]->pid <= 0 || kill_at[r] >= next) continue;
            watch_for(static_cast<int>(std::max(0L, kill_at[r] - now_ms())), {});
            kill(runs[r]->pid, SIGKILL);
            runs[r]->finish();
        }
        watch_for(static_cast<int>(std::max(0L, next - now_ms())), {});
        window.show(kShow[c]);
        shown.push_back(now_ms());
    }
    for (int r = 0; r < 2; ++r) {
        Child& run = *runs[r];
        SCOPED_TRACE(run.dir.filename());
        ASSERT_EQ(run.exit_code(), 128 + SIGKILL);
        EXPECT_FALSE(fs::exists(run.out));

        Child list(run.dir, "list");
        list.tmp = run.tmp;
        run_tool(list, {}, "recover");
        ASSERT_EQ(list.exit_code(), 0) << list.stderr_text;
        const std::size_t tab = list.stdout_text.find('\t');
        ASSERT_NE(tab, std::string::npos) << list.stdout_text;
        const std::string file = list.stdout_text.substr(0, tab);
        EXPECT_EQ(fs::path(file).parent_path(), run.tmp);
        EXPECT_NE(list.stdout_text.find(" frames, "), std::string::npos);
        EXPECT_NE(list.stdout_text.find(" s, 200x100\n"), std::string::npos) << list.stdout_text;

        Child recover(run.dir, "recover");
        recover.tmp = run.tmp;
        run_tool(recover, {file, "-o", run.out}, "recover");
        ASSERT_EQ(recover.exit_code(), 0) << recover.stderr_text;
        EXPECT_FALSE(fs::exists(file)) << "the recording goes once the GIF holds it";
        const OracleGif gif = oracle_decode(run.out);
        std::vector<int> colours;
        int total = 0;
        for (const OracleFrame& f : gif.frames) {
            colours.push_back(band_colour(gif, f, 100));
            total += f.delay;
        }
        // The colours shown up to a second before the kill, in order; perhaps the next one too.
        std::vector<int> expected;
        for (int c = 0; c < static_cast<int>(shown.size()) && shown[c] <= kill_at[r] - 1000; ++c) expected.push_back(c);
        ASSERT_GE(colours.size(), expected.size());
        EXPECT_EQ(std::vector<int>(colours.begin(), colours.begin() + static_cast<long>(expected.size())), expected);
        for (std::size_t i = 0; i < colours.size(); ++i) EXPECT_EQ(colours[i], static_cast<int>(i));
        const long recorded_cs = (kill_at[r] - ready) / 10;
        EXPECT_LE(total, recorded_cs + 20);
        EXPECT_GE(total, recorded_cs - 100) << "more than a second lost";
    }
}

// Each way a terminal asks a program to stop exports what was recorded; asked again during the
// export, the tool gives the export up and keeps the recording for recover.
TEST_F(RecordTest, StopRequestsExportAndASecondOneKeepsTheRecording) {
    ShowWindow window(display_);
    using W = ShowWindow;
    const std::string band = rect_arg(W::kLeft + 50, W::kTop + 20, W::kLeft + 250, W::kTop + 120);
    const std::string whole = rect_arg(W::kLeft, W::kTop, W::kLeft + W::kWidth, W::kTop + W::kHeight);
    Child hup(scratch_.dir, "hup"), quit(scratch_.dir, "quit"), twice(scratch_.dir, "twice");
    const std::vector<Child*> runs{&hup, &quit, &twice};
    const auto spawned = now_ms();
    hup.start({"-o", hup.out, "--rect", band});
    quit.start({"-o", quit.out, "--rect", band});
    twice.start({"-o", twice.out, "--rect", whole, "--fps", "20", "--disk"});
    while (!std::all_of(runs.begin(), runs.end(), [](Child* r) { return r->watch(); })) {
        ASSERT_LT(now_ms() - spawned, 10000) << "a recording did not start";
        watch_for(5, {});
    }
    // Noise that changes at every grab makes the export of `twice` take a while.
    for (int i = 0; i < 20; ++i) {
        window.show(kShow[i % 6]);
        watch_for(100, {});
    }
    kill(hup.pid, SIGHUP);
    kill(quit.pid, SIGQUIT);
    kill(twice.pid, SIGTERM);
    watch_for(20, {});
    kill(twice.pid, SIGTERM);
    for (Child* r : runs) r->finish();
    for (Child* r : {&hup, &quit}) {
        SCOPED_TRACE(r->dir.filename());
        EXPECT_EQ(r->exit_code(), 0) << r->stderr_text;
        EXPECT_GE(oracle_decode(r->out).frames.size(), 2u);
        EXPECT_TRUE(r->tmp_empty());
    }
    EXPECT_EQ(twice.exit_code(), 1);
    EXPECT_NE(twice.stderr_text.find("export abandoned"), std::string::npos) << twice.stderr_text;
    EXPECT_NE(twice.stderr_text.find("the recording stays in " + twice.tmp.string()), std::string::npos);
    EXPECT_FALSE(fs::exists(twice.out));
    EXPECT_FALSE(twice.tmp_empty());
}

// Runs xdotool with these words on the test's display; true when it succeeded.
bool xdotool(const std::string& words) {
    return std::system(("xdotool " + words).c_str()) == 0;
}

// Waits (up to 10 s) until another client holds the pointer grab: the tool is choosing.
bool pointer_held_elsewhere(Display* d) {
    for (const long until = now_ms() + 10000; now_ms() < until; usleep(20000)) {
        const int r = XGrabPointer(d, DefaultRootWindow(d), False, ButtonPressMask, GrabModeAsync, GrabModeAsync,
                                   0, 0, CurrentTime);
        if (r == GrabSuccess) {
            XUngrabPointer(d, CurrentTime);
            XSync(d, False);
        } else if (r == AlreadyGrabbed) {
            return true;
        }
    }
    return false;
}

// SIGUSR1 pauses one recording while the band shows a colour that must never appear, and resumes
// it; meanwhile a button held over the band of a recording with --show-clicks draws the ring.
TEST_F(RecordTest, APauseLeavesItsTimeOutAndHeldButtonsShowAsRings) {
    ShowWindow window(display_);
    using W = ShowWindow;
    const int left = W::kLeft + 50, top = W::kTop + 20;
    const std::string band = rect_arg(left, top, left + 200, top + 100);
    Child paused(scratch_.dir, "paused"), clicks(scratch_.dir, "clicks");
    const std::vector<Child*> runs{&paused, &clicks};
    const auto spawned = now_ms();
    paused.start({"-o", paused.out, "--rect", band});
    clicks.start({"-o", clicks.out, "--rect", band, "--show-clicks"});
    while (!std::all_of(runs.begin(), runs.end(), [](Child* r) { return r->watch(); })) {
        ASSERT_LT(now_ms() - spawned, 10000) << "a recording did not start";
        watch_for(5, {});
    }
    const long ready = now_ms();
    watch_for(kHoldMs, {});
    kill(paused.pid, SIGUSR1);
    const long pause_sent = now_ms();
    watch_for(200, {});
    window.show(kShow[1]);
    // The ring: the button held over the band's middle for a few ticks.
    ASSERT_TRUE(xdotool("mousemove " + std::to_string(left + 100) + " " + std::to_string(top + 50) + " mousedown 1"));
    watch_for(500, {});
    ASSERT_TRUE(xdotool("mouseup 1 mousemove 5 5"));
    watch_for(300, {});
    window.show(kShow[2]);
    watch_for(200, {});
    kill(paused.pid, SIGUSR1);
    const long resume_sent = now_ms();
    watch_for(kHoldMs, {});
    for (Child* r : runs) kill(r->pid, SIGTERM);
    const long stop_sent = now_ms();
    for (Child* r : runs) r->finish();

    const Judged p = judge(paused, 200, 100, 100);
    EXPECT_EQ(p.colours, (std::vector<int>{0, 2})) << "the colour shown only while paused was recorded";
    int total = 0;
    for (const int d : p.delays) total += d;
    const long recorded_cs = ((pause_sent - ready) + (stop_sent - resume_sent)) / 10;
    EXPECT_NEAR(total, recorded_cs, 30) << "the pause is in a delay";

    EXPECT_EQ(clicks.exit_code(), 0) << clicks.stderr_text;
    const OracleGif gif = oracle_decode(clicks.out);
    // A pixel on the ring, 16 pixels right of the pointer, in the ring's colour in some frame.
    int ringed = 0, first_ringed = -1;
    for (std::size_t i = 0; i < gif.frames.size(); ++i) {
        const OracleFrame& f = gif.frames[i];
        const std::vector<std::uint8_t>& palette = f.local_palette.empty() ? gif.global_palette : f.local_palette;
        const std::size_t at = 3u * f.pixels[static_cast<std::size_t>(50) * f.width + 116];
        const Rgb c{palette.at(at), palette.at(at + 1), palette.at(at + 2)};
        if (std::abs(c.r - 255) <= kTolerance && std::abs(c.g - 196) <= kTolerance && c.b <= kTolerance) {
            ++ringed;
            if (first_ringed < 0) first_ringed = static_cast<int>(i);
        }
    }
    EXPECT_GE(ringed, 1) << "no frame shows the ring";
    EXPECT_GT(first_ringed, 0) << "the first frame, before any click, shows a ring";
}

// --select: a drag gives its rectangle, a click the window's, Escape nothing.
// A pointer held by another program when the choice starts (an open menu, say) is waited for.
TEST_F(RecordTest, SelectWaitsForAPointerAnotherProgramHolds) {
    ShowWindow window(display_);
    using W = ShowWindow;
    Display* other = XOpenDisplay(nullptr);
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(XGrabPointer(other, DefaultRootWindow(other), False, ButtonPressMask, GrabModeAsync, GrabModeAsync, 0,
                           0, CurrentTime),
              GrabSuccess);
    XSync(other, False);
    Child click(scratch_.dir, "click");
    click.start({"-o", click.out, "--select", "--seconds", "0.5"});
    usleep(300000);  // the tool has tried the pointer by now
    XCloseDisplay(other);
    ASSERT_TRUE(pointer_held_elsewhere(display_)) << "the tool gave up on the pointer";
    ASSERT_TRUE(xdotool("mousemove " + std::to_string(W::kLeft + 300) + " " + std::to_string(W::kTop + 400) +
                        " click 1"));
    click.finish();
    EXPECT_EQ(click.exit_code(), 0) << click.stderr_text;
}

TEST_F(RecordTest, SelectTakesADraggedRectangleOrAClickedWindowAndEscapeCancels) {
    ShowWindow window(display_);
    using W = ShowWindow;
    Child drag(scratch_.dir, "drag"), click(scratch_.dir, "click"), escape(scratch_.dir, "escape");
    drag.start({"-o", drag.out, "--select", "--seconds", "0.5"});
    ASSERT_TRUE(pointer_held_elsewhere(display_)) << "the tool did not take the pointer";
    ASSERT_TRUE(xdotool("mousemove 150 120 mousedown 1 mousemove 250 180 mousemove 350 220 mouseup 1"));
    drag.finish();
    EXPECT_EQ(drag.exit_code(), 0) << drag.stderr_text;
    OracleGif gif = oracle_decode(drag.out);
    EXPECT_EQ(gif.width, 200);
    EXPECT_EQ(gif.height, 100);

    click.start({"-o", click.out, "--select", "--seconds", "0.5"});
    ASSERT_TRUE(pointer_held_elsewhere(display_));
    ASSERT_TRUE(xdotool("mousemove " + std::to_string(W::kLeft + 300) + " " + std::to_string(W::kTop + 400) +
                        " click 1"));
    click.finish();
    EXPECT_EQ(click.exit_code(), 0) << click.stderr_text;
    gif = oracle_decode(click.out);
    EXPECT_EQ(gif.width, W::kWidth);
    EXPECT_EQ(gif.height, W::kHeight);

    escape.start({"-o", escape.out, "--select"});
    ASSERT_TRUE(pointer_held_elsewhere(display_));
    ASSERT_TRUE(xdotool("key Escape"));
    escape.finish();
    EXPECT_EQ(escape.exit_code(), 1);
    EXPECT_EQ(escape.stderr_text, "gifanim: no rectangle chosen\n");
    EXPECT_FALSE(fs::exists(escape.out));
    EXPECT_TRUE(escape.tmp_empty());
}

// What the tool does with a recording it cannot write out: an output folder, found at once; a
// folder that goes away while recording, found at the end, keeps the recording for recover.
TEST_F(RecordTest, ARecordingThatCannotBeWrittenIsKeptForRecovery) {
    const std::string band = rect_arg(100, 100, 300, 200);
    Child folder(scratch_.dir, "folder"), gone(scratch_.dir, "gone");
    const auto spawned = now_ms();
    folder.start({"-o", folder.dir.string(), "--rect", band, "--seconds", "5"});
    fs::create_directories(gone.dir / "away");
    gone.start({"-o", (gone.dir / "away" / "out.gif").string(), "--rect", band, "--seconds", "1.5"});
    folder.finish();
    EXPECT_LT(now_ms() - spawned, 3000) << "the folder is found before recording";
    EXPECT_EQ(folder.exit_code(), 1);
    EXPECT_NE(folder.stderr_text.find("is a folder"), std::string::npos) << folder.stderr_text;
    EXPECT_TRUE(folder.tmp_empty());

    while (!gone.watch()) {
        ASSERT_LT(now_ms() - spawned, 10000) << "the recording did not start";
        watch_for(5, {});
    }
    fs::remove_all(gone.dir / "away");
    gone.finish();
    EXPECT_EQ(gone.exit_code(), 1);
    EXPECT_NE(gone.stderr_text.find("the recording stays in " + gone.tmp.string()), std::string::npos)
        << gone.stderr_text;
    ASSERT_FALSE(gone.tmp_empty());
    const fs::path kept = fs::directory_iterator(gone.tmp)->path();
    Child recover(gone.dir, "recover");
    recover.tmp = gone.tmp;
    run_tool(recover, {kept.string(), "-o", gone.out.string(), "--keep"}, "recover");
    ASSERT_EQ(recover.exit_code(), 0) << recover.stderr_text;
    EXPECT_TRUE(fs::exists(kept)) << "--keep keeps it";
    EXPECT_GE(oracle_decode(gone.out).frames.size(), 1u);
    Child missing(gone.dir, "missing");
    missing.tmp = gone.tmp;
    run_tool(missing, {(gone.tmp / "0.tmp").string(), "-o", gone.out.string()}, "recover");
    EXPECT_EQ(missing.exit_code(), 1);
    EXPECT_NE(missing.stderr_text.find("no such file"), std::string::npos) << missing.stderr_text;
}

TEST_F(RecordTest, FailuresExitWithAStatusAndLeaveNoSpillFile) {
    const std::string band = rect_arg(100, 100, 300, 200);
    Child no_display(scratch_.dir, "no-display"), missing(scratch_.dir, "missing"), usage(scratch_.dir, "usage"),
        early(scratch_.dir, "early");
    no_display.start({"-o", no_display.out, "--rect", band, "--seconds", "1"}, false);
    const auto spawned = now_ms();
    missing.start({"-o", missing.dir / "no-such-folder" / "out.gif", "--rect", band, "--seconds", "5"});
    usage.start({"--rect", band, "--seconds", "1"});
    // At one frame a second the first tick is a second away: SIGTERM comes before it.
    early.start({"-o", early.out, "--rect", band, "--fps", "1", "--seconds", "5"});
    while (!early.watch()) {
        ASSERT_LT(now_ms() - spawned, 10000) << "the recording did not start";
        watch_for(2, {});
    }
    kill(early.pid, SIGTERM);
    for (Child* r : {&no_display, &missing, &usage, &early}) r->finish();
    EXPECT_LT(now_ms() - spawned, 3000) << "the missing folder is found before recording";

    EXPECT_EQ(no_display.exit_code(), 1);
    EXPECT_EQ(no_display.stderr_text.rfind("gifanim: ", 0), 0u) << no_display.stderr_text;
    EXPECT_EQ(missing.exit_code(), 1);
    EXPECT_NE(missing.stderr_text.find("gifanim: " + (missing.dir / "no-such-folder").string()), std::string::npos)
        << missing.stderr_text;
    EXPECT_EQ(usage.exit_code(), 2) << usage.stderr_text;
    EXPECT_EQ(early.exit_code(), 1);
    EXPECT_EQ(early.stderr_text, "gifanim: no frame was recorded\n");
    for (Child* r : {&no_display, &missing, &usage, &early}) {
        EXPECT_TRUE(r->tmp_empty()) << r->dir;
        EXPECT_FALSE(fs::exists(r->out)) << r->dir;
        EXPECT_EQ(r->stdout_text, "") << r->dir;
    }
}

}  // namespace
}  // namespace gifanim::test
