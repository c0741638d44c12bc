// Every public operation under memory exhaustion: each one runs with its k-th allocation failing,
// for k = 0, 1, 2, ... until a run sees no failure. At every k nothing may escape, a failure must
// give the operation's failure result and an error text, and once allocations work again the
// same object must do the same call and give the same output as a run that never failed.
// Then allocations above a size fail, for pictures whose headers promise gigabytes, and the tool
// runs in a child process under an address-space limit.
#include <gtest/gtest.h>

#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#if __has_include(<cxxabi.h>)
#include <cxxabi.h>
#endif
#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "capture/session.h"
#include "gif/gif_maker.h"
#include "gif/gif_reader.h"
#include "imaging/convert.h"
#include "tests/unit/failing_allocator.h"
#include "tests/unit/quiet_recording_shell.h"
#include "tests/unit/scratch_dir.h"
#include "tests/unit/test_images.h"
#include "tests/unit/sanitizers.h"

namespace gifanim::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// No operation here needs nearly this many allocations; reaching it means the loop never ends.
constexpr std::size_t kMaxSteps = 20000;
// Broken steps reported in full per operation; the rest are counted.
constexpr int kReported = 3;

Bytes read_bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void write_bytes(const fs::path& p, const Bytes& b) {
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

std::string readable(const char* mangled) {
#if __has_include(<cxxabi.h>)
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    if (status == 0 && name) return name.get();
#endif
    return mangled;
}

std::string exception_name(const std::exception_ptr& e) {
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& x) {
        return readable(typeid(x).name()) + " (" + x.what() + ")";
    } catch (...) {
#if __has_include(<cxxabi.h>)
        if (const std::type_info* t = abi::__cxa_current_exception_type()) return readable(t->name());
#endif
        return "an exception of unknown type";
    }
}

// The named frames of the failed allocation, from operator new up to the operation's call.
std::string failure_site() {
    const std::string trace = last_failure_backtrace();
    std::string site;
    for (std::size_t at = 0, end; at < trace.size(); at = end + 1) {
        end = trace.find('\n', at);
        const std::string line = trace.substr(at, end - at);
        if (line.find("std::function<bool ()>::operator()") != std::string::npos) break;
        if (line.find("(+0x") == std::string::npos) site += "    " + line + "\n";
    }
    return site;
}

// One operation on one object: `prepare` puts a fresh object into the state the operation starts
// from, `call` runs the operation (false for its failure result), `error` gives the object's
// error text (absent for free functions), `output` what the object holds or wrote afterwards.
struct Operation {
    std::string name;
    std::function<void()> prepare;
    std::function<bool()> call;
    std::function<std::string()> error;
    std::function<Bytes()> output;
};

void check_under_failures(const Operation& op, FailWhere where) {
    op.prepare();
    ASSERT_TRUE(op.call()) << op.name << ": fails with no failure injected";
    const Bytes reference = op.output();

    std::vector<std::string> problems;
    std::size_t k = 0;
    for (bool injected = true; injected; ++k) {
        if (k == kMaxSteps) {
            problems.push_back("still failing after " + std::to_string(k) + " allocations");
            break;
        }
        op.prepare();
        bool ok = false;
        std::exception_ptr escaped;
        {
            FailingAllocations scope({FailOn::nth, k, where});
            try {
                ok = op.call();
            } catch (...) {
                escaped = std::current_exception();
            }
            injected = scope.failed() > 0;
        }
        const std::string at = "allocation " + std::to_string(k) + ": ";
        if (escaped) {
            problems.push_back(at + exception_name(escaped) + " escaped; the failed allocation:\n" + failure_site());
        } else if (!ok && !injected) {
            problems.push_back(at + "failed with no failure injected");
        } else if (!ok && op.error && op.error().empty()) {
            problems.push_back(at + "failed without an error text");
        }
        if (!ok && !op.call()) {
            problems.push_back(at + "the same call fails once allocations work again" +
                               (op.error ? ": " + op.error() : std::string()));
            continue;
        }
        if (op.output() != reference)
            problems.push_back(at + (ok ? "succeeded" : "retried") + " with a different output");
    }
    if (problems.empty()) return;
    std::string report = op.name + ": " + std::to_string(problems.size()) + " of " + std::to_string(k) +
                         " failure points broke the contract";
    for (int i = 0; i < kReported && i < static_cast<int>(problems.size()); ++i) report += "\n  " + problems[i];
    ADD_FAILURE() << report;
}

struct Scratch : ScratchDir {
    Scratch() : ScratchDir("gifanim-alloc-") {}
    fs::path operator/(const std::string& name) const { return dir / name; }
};

Bytes picture(int w, int h, int seed) {
    return make_bmp(w, h, [seed](int x, int y) { return screen_like_pixel(x, y, seed); });
}

struct Input {
    const char* format;
    Bytes bytes;
};

Bytes still_gif(const Bytes& bmp);

// The same small picture as BMP, JPEG, PNG and GIF.
std::vector<Input> small_inputs() {
    const Bytes bmp = picture(24, 17, 3);
    return {{"bmp", bmp},
            {"jpeg", imaging::Convert(bmp, imaging::kJpeg)},
            {"png", imaging::Convert(bmp, imaging::kPng)},
            {"gif", still_gif(bmp)}};
}

AnimationInfo animation() {
    AnimationInfo info;
    info.LoopCount = 2;
    info.exposition = "alloc";
    return info;
}

FrameInfo frame(bool dither) {
    FrameInfo f;
    f.DelayTime = 7;
    f.exposition = "frame";
    f.Dither = dither;
    return f;
}

// A maker that already holds one frame, so that the frame under test is not the one that sets
// the logical screen.
void start_maker(GifMaker& maker) {
    ASSERT_TRUE(maker.Create(animation()));
    ASSERT_TRUE(maker.AddFrame(frame(false), {}, picture(30, 20, 1))) << maker.GetError();
}

Bytes saved(GifMaker& maker, const fs::path& path) {
    if (!maker.SaveGif(path)) return {};
    return read_bytes(path);
}

TEST(AllocationFailure, MakerCreate) {
    Scratch s;
    std::unique_ptr<GifMaker> maker;
    for (const bool again : {false, true}) {
        check_under_failures({again ? "Create on a maker with frames" : "Create",
                              [&] {
                                  maker = std::make_unique<GifMaker>();
                                  if (again) start_maker(*maker);
                              },
                              [&] { return maker->Create(animation()); }, [&] { return maker->GetError(); },
                              [&] {
                                  if (maker->FrameCount() != 0 || !maker->AddFrame(frame(false), {}, picture(8, 8, 2)))
                                      return Bytes{};
                                  return saved(*maker, s / "out.gif");
                              }},
                             FailWhere::all_threads);
    }
}

TEST(AllocationFailure, MakerAddFrame) {
    Scratch s;
    std::unique_ptr<GifMaker> maker;
    for (const Input& in : small_inputs()) {
        const fs::path file = s / (std::string("in.") + in.format);
        write_bytes(file, in.bytes);
        for (const bool dither : {false, true}) {
            for (const bool from_file : {false, true}) {
                check_under_failures(
                    {std::string("AddFrame of ") + in.format + (dither ? ", dither" : ", popularity") +
                         (from_file ? ", from a file" : ", from memory"),
                     [&] {
                         maker = std::make_unique<GifMaker>();
                         start_maker(*maker);
                     },
                     [&] {
                         return from_file ? maker->AddFrame(frame(dither), file)
                                          : maker->AddFrame(frame(dither), {}, in.bytes);
                     },
                     [&] { return maker->GetError(); },
                     [&] { return maker->FrameCount() == 2 ? saved(*maker, s / "out.gif") : Bytes{}; }},
                    FailWhere::all_threads);
            }
        }
    }
}

TEST(AllocationFailure, MakerSaveGif) {
    Scratch s;
    const fs::path out = s / "out.gif";
    GifMaker maker;
    check_under_failures(
        {"SaveGif",
         [&] {
             start_maker(maker);
             ASSERT_TRUE(maker.AddFrame(frame(true), {}, picture(20, 30, 4)));
         },
         [&] { return maker.SaveGif(out); }, [&] { return maker.GetError(); }, [&] { return read_bytes(out); }},
        FailWhere::all_threads);
}

// An animation with a local palette, comments and a looping extension, from the maker.
Bytes animation_bytes() {
    const ScratchDir s("gifanim-alloc-animation-");
    GifMaker maker;
    start_maker(maker);
    EXPECT_TRUE(maker.AddFrame(frame(true), {}, picture(20, 12, 5)));
    return saved(maker, s.dir / "anim.gif");
}

// A GIF of one frame: the maker writes no extensions then.
Bytes still_gif(const Bytes& bmp) {
    const ScratchDir s("gifanim-alloc-still-");
    GifMaker maker;
    EXPECT_TRUE(maker.Create({}) && maker.AddFrame({}, {}, bmp));
    return saved(maker, s.dir / "still.gif");
}

// What a reader holds: the whole GIF, the frame count and the second frame as a BMP file.
Bytes reader_output(GifReader& reader) {
    Bytes out = reader.GetGifData(0);
    out.push_back(static_cast<std::uint8_t>(reader.FrameCount()));
    const Bytes bmp = reader.GetGifData(2);
    out.insert(out.end(), bmp.begin(), bmp.end());
    return out;
}

// The reader and conversion do all their work on the calling thread; the maker uses workers.
TEST(AllocationFailure, ReaderCreateAndLoadGif) {
    Scratch s;
    const Bytes gif = animation_bytes();
    ASSERT_FALSE(gif.empty());
    const fs::path file = s / "in.gif";
    write_bytes(file, gif);
    std::unique_ptr<GifReader> reader;
    auto fresh = [&](bool loaded) {
        reader = std::make_unique<GifReader>();
        if (loaded) {
            ASSERT_TRUE(reader->Create() && reader->LoadGif({}, gif));
        }
    };
    auto error = [&] { return reader->GetError(); };
    auto output = [&] { return reader->LoadGif({}, gif) ? reader_output(*reader) : Bytes{}; };
    check_under_failures({"GifReader::Create", [&] { fresh(false); }, [&] { return reader->Create(); }, error, output},
                         FailWhere::calling_thread);
    check_under_failures(
        {"GifReader::Create on a loaded reader", [&] { fresh(true); }, [&] { return reader->Create(); }, error, output},
        FailWhere::calling_thread);

    auto created = [&] {
        reader = std::make_unique<GifReader>();
        ASSERT_TRUE(reader->Create());
    };
    auto held = [&] { return reader_output(*reader); };
    check_under_failures({"LoadGif from memory", created, [&] { return reader->LoadGif({}, gif); }, error, held},
                         FailWhere::calling_thread);
    check_under_failures({"LoadGif from a file", created, [&] { return reader->LoadGif(file); }, error, held},
                         FailWhere::calling_thread);
}

TEST(AllocationFailure, ReaderGetGifData) {
    const Bytes gif = animation_bytes();
    GifReader reader;
    ASSERT_TRUE(reader.Create() && reader.LoadGif({}, gif));
    for (const int n : {0, 1, 2}) {
        Bytes data;
        check_under_failures({"GetGifData(" + std::to_string(n) + ")", [] {},
                              [&] {
                                  data = reader.GetGifData(n);
                                  return !data.empty();
                              },
                              [&] { return reader.GetError(); }, [&] { return data; }},
                             FailWhere::calling_thread);
    }
}

TEST(AllocationFailure, Convert) {
    Scratch s;
    for (const Input& in : small_inputs()) {
        for (const int format : {imaging::kBmp, imaging::kJpeg, imaging::kGif, imaging::kTiff, imaging::kPng}) {
            const std::string name = std::string(in.format) + " to " + std::string(imaging::extension_of(format));
            Bytes out;
            check_under_failures({"Convert " + name,
                                  [] {},
                                  [&] {
                                      out = imaging::Convert(in.bytes, format);
                                      return !out.empty();
                                  },
                                  {},
                                  [&] { return out; }},
                                 FailWhere::calling_thread);
            if (in.format != std::string("bmp")) continue;
            const fs::path file = s / "out";
            check_under_failures({"Convert to a file, " + name,
                                  [&] { out.clear(); },
                                  [&] { return imaging::Convert(in.bytes, format, file, out); },
                                  {},
                                  [&] {
                                      const Bytes written = read_bytes(imaging::with_extension(file, format));
                                      return written == out ? out : Bytes{};
                                  }},
                                 FailWhere::calling_thread);
        }
    }
}

void put_be32(Bytes& b, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<std::uint8_t>(v >> shift));
}

std::uint32_t crc32(const std::uint8_t* p, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

void put_chunk(Bytes& png, const char* type, const Bytes& data) {
    put_be32(png, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    put_be32(png, crc32(png.data() + start, png.size() - start));
}

// A 69-byte PNG whose header says 16384 x 16384 RGB; its only data is one filter byte.
Bytes png_promising_16384_squared() {
    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes ihdr;
    put_be32(ihdr, 16384);
    put_be32(ihdr, 16384);
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    put_chunk(png, "IHDR", ihdr);
    // A zlib stream holding one stored block of one zero byte.
    put_chunk(png, "IDAT", {0x78, 0x01, 0x01, 0x01, 0x00, 0xFE, 0xFF, 0x00, 0x00, 0x01, 0x00, 0x01});
    put_chunk(png, "IEND", {});
    return png;
}

// A GIF89a with a screen of screen_w x screen_h and one frame of frame_w x frame_h whose data is
// a clear code, one pixel and the end code.
Bytes gif_promising(std::uint16_t screen_w, std::uint16_t screen_h, std::uint16_t frame_w, std::uint16_t frame_h) {
    Bytes g = {'G', 'I', 'F', '8', '9', 'a'};
    auto word = [&](std::uint16_t v) {
        g.push_back(static_cast<std::uint8_t>(v));
        g.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    word(screen_w);
    word(screen_h);
    g.insert(g.end(), {0x80, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x2C});
    word(0);
    word(0);
    word(frame_w);
    word(frame_h);
    // Minimum code size 2: clear (4), index 1, end (5) in 3-bit codes.
    g.insert(g.end(), {0x00, 0x02, 0x02, 0x4C, 0x01, 0x00, 0x3B});
    return g;
}

// Allocations above 64 MiB fail; pictures that promise gigabytes must then give the failure result
// with an error text (or be refused before anything is allocated for them), and the object
// must still work.
// A tick whose frame found no memory leaves nothing behind that claims it: the same screen at
// the next tick is a frame of its own, not a longer showing of the frame before.
TEST(AllocationFailure, ATickThatRanOutOfMemoryIsNotTakenForTheLastFrame) {
    QuietRecordingShell shell;
    struct Grabber : capture::FrameGrabber {
        int screen = 0;
        bool Grab(const platform::ScreenRect&, bool, platform::ScreenPixels& pixels) override {
            pixels.bits_per_pixel = 32;
            pixels.data.assign(32, static_cast<std::uint8_t>(screen));
            return true;
        }
        Bytes Encode(platform::ScreenPixels& pixels) override { return Bytes(100, pixels.data[0]); }
    } grabber;
    capture::RecordingSession session(shell, grabber);
    ASSERT_TRUE(session.StartRecording());
    // 64 frames fill the room first made for them: the 65th needs more.
    for (grabber.screen = 1; grabber.screen <= 64; ++grabber.screen) session.CaptureTick();
    ASSERT_EQ(session.store().count(), 64);
    grabber.screen = 65;
    {
        FailingAllocations fail({FailOn::above, 1000});
        session.CaptureTick();
        EXPECT_GE(fail.failed(), 1u);
    }
    EXPECT_EQ(session.store().count(), 64);
    session.CaptureTick();
    ASSERT_EQ(session.store().count(), 65);
    EXPECT_EQ((*session.store().FrameAt(65))[0], 65);
    EXPECT_EQ(session.store().Infos()[63].DelayTime, 10);
}

TEST(AllocationFailure, PicturesPromisingGigabytes) {
    const std::vector<Input> bombs = {{"png 16384x16384", png_promising_16384_squared()},
                                      {"gif screen 18425x17993", gif_promising(18425, 17993, 1, 1)},
                                      {"gif frame 65535x65535", gif_promising(16, 16, 65535, 65535)}};
    // The call's result; false when something escaped, which is reported.
    auto run = [](const std::string& what, const std::function<bool()>& call) {
        bool ok = false;
        std::exception_ptr escaped;
        {
            FailingAllocations scope({FailOn::above, std::size_t{64} << 20, FailWhere::all_threads});
            try {
                ok = call();
            } catch (...) {
                escaped = std::current_exception();
            }
        }
        if (escaped)
            ADD_FAILURE() << what << ": " << exception_name(escaped) << " escaped; the failed allocation:\n"
                          << failure_site();
        return ok;
    };
    const Bytes small = picture(8, 8, 6);
    for (const Input& bomb : bombs) {
        GifMaker maker;
        ASSERT_TRUE(maker.Create(animation()));
        EXPECT_FALSE(run(std::string("AddFrame of a ") + bomb.format,
                         [&] { return maker.AddFrame(frame(false), {}, bomb.bytes); }));
        EXPECT_FALSE(maker.GetError().empty()) << bomb.format;
        EXPECT_TRUE(maker.AddFrame(frame(false), {}, small)) << bomb.format << ": " << maker.GetError();

        // A decoder may take a GIF's first frame alone (GDI+ does), so a small picture may come out,
        // but never one of the promised size.
        Bytes converted;
        run(std::string("Convert of a ") + bomb.format, [&] {
            converted = imaging::Convert(bomb.bytes, imaging::kBmp);
            return true;
        });
        EXPECT_LT(converted.size(), std::size_t{64} << 20) << bomb.format;
    }

    // The reader may refuse the frame when loading or when asked for it; either way with a text.
    GifReader reader;
    ASSERT_TRUE(reader.Create());
    const Bytes bomb = gif_promising(16, 16, 65535, 65535);
    if (run("LoadGif of a 65535x65535 frame", [&] { return reader.LoadGif({}, bomb); })) {
        EXPECT_FALSE(run("GetGifData(1) of a 65535x65535 frame", [&] { return !reader.GetGifData(1).empty(); }));
        EXPECT_FALSE(reader.GetError().empty());
        EXPECT_EQ(reader.GetGifData(0), bomb);
    } else {
        EXPECT_FALSE(reader.GetError().empty());
    }
}

#ifndef _WIN32

struct Exit {
    bool signalled = false;
    int code = -1;
    std::string err;
};

// Runs the gifanim program in a child process whose address space is limited to `kib` KiB, as
// `ulimit -v` does.
Exit run_tool_limited(const Scratch& s, std::vector<std::string> args, rlim_t kib) {
    const fs::path err_path = s / "stderr.txt";
    args.insert(args.begin(), GIFANIM_TOOL);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const rlimit limit{kib * 1024, kib * 1024};
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int null = open("/dev/null", O_WRONLY);
        if (setrlimit(RLIMIT_AS, &limit) != 0 || err < 0 || null < 0) _exit(126);
        dup2(null, 1);
        dup2(err, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    Exit r;
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return r;
    r.signalled = WIFSIGNALED(status);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    r.err = std::string(std::istreambuf_iterator<char>(std::ifstream(err_path, std::ios::binary).rdbuf()), {});
    return r;
}

// What a user sees with `ulimit -v 600000`: every failure an exit status 1 with a message.
TEST(ToolUnderMemoryLimit, HugePicturesGiveExitOneAndAMessage) {
    if (kSanitized)
        GTEST_SKIP() << "a sanitizer reserves terabytes of address space for its shadow memory, so an "
                        "address-space limit (ulimit -v) cannot work in this build";
    Scratch s;
    const std::string png = (s / "big.png").string(), gif = (s / "bomb.gif").string();
    write_bytes(png, png_promising_16384_squared());
    write_bytes(gif, gif_promising(16, 16, 65535, 65535));
    const std::string unknown_error = "未知错误";
    const std::vector<std::vector<std::string>> commands = {
        {"convert", "--format", "bmp", png, (s / "o.bmp").string()},
        {"make", "-o", (s / "o.gif").string(), png},
        {"make", "-o", (s / "o2.gif").string(), gif},
        {"extract", gif, "1", (s / "o2.bmp").string()},
    };
    for (const auto& command : commands) {
        std::string line;
        for (const auto& word : command) line += " " + word;
        const Exit r = run_tool_limited(s, command, 600000);
        EXPECT_FALSE(r.signalled) << line << ": killed by signal " << -r.code << "\n" << r.err;
        EXPECT_EQ(r.code, 1) << line << "\n" << r.err;
        EXPECT_NE(r.err.find_first_not_of(" \r\n"), std::string::npos) << line << ": nothing on stderr";
        EXPECT_EQ(r.err.find(unknown_error), std::string::npos) << line << ": " << r.err;
    }
}

#endif

}  // namespace
}  // namespace gifanim::test
