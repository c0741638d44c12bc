// gifanim record: record the screen into an animated GIF through the recorder's own session,
// frame store and export.
#include <charconv>
#include <cstdio>
#include <optional>
#include <string>

#include "capture/session.h"
#include "gif/gif_maker.h"
#include "platform/file.h"
#include "platform/system.h"
#include "platform/text.h"
#include "review/export.h"
#include "review/shaping.h"
#include "tools/commands.h"
#include "tools/options.h"
#include "tools/terminal_export.h"

namespace gifanim::tool {

namespace {

struct RecordOptions {
    const Argument* out = nullptr;
    std::optional<platform::ScreenRect> rect;  // none: the whole screen
    long fps = 10;
    std::optional<std::uint64_t> duration_us;
    std::optional<long> grabs;
    bool cursor = false;
    bool show_clicks = false;
    bool select = false;
    long memory_mb = 20;
    bool disk = false;
    bool reverse = false;
    Optimization optimization;
    review::ExportShape shape;
    SizeOptions size;
};

// Seconds with up to three decimals, above 0 and at most a day.
std::optional<std::uint64_t> parse_seconds(std::string_view s) {
    double seconds = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), seconds, std::chars_format::fixed);
    if (ec != std::errc() || end != s.data() + s.size() || !(seconds > 0) || seconds > 86400) return std::nullopt;
    return static_cast<std::uint64_t>(seconds * 1e6 + 0.5);
}

std::string megabytes(std::int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1 << 20));
    return text;
}

// The frame window and the settings of the recorder, as a terminal sees them: a live line while
// recording, when standard error is a terminal.
class TerminalShell final : public capture::RecordingShell {
public:
    explicit TerminalShell(const RecordOptions& options) : options_(options), exports_(options.out->path, line_) {}

    std::uint64_t period_us() const { return period_us_; }
    bool timer_running() const { return timer_running_; }
    TerminalLine& line() { return line_; }
    TerminalExportShell& exports() { return exports_; }

    // One live line: recorded time, frames, the last delay, the bytes of the frames and those of
    // the spill file, which holds every frame; "paused" instead of "recording" while paused.
    // `now` shows it at once, however soon after the last.
    void show_live_line(const capture::FrameStore& store, std::uint64_t elapsed_us, bool paused, bool now_or_never) {
        if (!line_.terminal()) return;
        const std::uint64_t now = platform::monotonic_us();
        if (!now_or_never && now - last_line_us_ < 200000 && last_line_us_ != 0) return;
        last_line_us_ = now;
        char text[160];
        std::snprintf(text, sizeof text, "\r%s %6.1f s  %5d frames  delay %4d  frames %s  disk %s   ",
                      paused ? "paused   " : "recording", static_cast<double>(elapsed_us) / 1e6, store.count(),
                      store.Infos().empty() ? 0 : store.Infos().back().DelayTime, megabytes(store.BytesUsed()).c_str(),
                      megabytes(static_cast<std::int64_t>(store.DiskFrames().size_on_disk())).c_str());
        line_.write(text);
    }

    void SetCaption(const std::string&) override {}
    void SetRecordButtonCaption(const std::string&) override {}
    void RefreshToolbar() override {}
    void MinimizeFrameWindow() override {}
    void Warn(const std::string& gbk) override {
        line_.end();
        platform::write_stderr(error_line(gbk));
    }
    void StartTimer(int, std::int32_t period_ms) override {
        period_us_ = static_cast<std::uint64_t>(period_ms > 0 ? period_ms : 1) * 1000u;
        timer_running_ = true;
    }
    void StopTimer(int) override { timer_running_ = false; }
    bool FullScreenChecked() const override { return !options_.rect; }
    platform::ScreenRect CapturePanelRect() const override { return options_.rect.value_or(platform::ScreenRect{}); }
    Size ScreenSize() const override {
        const platform::ScreenSize size = platform::screen_size();
        return {size.width, size.height};
    }
    std::int32_t FrameRate() const override { return static_cast<std::int32_t>(options_.fps); }
    std::int64_t MemoryBudgetBytes() const override { return std::int64_t{options_.memory_mb} << 20; }
    bool DiskStorage() const override { return options_.disk; }
    bool FullScreenHide() const override { return false; }
    bool RecordCursor() const override { return options_.cursor; }
    bool ShowClicks() const override { return options_.show_clicks; }

private:
    const RecordOptions& options_;
    TerminalLine line_;
    TerminalExportShell exports_;
    std::uint64_t last_line_us_ = 0;
    std::uint64_t period_us_ = 0;
    bool timer_running_ = false;
};

RecordOptions parse(const std::vector<Argument>& args) {
    RecordOptions o;
    for (ArgumentCursor arg(args); arg.next();) {
        if (arg.is("--output", "-o"))
            o.out = &arg.value("a file name");
        else if (arg.is("--rect"))
            o.rect = arg.parsed(parse_rect, "LEFT,TOP,RIGHT,BOTTOM");
        else if (arg.is("--full-screen"))
            o.rect.reset();
        else if (arg.is("--fps"))
            o.fps = arg.number(1, 1000);
        else if (arg.is("--seconds"))
            o.duration_us = arg.parsed(parse_seconds, "a number of seconds above 0, at most 86400");
        else if (arg.is("--frames"))
            o.grabs = arg.number(1, 100000000);
        else if (arg.is("--cursor"))
            o.cursor = true;
        else if (arg.is("--show-clicks"))
            o.show_clicks = true;
        else if (arg.is("--select"))
            o.select = true;
        else if (arg.is("--memory"))
            o.memory_mb = arg.number(0, 1 << 20);
        else if (arg.is("--disk"))
            o.disk = true;
        else if (arg.is("--reverse"))
            o.reverse = true;
        else if (!optimization_option(arg, o.optimization) && !shape_option(arg, o.shape) && !size_option(arg, o.size))
            throw UsageError{"unexpected argument " + arg.operand().text};
    }
    if (!o.out) throw UsageError{"no -o OUT.gif"};
    if (o.select && o.rect) throw UsageError{"--select and --rect both choose the rectangle"};
    if (o.rect && (o.rect->right <= o.rect->left || o.rect->bottom <= o.rect->top)) {
        throw UsageError{"the rectangle is empty"};
    }
    return o;
}

struct Tally {
    std::uint64_t grabs = 0;
    std::uint64_t collapsed = 0;
};

// Runs the record timer as the platform's does: ticks fall due every period from the start, and
// those that fall due while a tick runs collapse into one that runs as soon as it ends. Each pause
// request pauses or resumes the recording; the ticks start afresh after a pause, and the time
// paused counts for nothing (not for --seconds either).
Tally run_timer(capture::RecordingSession& session, TerminalShell& shell, const RecordOptions& options) {
    Tally tally;
    std::uint64_t start = platform::monotonic_us();
    const std::uint64_t period = shell.period_us();
    std::uint64_t done = 0;          // the last due tick that ran, counted from `start`
    std::uint64_t ticks_before = 0;  // the ticks of the stretches before the last pause
    unsigned pauses_seen = platform::pause_requests();
    while (!platform::stop_requested() && (shell.timer_running() || session.paused())) {
        if (platform::pause_requests() != pauses_seen) {
            ++pauses_seen;
            if (session.paused()) {
                session.ResumeRecording();
                start = platform::monotonic_us();
                done = 0;
            } else {
                session.PauseRecording();
                ticks_before += done;
            }
            shell.show_live_line(session.store(), (ticks_before + done) * period, session.paused(), true);
            continue;
        }
        if (session.paused()) {
            platform::sleep_us(50000);
            continue;
        }
        const std::uint64_t next = done + 1;
        if (options.duration_us && (ticks_before + next) * period > *options.duration_us) break;
        const std::uint64_t now = platform::monotonic_us();
        if (now < start + next * period) {
            // Short sleeps, so that Ctrl+C is answered at once.
            platform::sleep_us(std::min<std::uint64_t>(start + next * period - now, 50000));
            continue;
        }
        session.CaptureTick();
        ++tally.grabs;
        const std::uint64_t after = platform::monotonic_us();
        shell.show_live_line(session.store(), ticks_before * period + (after - start), false, false);
        if (options.grabs && tally.grabs >= static_cast<std::uint64_t>(*options.grabs)) break;
        const std::uint64_t due = (after - start) / period;
        done = next;
        if (due > next + 1) {
            tally.collapsed += due - next - 1;
            done = due - 1;
        }
    }
    return tally;
}

}  // namespace

int run_record(const std::vector<Argument>& args) {
    RecordOptions options = parse(args);
    if (platform::screen_bits_per_pixel() == 0) return failure("no screen to record (is DISPLAY set?)");
    if (options.select) {
        platform::ScreenRect chosen;
        switch (platform::select_screen_rect(chosen)) {
            case platform::Selection::chosen: options.rect = chosen; break;
            case platform::Selection::cancelled: return failure("no rectangle chosen");
            case platform::Selection::failed:
                return failure("cannot choose a rectangle here (the pointer is held by another program?)");
        }
    }
    // A path that cannot be written, or a shape the recording cannot take, is found out now, not
    // after the recording.
    if (const auto why = unwritable_output(options.out->path)) return failure(*options.out, *why);
    const platform::ScreenSize screen = platform::screen_size();
    const review::PictureSize recorded = options.rect ? review::PictureSize{options.rect->right - options.rect->left,
                                                                            options.rect->bottom - options.rect->top}
                                                      : review::PictureSize{screen.width, screen.height};
    if (const auto why = shape_problem_text(options.shape, recorded, "the recorded rectangle")) return failure(*why);

    TerminalShell shell(options);
    capture::ScreenGrabber grabber;
    capture::RecordingSession session(shell, grabber);
    // Caught before the spill file exists: a stop request between the two would otherwise end the
    // process by default and leave the file behind.
    platform::catch_stop_requests();
    platform::catch_pause_requests();
    if (!session.OpenFrameStore()) return failure("cannot create the spill file in the temporary folder");
    const std::filesystem::path spill_file = session.store().DiskFrames().path();
    const std::uint64_t cpu_before = platform::process_cpu_us();
    const std::uint64_t wall_before = platform::monotonic_us();
    if (!session.StartRecording()) return 1;
    const Tally tally = run_timer(session, shell, options);
    session.StopRecording();
    const std::uint64_t wall = platform::monotonic_us() - wall_before;
    const std::uint64_t cpu = platform::process_cpu_us() - cpu_before;
    shell.line().end();
    if (session.store().count() == 0) return failure("no frame was recorded");

    // From here on the recording is only removed once the GIF holds it: every other way out
    // leaves it in the spill file for `gifanim recover`.
    const auto keep_recording = [&] {
        shell.line().end();
        session.ReleaseFrameStore();
        platform::write_stderr("gifanim: " + kept_recording_text(spill_file) + "\n");
    };
    const unsigned requests = platform::stop_requests();
    if (platform::stop_is_pressing()) {
        // The system ends the process within seconds: the export may not finish.
        session.store().DiskFrames().sync();
        platform::write_stderr("gifanim: exporting before the console closes; should it close first, " +
                               kept_recording_text(spill_file) + "\n");
    }
    const auto direction = options.reverse ? review::ExportDirection::reverse : review::ExportDirection::forward;
    if (options.size.max_size || options.size.estimate) {
        int status = 1;
        try {
            const capture::FrameStoreSnapshot frames = session.store().Snapshot();
            status = fit_or_estimate(review::source_of(frames), direction, options.shape, options.optimization,
                                     options.size, *options.out);
        } catch (...) {
            keep_recording();
            throw;
        }
        // An estimate writes nothing: the recording stays for recover.
        if (status != 0 || options.size.estimate) {
            keep_recording();
        } else {
            session.CloseFrameStore();
        }
        return status;
    }
    GifMaker maker;
    maker.SetOptimization(options.optimization);
    TerminalExportShell& exports = shell.exports();
    int exported = 0;
    try {
        const capture::FrameStoreSnapshot frames = session.store().Snapshot();
        exports.watch(maker, review::export_timing(frames.Infos(), direction, options.shape));
        // A stop request during the export abandons it.
        exports.abandon_after(requests);
        exported = review::ExportShapedFrames(frames, direction, options.shape, maker, exports);
    } catch (const TerminalExportShell::ExportAbandoned&) {
        platform::write_stderr("gifanim: export abandoned\n");
        keep_recording();
        return 1;
    } catch (...) {
        keep_recording();
        throw;
    }
    if (exported != 1) {
        const std::string error = maker.GetError();
        keep_recording();
        return failure(*options.out, error);
    }
    session.CloseFrameStore();
    std::error_code ec;
    const auto size = std::filesystem::file_size(options.out->path, ec);
    char line[240];
    std::snprintf(line, sizeof line, ": %d frames, %.2f s, %llu bytes (%llu grabs, %llu collapsed, CPU %.0f%%)",
                  exports.frames_held(), static_cast<double>(exports.held_cs()) / 100,
                  static_cast<unsigned long long>(ec ? 0 : size), static_cast<unsigned long long>(tally.grabs),
                  static_cast<unsigned long long>(tally.collapsed),
                  wall ? 100.0 * static_cast<double>(cpu) / static_cast<double>(wall) : 0.0);
    std::string report = options.out->text + line;
    if (exports.frames_dropped() > 0) {
        report += "; " + std::to_string(exports.frames_dropped()) + " of " +
                  std::to_string(exports.frames_held() + exports.frames_dropped()) +
                  " frames could not be read and were left out";
    }
    platform::write_stdout(report + "\n");
    return 0;
}

}  // namespace gifanim::tool
