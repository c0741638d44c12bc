// Ten minutes of recording at 15 frames a second, replayed through the recorder's own
// RecordingSession and FrameStore with the tool's default 20 MB memory budget: a grabber hands out
// 64 distinct 1920x1080 JPEGs of the corpus desktop (a block of noise moved in each, so they stay
// large) in turn, so no two consecutive ticks match and every tick stores a frame. Reports the
// peak RSS of the recording against the budget + 64 MiB, the spill file's size, whether every
// frame reads back byte for byte, and then the time of ExportFrames against ffmpeg making a GIF
// of the same JPEG frames in the same run.
//   long_recording [--ticks N] [--frames N] [--rounds N] [--noise PIXELS] [--dir DIR] [--optimize]
//   --ticks   ticks recorded (default 9000: 10 minutes at 15 fps)
//   --frames  frames exported by both (default: every tick); fewer are recorded anew through a
//             fresh session of that many ticks, since the whole recording makes a GIF of gigabytes
//   --rounds  exports of each, alternating which goes first (default 1); medians reported
//   --noise   side of the noise block (default 400)
//   --dir     where the spill file and the scratch files go (default the temporary folder)
//   --optimize  the export writes an optimized GIF (default quality)
//   --fit BYTES[,BYTES...]  then the size estimate of that export against the size it wrote, and
//             the export fitted under each limit, each against the limit, with its time over the
//             export's
// Everything it writes goes into a fresh folder there, removed at the end.
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "review/size_fit.h"
#include "capture/session.h"
#include "gif/gif_maker.h"
#include "imaging/convert.h"
#include "platform/bmp.h"
#include "platform/system.h"
#include "review/export.h"

namespace gifanim::bench {
namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kDistinct = 64;
constexpr std::int64_t kBudgetBytes = std::int64_t{20} << 20;  // `gifanim record`'s default --memory 20

// Removed when the program ends, by die() (std::exit) included.
ScratchFolder g_scratch;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The desktop with a block of noise at a place of its own for picture k, as a JPEG the way the
// recorder encodes a grab (imaging::Convert of the BMP).
std::vector<std::uint8_t> make_jpeg(const platform::Dib24& desktop, int k, int noise) {
    std::vector<std::uint8_t> bmp(platform::kBmpHeadersSize + desktop.stride * kHeight);
    if (!platform::write_bmp_headers(std::span(bmp).first<platform::kBmpHeadersSize>(), kWidth, kHeight, 24, 0, 0,
                                     platform::kBmpHeadersSize)) {
        die("cannot write BMP headers");
    }
    std::uint8_t* rows = bmp.data() + platform::kBmpHeadersSize;
    for (int y = 0; y < kHeight; ++y) {
        std::memcpy(rows + desktop.stride * y, desktop.row(y), static_cast<std::size_t>(kWidth) * 3);
    }
    const int x0 = (k * 211) % (kWidth - noise);
    const int y0 = (k * 97) % (kHeight - noise);
    std::uint32_t state = 0x9E3779B9u ^ static_cast<std::uint32_t>(k + 1) * 0x85EBCA6Bu;
    for (int y = y0; y < y0 + noise; ++y) {
        std::uint8_t* p = rows + desktop.stride * y + 3 * static_cast<std::size_t>(x0);
        for (int x = 0; x < noise * 3; ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            p[x] = static_cast<std::uint8_t>(state);
        }
    }
    std::vector<std::uint8_t> jpeg = imaging::Convert(bmp, imaging::kJpeg);
    if (jpeg.empty()) die("the JPEG encoder gave nothing");
    return jpeg;
}

// Hands out the replay JPEGs in turn. The "pixels" of a grab are just the grab's number, so that
// the session sees every grab differ from the one before and encodes it; the encode is a copy of
// the JPEG, as a real encode makes a fresh buffer.
class ReplayGrabber final : public capture::FrameGrabber {
public:
    explicit ReplayGrabber(const std::vector<std::vector<std::uint8_t>>& jpegs) : jpegs_(jpegs) {}

    bool Grab(const platform::ScreenRect&, bool, platform::ScreenPixels& pixels) override {
        pixels.bits_per_pixel = 32;
        pixels.offset = 0;
        pixels.data.resize(sizeof grabs_);
        std::memcpy(pixels.data.data(), &grabs_, sizeof grabs_);
        ++grabs_;
        return true;
    }
    std::vector<std::uint8_t> Encode(platform::ScreenPixels& pixels) override {
        std::uint64_t grab = 0;
        std::memcpy(&grab, pixels.data.data(), sizeof grab);
        const auto k = static_cast<std::uint8_t>(grab % jpegs_.size());
        handed_out_.push_back(k);
        return jpegs_[k];
    }
    // The JPEG of every encode, in order.
    const std::vector<std::uint8_t>& handed_out() const { return handed_out_; }

private:
    const std::vector<std::vector<std::uint8_t>>& jpegs_;
    std::uint64_t grabs_ = 0;
    std::vector<std::uint8_t> handed_out_;
};

class BenchShell final : public capture::RecordingShell, public review::ExportShell {
public:
    explicit BenchShell(std::filesystem::path out) : out_(std::move(out)) {}

    void SetCaption(const std::string&) override {}
    void SetRecordButtonCaption(const std::string&) override {}
    void RefreshToolbar() override {}
    void MinimizeFrameWindow() override {}
    void Warn(const std::string&) override { ++warnings; }
    void StartTimer(int, std::int32_t) override {}
    void StopTimer(int) override {}
    bool FullScreenChecked() const override { return true; }
    platform::ScreenRect CapturePanelRect() const override { return {}; }
    Size ScreenSize() const override { return {kWidth, kHeight}; }
    std::int32_t FrameRate() const override { return 15; }
    std::int64_t MemoryBudgetBytes() const override { return kBudgetBytes; }
    bool DiskStorage() const override { return false; }
    bool FullScreenHide() const override { return false; }
    bool RecordCursor() const override { return false; }

    std::filesystem::path AskSavePath() override { return out_; }
    void ShowProgressWindow() override {}
    void HideProgressWindow() override {}
    void EnableFrameWindow(bool) override {}
    std::int32_t ProgressMaximum() override { return 100; }
    void SetProgress(std::int32_t) override {}
    void SetFrameWindowCaption(const std::string&) override {}
    void ShowMessage(const std::string&, const std::string&, int) override {}

    int warnings = 0;

private:
    std::filesystem::path out_;
};

// Runs `ticks` ticks; dies when a tick warned or did not store a frame of its own.
void record(capture::RecordingSession& session, BenchShell& shell, std::int64_t ticks) {
    if (!session.StartRecording()) die("the recording did not start");
    for (std::int64_t t = 0; t < ticks; ++t) {
        session.CaptureTick();
        if ((t & 255) == 0 && platform::stop_requested()) die("stopped");
    }
    session.StopRecording();
    if (shell.warnings != 0) die("the session warned during the recording");
    if (session.store().count() != ticks) {
        die("the store holds " + std::to_string(session.store().count()) + " frames after " + std::to_string(ticks) +
            " ticks of distinct frames");
    }
}

struct Options {
    std::int64_t ticks = 9000;
    std::int64_t frames = -1;
    int rounds = 1;
    int noise = 400;
    std::filesystem::path dir;
    bool optimize = false;
    std::vector<std::int64_t> fit;
};

long number(const char* text, long low, long high, const char* option) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || v < low || v > high) {
        die(std::string(option) + " takes a number from " + std::to_string(low) + " to " + std::to_string(high));
    }
    return v;
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--optimize") {
            o.optimize = true;
            continue;
        }
        if (i + 1 >= argc)
            die("usage: long_recording [--ticks N] [--frames N] [--rounds N] [--noise PIXELS] [--dir DIR] [--optimize] "
                "[--fit BYTES[,BYTES...]]");
        const char* value = argv[++i];
        if (arg == "--ticks")
            o.ticks = number(value, 1, 10000000, "--ticks");
        else if (arg == "--frames")
            o.frames = number(value, 1, 10000000, "--frames");
        else if (arg == "--rounds")
            o.rounds = static_cast<int>(number(value, 1, 99, "--rounds"));
        else if (arg == "--noise")
            o.noise = static_cast<int>(number(value, 0, kHeight, "--noise"));
        else if (arg == "--dir")
            o.dir = value;
        else if (arg == "--fit")
            for (std::string rest = value; !rest.empty();) {
                const std::size_t comma = rest.find(',');
                o.fit.push_back(number(rest.substr(0, comma).c_str(), 1, 2000000000, "--fit"));
                rest = comma == std::string::npos ? std::string() : rest.substr(comma + 1);
            }
        else
            die("unknown option " + arg);
    }
    if (o.frames < 0 || o.frames > o.ticks) o.frames = o.ticks;
    return o;
}

int run(int argc, char** argv) {
    const Options options = parse(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each figure as soon as it is known
    platform::catch_stop_requests();
    const std::filesystem::path parent = options.dir.empty() ? platform::temp_directory() : options.dir;
    {
        std::string templ = (parent / "long_recording.XXXXXX").string();
        if (!mkdtemp(templ.data())) die("cannot make a scratch folder in " + parent.string());
        g_scratch.path = templ;
    }

    // The replay pictures. Everything else of the preparation is let go before the recording.
    std::vector<std::vector<std::uint8_t>> jpegs;
    std::uint64_t jpeg_bytes = 0;
    {
        const platform::Dib24 desktop = load(corpus_dir() / "big1080" / "desktop1080.png");
        if (desktop.width != kWidth || desktop.height != kHeight) die("desktop1080.png is not 1920x1080");
        for (int k = 0; k < kDistinct; ++k) {
            jpegs.push_back(make_jpeg(desktop, k, options.noise));
            jpeg_bytes += jpegs.back().size();
        }
    }
    for (int k = 0; k < kDistinct; ++k) {
        if (jpegs[k] == jpegs[(k + 1) % kDistinct]) die("two consecutive replay JPEGs are the same");
    }
    malloc_trim(0);
    const long rss_before = status_kib("VmRSS");
    const bool peak_reset = reset_peak_rss();
    std::printf(
        "replay: %d distinct 1920x1080 JPEGs (desktop + %dx%d noise block), %.1f KB each on average, "
        "%.1f MiB held by the harness\n",
        kDistinct, options.noise, options.noise, static_cast<double>(jpeg_bytes) / kDistinct / 1000.0,
        mib(static_cast<double>(jpeg_bytes)));

    // The long recording.
    BenchShell shell(g_scratch.path / "gifanim.gif");
    std::vector<std::uint8_t> order;
    {
        ReplayGrabber grabber(jpegs);
        capture::RecordingSession session(shell, grabber);
        if (!session.store().Open(g_scratch.path)) die("cannot create the spill file");
        const std::uint64_t wall0 = platform::monotonic_us();
        const std::uint64_t cpu0 = platform::process_cpu_us();
        record(session, shell, options.ticks);
        const std::uint64_t wall = platform::monotonic_us() - wall0;
        const std::uint64_t cpu = platform::process_cpu_us() - cpu0;
        const long hwm = status_kib("VmHWM");
        const capture::FrameRecordFile& disk = session.store().DiskFrames();
        std::error_code ec;
        const std::uintmax_t file_size = std::filesystem::file_size(disk.path(), ec);
        if (ec) die("cannot stat the spill file " + disk.path().string());
        std::printf(
            "recording: %lld ticks in %.2f s wall, %.2f s CPU (%.3f ms wall a tick); %d frames in memory "
            "(%.1f MiB), %zu on disk\n",
            static_cast<long long>(options.ticks), seconds(wall), seconds(cpu),
            static_cast<double>(wall) / 1000.0 / static_cast<double>(options.ticks), session.store().MemoryFrames(),
            mib(static_cast<double>(session.store().BytesUsed()) -
                static_cast<double>(disk.size_on_disk() - disk.count() * capture::kRecordHeaderSize)),
            disk.count());
        const double bound_kib = (kBudgetBytes + (std::int64_t{64} << 20)) / 1024.0;
        if (peak_reset) {
            std::printf(
                "peak RSS of the recording (VmHWM, reset after the preparation): %ld KiB, of which the "
                "harness's replay JPEGs %.0f KiB and the RSS before recording %ld KiB; bound 20 MiB + "
                "64 MiB = %.0f KiB: %s\n",
                hwm, static_cast<double>(jpeg_bytes) / 1024.0, rss_before, bound_kib,
                hwm < bound_kib ? "ok" : "MISSED");
        } else {
            std::printf(
                "peak RSS (VmHWM, the preparation included: /proc/self/clear_refs refused): %ld KiB; "
                "bound %.0f KiB\n",
                hwm, bound_kib);
        }
        std::printf("spill file: %ju bytes (%.2f GiB; records say %ju): %s 2 GiB\n", file_size,
                    static_cast<double>(file_size) / (1024.0 * 1024.0 * 1024.0),
                    static_cast<std::uintmax_t>(disk.size_on_disk()),
                    file_size > (std::uintmax_t{1} << 31) ? "past" : "NOT past");
        if (file_size != disk.size_on_disk()) die("the spill file's size differs from its records'");

        // Every frame back, byte for byte, against the JPEG the grabber handed out for its tick.
        order = grabber.handed_out();
        if (order.size() != static_cast<std::size_t>(options.ticks)) die("the grabber encoded other than once a tick");
        const std::uint64_t read0 = platform::monotonic_us();
        std::int64_t wrong = 0;
        for (std::int32_t i = 1; i <= session.store().count(); ++i) {
            const capture::FrameImage frame = session.FrameAt(i);
            if (!frame || *frame != jpegs[order[static_cast<std::size_t>(i - 1)]]) {
                if (wrong++ < 5) std::fprintf(stderr, "frame %d reads back wrong\n", i);
            }
        }
        std::printf("read back: %d of %d frames exactly as grabbed, in %.2f s\n",
                    session.store().count() - static_cast<std::int32_t>(wrong), session.store().count(),
                    seconds(platform::monotonic_us() - read0));
        if (wrong != 0) die("frames read back wrong");
        session.CloseFrameStore();
        if (std::filesystem::exists(disk.path())) die("the spill file is still there after CloseFrameStore");
    }

    // The export against ffmpeg, on the same frames in the same order.
    const std::int64_t n = options.frames;
    BenchShell export_shell(g_scratch.path / "gifanim.gif");
    ReplayGrabber grabber(jpegs);
    capture::RecordingSession session(export_shell, grabber);
    if (n == options.ticks) {
        std::printf("export: all %lld frames\n", static_cast<long long>(n));
    } else {
        std::printf("export: the first %lld frames, recorded anew through a fresh session\n",
                    static_cast<long long>(n));
    }
    if (!session.store().Open(g_scratch.path)) die("cannot create the spill file");
    record(session, export_shell, n);

    const std::filesystem::path jpeg_dir = g_scratch.path / "jpeg";
    const std::filesystem::path seq_dir = g_scratch.path / "seq";
    std::filesystem::create_directories(jpeg_dir);
    std::filesystem::create_directories(seq_dir);
    for (int k = 0; k < kDistinct; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "d%02d.jpg", k);
        std::ofstream out(jpeg_dir / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(jpegs[k].data()), static_cast<std::streamsize>(jpegs[k].size()));
        if (!out) die("cannot write the replay JPEGs");
    }
    for (std::int64_t i = 0; i < n; ++i) {
        char link[32], target[32];
        std::snprintf(link, sizeof link, "frame%05lld.jpg", static_cast<long long>(i));
        std::snprintf(target, sizeof target, "../jpeg/d%02d.jpg", grabber.handed_out()[static_cast<std::size_t>(i)]);
        std::filesystem::create_symlink(target, seq_dir / link);
    }
    const std::filesystem::path ffmpeg_gif = g_scratch.path / "ffmpeg.gif";
    // /usr/bin/time for ffmpeg's own peak RSS: a child's ru_maxrss also counts the pages it
    // shared with this process between fork and exec.
    const std::filesystem::path peer_time = g_scratch.path / "ffmpeg.time";
    const std::string ffmpeg = "/usr/bin/time -f %M -o '" + peer_time.string() +
                               "' ffmpeg -nostdin -loglevel error -y -framerate 15 -i '" +
                               (seq_dir / "frame%05d.jpg").string() + "' '" + ffmpeg_gif.string() + "'";

    std::vector<double> ours_wall, ours_cpu, ours_rss, peer_wall, peer_cpu, peer_rss;
    std::uintmax_t ours_size = 0, peer_size = 0;
    auto run_ours = [&] {
        GifMaker maker;
        maker.SetOptimization({options.optimize, Optimization::kDefaultQuality});
        malloc_trim(0);
        reset_peak_rss();
        const std::uint64_t wall0 = platform::monotonic_us();
        const std::uint64_t cpu0 = platform::process_cpu_us();
        const int result =
            review::ExportFrames(session.store().Snapshot(), review::ExportDirection::forward, maker, export_shell);
        ours_wall.push_back(seconds(platform::monotonic_us() - wall0));
        ours_cpu.push_back(seconds(platform::process_cpu_us() - cpu0));
        ours_rss.push_back(static_cast<double>(status_kib("VmHWM")));
        if (result != 1) die("ExportFrames failed: " + maker.GetError());
        if (maker.FrameCount() != 0) die("the maker kept frames after a successful export");
        ours_size = std::filesystem::file_size(g_scratch.path / "gifanim.gif");
        malloc_trim(0);  // the maker's frames go back to the system before ffmpeg runs
    };
    auto run_peer = [&] {
        rusage before{}, after{};
        getrusage(RUSAGE_CHILDREN, &before);
        const std::uint64_t wall0 = platform::monotonic_us();
        const int status = std::system(ffmpeg.c_str());
        peer_wall.push_back(seconds(platform::monotonic_us() - wall0));
        getrusage(RUSAGE_CHILDREN, &after);
        auto us = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec); };
        peer_cpu.push_back((us(after.ru_utime) + us(after.ru_stime) - us(before.ru_utime) - us(before.ru_stime)) / 1e6);
        if (status != 0) die("ffmpeg failed: " + ffmpeg);
        std::ifstream time_out(peer_time);
        double kib = 0;
        if (!(time_out >> kib)) die("no peak RSS from /usr/bin/time in " + peer_time.string());
        peer_rss.push_back(kib);
        peer_size = std::filesystem::file_size(ffmpeg_gif);
    };
    for (int r = 0; r < options.rounds; ++r) {
        if (r % 2 == 0) {
            run_ours();
            run_peer();
        } else {
            run_peer();
            run_ours();
        }
        if (platform::stop_requested()) die("stopped");
    }
    const double ow = median(ours_wall), oc = median(ours_cpu), pw = median(peer_wall), pc = median(peer_cpu);
    std::printf("export of %lld frames 1920x1080, %d round(s), medians:\n", static_cast<long long>(n), options.rounds);
    std::printf("  %-38s %9s %9s %12s %12s\n", "", "wall s", "cpu s", "peak RSS", "GIF bytes");
    std::printf("  %-38s %9.2f %9.2f %8.0f KiB %12ju\n", "ExportFrames (GifMaker)", ow, oc, median(ours_rss),
                ours_size);
    std::printf("  %-38s %9.2f %9.2f %8.0f KiB %12ju\n", "ffmpeg -framerate 15 -i frame%05d.jpg", pw, pc,
                median(peer_rss), peer_size);
    std::printf(
        "  wall ffmpeg/ExportFrames = %.2f (above 1: ours faster), cpu ffmpeg/ExportFrames = %.2f; "
        "%.1f ms wall a frame (ours) against %.1f (ffmpeg)\n",
        pw / ow, pc / oc, ow * 1000.0 / static_cast<double>(n), pw * 1000.0 / static_cast<double>(n));
    if (!options.fit.empty()) {
        const capture::FrameStoreSnapshot frames = session.store().Snapshot();
        const review::FrameSource source = review::source_of(frames);
        const Optimization mode{options.optimize, Optimization::kDefaultQuality};
        std::uint64_t t0 = platform::monotonic_us();
        const std::uint64_t estimate = review::EstimateSize(source, review::ExportDirection::forward, {}, mode);
        const double estimate_s = seconds(platform::monotonic_us() - t0);
        std::printf("estimate: %ju bytes, %+.1f%% of the %ju written, in %.2f s (%.1f%% of the export's time)\n",
                    static_cast<std::uintmax_t>(estimate),
                    100.0 * (static_cast<double>(estimate) - static_cast<double>(ours_size)) / static_cast<double>(ours_size),
                    ours_size, estimate_s, 100.0 * estimate_s / ow);
        for (const std::int64_t bytes : options.fit) {
            const auto limit = static_cast<std::uint64_t>(bytes);
            t0 = platform::monotonic_us();
            const review::FitResult fit = review::FitUnder(source, review::ExportDirection::forward, {}, mode, limit,
                                                           g_scratch.path / "fitted.gif");
            const double fit_s = seconds(platform::monotonic_us() - t0);
            std::printf("fit under %ju: %s %ju bytes (%.1f%% of the limit) in %.1f s (%.2f exports): %s\n",
                        static_cast<std::uintmax_t>(limit), fit.met ? "wrote" : "NOT MET, smallest",
                        static_cast<std::uintmax_t>(fit.bytes), 100.0 * static_cast<double>(fit.bytes) / static_cast<double>(limit),
                        fit_s, fit_s / ow, fit.steps.empty() ? "as asked" : fit.steps.c_str());
        }
    }
    session.CloseFrameStore();
    return 0;
}

}  // namespace
}  // namespace gifanim::bench

int main(int argc, char** argv) {
    return gifanim::bench::run(argc, argv);
}
