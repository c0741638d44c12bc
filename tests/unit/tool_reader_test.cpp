// The tool's reading subcommands (info, extract, set), run in-process on GIFs the maker writes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "capture/frame_store.h"
#include "gif/gif_maker.h"
#include "platform/codecs.h"
#include "platform/text.h"
#include "tests/unit/gif_oracle.h"
#include "tests/unit/scratch_dir.h"
#include "tests/unit/test_images.h"
#include "tools/gifanim_tool.h"

namespace gifanim::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

struct Scratch : ScratchDir {
    Scratch() : ScratchDir("gifanim-tool-") {}
    std::string operator/(const std::string& name) const { return (dir / name).string(); }
};

Bytes read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Outcome {
    int status = -1;
    std::string out, err;
};

// Runs the tool with standard output and standard error sent to files.
Outcome run_tool(const Scratch& s, const std::vector<std::string>& words) {
    std::vector<tool::Argument> args;
    for (const auto& w : words) args.push_back({fs::path(w), w});
    const std::string out_path = s / "stdout.txt", err_path = s / "stderr.txt";
    std::fflush(stdout);
    std::fflush(stderr);
    const int saved_out = dup(1), saved_err = dup(2);
    const int out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    Outcome r;
    r.status = tool::run(args);
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    for (int fd : {saved_out, saved_err, out_fd, err_fd}) close(fd);
    r.out = read_text(out_path);
    r.err = read_text(err_path);
    return r;
}

Bytes solid_bmp(int w, int h, Rgb c) {
    return make_bmp(w, h, [c](int, int) { return c; });
}

// Three frames of different sizes, delays, positions and comments; 0x1357 and (3, 5) mark the
// second frame's delay and position so that its bytes can be found.
Bytes make_animation(const Scratch& s, const std::string& name, bool loop = true) {
    GifMaker maker;
    AnimationInfo info;
    info.LOOP = loop;
    info.LoopCount = 4;
    info.exposition = "plain";
    maker.Create(info);
    FrameInfo a;
    a.DelayTime = 7;
    a.exposition = "a b";
    FrameInfo b;
    b.DelayTime = 0x1357;
    b.Left = 3;
    b.Top = 5;
    b.DisposalMethod = 2;
    b.Transparency = 1;
    b.exposition = "say \"hi\"\\ \t\n\r\x01\x7f#";  // the maker stops a comment at a zero byte
    FrameInfo c;
    c.DelayTime = 300;
    c.exposition = "录制";
    EXPECT_TRUE(maker.AddFrame(a, {}, solid_bmp(6, 4, {200, 0, 0})));
    EXPECT_TRUE(maker.AddFrame(b, {}, solid_bmp(5, 3, {0, 200, 0})));
    EXPECT_TRUE(maker.AddFrame(c, {}, solid_bmp(2, 7, {0, 0, 200})));
    EXPECT_TRUE(maker.SaveGif(s / name)) << maker.GetError();
    return read_bytes(s / name);
}

std::size_t find(const Bytes& hay, const Bytes& needle) {
    const auto it = std::search(hay.begin(), hay.end(), needle.begin(), needle.end());
    EXPECT_NE(it, hay.end()) << "pattern not found";
    return static_cast<std::size_t>(it - hay.begin());
}

// Where a and b differ, with b's bytes there.
std::vector<std::pair<std::size_t, int>> differences(const Bytes& a, const Bytes& b) {
    std::vector<std::pair<std::size_t, int>> out;
    EXPECT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] != b[i]) out.emplace_back(i, b[i]);
    return out;
}

using Diff = std::vector<std::pair<std::size_t, int>>;

TEST(ToolInfo, PrintsTheAnimationAndEveryFrameWithQuotedComments) {
    Scratch s;
    Bytes gif = make_animation(s, "anim.gif");
    gif[find(gif, {0x7F, '#'}) + 1] = 0x00;
    write_bytes(s / "anim.gif", gif);
    const Outcome r = run_tool(s, {"info", s / "anim.gif"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "animation width=6 height=4 loop=1 loop_count=4 bg=0 frames=3 colors=256 comment=plain\n"
              "frame 1 delay=7 left=0 top=0 width=6 height=4 disposal=0 transparency=0 transparent_index=0 "
              "colors=256 comment=\"a b\"\n"
              "frame 2 delay=4951 left=3 top=5 width=5 height=3 disposal=2 transparency=1 transparent_index=0 "
              "colors=256 comment=\"say \\\"hi\\\"\\\\ \\t\\n\\r\\x01\\x7F\\x00\"\n"
              "frame 3 delay=300 left=0 top=0 width=2 height=7 disposal=0 transparency=0 transparent_index=0 "
              "colors=256 comment=\xE5\xBD\x95\xE5\x88\xB6\n");  // the comment in UTF-8
}

TEST(ToolInfo, StillImageHasNoLoopNoLocalTableAndAnEmptyComment) {
    Scratch s;
    GifMaker maker;
    maker.Create(AnimationInfo{});
    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, solid_bmp(9, 2, {1, 2, 3})));
    ASSERT_TRUE(maker.SaveGif(s / "still.gif"));
    const Outcome r = run_tool(s, {"info", s / "still.gif"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "animation width=9 height=2 loop=0 loop_count=0 bg=0 frames=1 colors=256 comment=\n"
              "frame 1 delay=0 left=0 top=0 width=9 height=2 disposal=0 transparency=0 transparent_index=0 "
              "colors=0 comment=\n");
}

TEST(ToolExtract, WritesFramesAsBmpFilesAndZeroAsTheWholeGif) {
    Scratch s;
    const Bytes gif = make_animation(s, "anim.gif");
    const int sizes[3][2] = {{6, 4}, {5, 3}, {2, 7}};
    for (int n = 1; n <= 3; ++n) {
        const std::string out = s / ("f" + std::to_string(n) + ".bmp");
        ASSERT_EQ(run_tool(s, {"extract", s / "anim.gif", std::to_string(n), out}).status, 0);
        const Bytes bmp = read_bytes(out);
        ASSERT_GE(bmp.size(), 54u);
        EXPECT_EQ(bmp[0], 'B');
        EXPECT_EQ(bmp[1], 'M');
        EXPECT_EQ(bmp[18] | (bmp[19] << 8), sizes[n - 1][0]) << "frame " << n;
        EXPECT_EQ(bmp[22] | (bmp[23] << 8), sizes[n - 1][1]) << "frame " << n;
    }
    ASSERT_EQ(run_tool(s, {"extract", s / "anim.gif", "0", s / "whole.gif"}).status, 0);
    EXPECT_EQ(read_bytes(s / "whole.gif"), gif);

    const Outcome r = run_tool(s, {"extract", s / "anim.gif", "4", s / "f4.bmp"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("gifanim: ", 0), 0u) << r.err;
    EXPECT_FALSE(fs::exists(s / "f4.bmp"));
}

TEST(ToolSet, EachOptionChangesExactlyItsBytes) {
    Scratch s;
    const Bytes gif = make_animation(s, "anim.gif");
    const std::size_t gce2 = find(gif, {0x21, 0xF9, 0x04, 0x09, 0x57, 0x13, 0x00, 0x00});
    const std::size_t desc2 = find(gif, {0x2C, 3, 0, 5, 0, 5, 0, 3, 0, 0x87});
    const std::size_t gce1 = find(gif, {0x21, 0xF9, 0x04, 0x00, 7, 0, 0x00, 0x00});
    const std::size_t loop = find(gif, {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1}) + 13;
    const std::size_t local2 = desc2 + 10;
    struct Case {
        std::vector<std::string> options;
        Diff expected;
    };
    const std::vector<Case> cases = {
        {{}, {}},
        {{"--frame", "2", "--delay", "1234"}, {{gce2 + 4, 0xD2}, {gce2 + 5, 0x04}}},
        {{"--delay", "65535"}, {{gce1 + 4, 0xFF}, {gce1 + 5, 0xFF}}},  // frame 1 by default
        {{"--frame", "2", "--left", "513", "--top", "0"}, {{desc2 + 1, 0x01}, {desc2 + 2, 0x02}, {desc2 + 3, 0x00}}},
        {{"--frame", "2", "--disposal", "7", "--transparency", "0"}, {{gce2 + 3, 0x1C}}},
        {{"--transparency", "1"}, {{gce1 + 3, 0x01}}},
        {{"--width", "300", "--bg", "255"}, {{6, 0x2C}, {7, 0x01}, {11, 0xFF}}},
        {{"--height", "258"}, {{8, 0x02}, {9, 0x01}}},
        {{"--loop-count", "513"}, {{loop, 0x01}, {loop + 1, 0x02}}},
        {{"--palette", "0:1=123456", "--palette", "2:0=abcdef"},
         {{13 + 3, 0x12}, {13 + 4, 0x34}, {13 + 5, 0x56}, {local2, 0xAB}, {local2 + 1, 0xCD}, {local2 + 2, 0xEF}}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> words = {"set", s / "anim.gif", "-o", s / "out.gif"};
        words.insert(words.end(), c.options.begin(), c.options.end());
        std::string what;
        for (const auto& o : c.options) what += o + " ";
        const Outcome r = run_tool(s, words);
        ASSERT_EQ(r.status, 0) << what << r.err;
        EXPECT_EQ(differences(gif, read_bytes(s / "out.gif")), c.expected) << what;
    }
}

TEST(ToolSet, FailuresLeaveNoOutput) {
    Scratch s;
    make_animation(s, "anim.gif");
    make_animation(s, "once.gif", false);
    GifMaker maker;
    maker.Create(AnimationInfo{});
    ASSERT_TRUE(maker.AddFrame(FrameInfo{}, {}, solid_bmp(3, 3, {1, 2, 3})));
    ASSERT_TRUE(maker.SaveGif(s / "still.gif"));
    const std::vector<std::vector<std::string>> failing = {
        {"set", s / "anim.gif", "-o", s / "out.gif", "--frame", "4", "--delay", "1"},
        {"set", s / "once.gif", "-o", s / "out.gif", "--loop-count", "2"},
        {"set", s / "still.gif", "-o", s / "out.gif", "--palette", "1:0=000000"},
        {"set", s / "missing.gif", "-o", s / "out.gif"},
    };
    for (const auto& words : failing) {
        const Outcome r = run_tool(s, words);
        EXPECT_EQ(r.status, 1) << words[1] << " " << words.back();
        EXPECT_EQ(r.err.rfind("gifanim: ", 0), 0u) << r.err;
        EXPECT_FALSE(fs::exists(s / "out.gif")) << words.back();
    }
}

// Damage: info shows what it could read before it (the animation line with its loop count, the
// frames that read) and says what is damaged; extract of a damaged frame says so. Both exit 1.
TEST(ToolReader, DamagedFilesShowWhatReadsAndSayWhatIsDamaged) {
    Scratch s;
    Bytes gif = make_animation(s, "anim.gif");
    const std::string damaged_file = platform::gbk_to_utf8("GIF图片文件已经损坏");
    const std::string damaged_frame = platform::gbk_to_utf8("当前帧已经损坏");

    // The second frame's control block made an unknown block: nothing but the animation reads.
    Bytes broken = gif;
    broken[find(broken, {0x21, 0xF9, 4, 0x09, 0x57, 0x13})] = 0x2D;
    write_bytes(s / "broken.gif", broken);
    Outcome r = run_tool(s, {"info", s / "broken.gif"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("animation width=6 height=4 loop=1 loop_count=4 bg=0 frames=0 ", 0), 0u) << r.out;
    EXPECT_NE(r.err.find(damaged_file), std::string::npos) << r.err;

    // Cut right behind the third frame's control block: its walk finds no image descriptor.
    const std::size_t third = find(gif, {0x21, 0xF9, 4, 0x00, 0x2C, 0x01});
    Bytes cut(gif.begin(), gif.begin() + static_cast<std::ptrdiff_t>(third + 8));
    write_bytes(s / "cut.gif", cut);
    r = run_tool(s, {"info", s / "cut.gif"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("frames=3 "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nframe 2 delay=4951 "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("frame 3"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "gifanim: " + (s / "cut.gif") + ": frame 3: " + damaged_frame + "\n");
    r = run_tool(s, {"extract", s / "cut.gif", "3", s / "f.bmp"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "gifanim: " + (s / "cut.gif") + ": frame 3: " + damaged_frame + "\n");
    EXPECT_FALSE(fs::exists(s / "f.bmp"));
    EXPECT_EQ(run_tool(s, {"extract", s / "cut.gif", "2", s / "f.bmp"}).status, 0);
}

TEST(ToolReader, UsageErrorsAndUnreadableFiles) {
    Scratch s;
    make_animation(s, "anim.gif");
    const std::string gif = s / "anim.gif", out = s / "out.gif";
    const std::vector<std::vector<std::string>> usage = {
        {"info"},
        {"info", gif, gif},
        {"info", "--verbose", gif},
        {"extract", gif, "1"},
        {"extract", gif, "one", out},
        {"extract", gif, "-1", out},
        {"set", gif},
        {"set", "-o", out},
        {"set", gif, gif, "-o", out},
        {"set", gif, "-o", out, "--delay", "65536"},
        {"set", gif, "-o", out, "--frame", "0", "--delay", "1"},
        {"set", gif, "-o", out, "--disposal", "8"},
        {"set", gif, "-o", out, "--transparency", "2"},
        {"set", gif, "-o", out, "--bg", "256"},
        {"set", gif, "-o", out, "--left"},
        {"set", gif, "-o", out, "--palette", "1:2=12345"},
        {"set", gif, "-o", out, "--palette", "1:256=123456"},
        {"set", gif, "-o", out, "--palette", "1=2:123456"},
        {"set", gif, "-o", out, "--palette", "1:2=12345g"},
        {"set", gif, "-o", out, "--bogus"},
    };
    for (const auto& words : usage) {
        const Outcome r = run_tool(s, words);
        EXPECT_EQ(r.status, 2) << words.back();
        EXPECT_NE(r.err.find("usage: gifanim " + words[0]), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(out));

    write_bytes(s / "text.gif", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!', '!'});
    Bytes cut = read_bytes(gif);
    cut.resize(12);
    write_bytes(s / "cut.gif", cut);
    for (const char* name : {"missing.gif", "text.gif", "cut.gif"}) {
        for (const std::vector<std::string>& words :
             {std::vector<std::string>{"info", s / name}, {"extract", s / name, "1", s / "f.bmp"}}) {
            const Outcome r = run_tool(s, words);
            EXPECT_EQ(r.status, 1) << words[0] << " " << name;
            EXPECT_EQ(r.err.rfind("gifanim: " + (s / name) + ": ", 0), 0u) << r.err;
            EXPECT_GT(r.err.size(), ("gifanim: " + (s / name) + ": \n").size()) << "no reason given";
            EXPECT_EQ(r.out, "");
        }
    }

    const Outcome help = run_tool(s, {"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* command : {"make", "info FILE", "extract FILE", "set FILE"})
        EXPECT_NE(help.out.find(command), std::string::npos) << command;
    for (const char* command : {"info", "extract", "set"})
        EXPECT_EQ(run_tool(s, {command, "--help"}).status, 0) << command;
}

// --optimize writes what the library's optimizing mode writes, at the quality given; a quality
// outside 1..100 is a usage error that writes nothing.
TEST(ToolMake, OptimizeWritesTheLibrarysOptimizedGif) {
    Scratch s;
    std::vector<std::string> images;
    for (int i = 0; i < 3; ++i) {
        const std::string name = s / ("f" + std::to_string(i) + ".bmp");
        write_bytes(name, make_bmp(40, 30, [i](int x, int y) { return screen_like_pixel(x + 3 * i, y, 2); }));
        images.push_back(name);
    }
    for (int quality : {Optimization::kDefaultQuality, 35}) {
        GifMaker maker;
        maker.SetOptimization({true, quality});
        maker.Create(AnimationInfo{});
        FrameInfo frame;
        frame.DelayTime = 10;
        for (const auto& image : images) ASSERT_TRUE(maker.AddFrame(frame, image)) << maker.GetError();
        ASSERT_TRUE(maker.SaveGif(s / "lib.gif")) << maker.GetError();
        std::vector<std::string> words = {"make", "-o", s / "tool.gif", "--delay", "10", "--optimize"};
        if (quality != Optimization::kDefaultQuality) words.insert(words.end(), {"--quality", std::to_string(quality)});
        words.insert(words.end(), images.begin(), images.end());
        ASSERT_EQ(run_tool(s, words).status, 0);
        EXPECT_EQ(read_bytes(s / "tool.gif"), read_bytes(s / "lib.gif")) << "quality " << quality;
    }
    for (const char* bad : {"0", "101", "high"}) {
        const Outcome r = run_tool(s, {"make", "-o", s / "bad.gif", "--optimize", "--quality", bad, images[0]});
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_NE(r.err.find("usage: gifanim make"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(s / "bad.gif"));
}

// gifanim recover on a recording a process left behind, one of whose frames was damaged on disk:
// the listing, the GIF of what can be read with a report of what could not, and the errors.
TEST(ToolRecover, ListsWritesAndRemovesALeftRecordingAndSaysWhatWasLeftOut) {
    Scratch s;
    const char* old_tmp = std::getenv("TMPDIR");
    const std::string saved_tmp = old_tmp ? old_tmp : "";
    setenv("TMPDIR", s.dir.c_str(), 1);
    fs::path file;
    {
        capture::FrameStore store;
        ASSERT_TRUE(store.Open(s.dir));
        store.set_capture_rect({0, 0, 6, 4});
        const Rgb colours[3] = {{200, 10, 20}, {30, 190, 40}, {50, 60, 180}};
        for (int i = 0; i < 3; ++i) {
            FrameInfo info;
            info.DelayTime = static_cast<std::int16_t>(10 * (i + 1));
            store.Append(std::make_shared<const Bytes>(solid_bmp(6, 4, colours[i])), info, false);
        }
        file = store.DiskFrames().path();
        store.Release();
    }
    // One byte of the green frame's pixels (blue, green, red on disk) changes.
    Bytes bytes = read_bytes(file);
    const Bytes green{40, 190, 30, 40, 190, 30};
    const auto at = std::search(bytes.begin(), bytes.end(), green.begin(), green.end());
    ASSERT_NE(at, bytes.end());
    at[1] = 199;
    write_bytes(file, bytes);

    Outcome r = run_tool(s, {"recover"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, file.string() + "\t3 frames, 0.60 s, 6x4\n");

    r = run_tool(s, {"recover", file.string(), "-o", s.dir.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is a folder"), std::string::npos) << r.err;
    EXPECT_EQ(run_tool(s, {"recover", file.string()}).status, 2);
    EXPECT_EQ(run_tool(s, {"recover", "-o", s / "x.gif"}).status, 2);
    r = run_tool(s, {"recover", s / "none.tmp", "-o", s / "x.gif"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no such file"), std::string::npos) << r.err;
    r = run_tool(s, {"recover", file.string(), "-o", s / "x.gif", "--crop", "10,10,20,20"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the crop rectangle lies outside the recording"), std::string::npos) << r.err;
    ASSERT_TRUE(fs::exists(file)) << "a failure keeps the recording";

    r = run_tool(s, {"recover", file.string(), "-o", s / "out.gif"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string size = std::to_string(fs::file_size(s / "out.gif"));
    EXPECT_EQ(r.out,
              s / "out.gif" + ": 2 frames, 0.40 s, " + size + " bytes; 1 frames could not be read and were left out\n");
    EXPECT_FALSE(fs::exists(file));
    const OracleGif gif = oracle_decode(s / "out.gif");
    ASSERT_EQ(gif.frames.size(), 2u);
    EXPECT_EQ(gif.frames[0].delay, 10);
    EXPECT_EQ(gif.frames[1].delay, 30);
    EXPECT_EQ(run_tool(s, {"recover"}).out, "");
    if (old_tmp) {
        setenv("TMPDIR", saved_tmp.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
}

// Images of two kinds (BMP and PNG, whose file sizes do not compare): the plain estimate stays
// close to what make writes.
TEST(ToolShape, APlainEstimateOfImagesOfTwoKindsIsClose) {
    Scratch s;
    std::vector<std::string> words{"make", "--delay", "10", "-o", s / "out.gif"};
    for (int i = 0; i < 12; ++i) {
        const std::vector<std::uint8_t> bmp = make_bmp(240, 160, [i](int x, int y) {
            if (x >= 5 * i && x < 5 * i + 20 && y >= 20 && y < 50) return Rgb{230, 30, 30};
            return screen_like_pixel(x, y, 5);
        });
        std::vector<std::uint8_t> png;
        if (i % 2 == 1) {
            ASSERT_TRUE(gifanim::platform::transcode(bmp, gifanim::platform::ImageFormat::png, png));
        }
        const std::string name = s / ("f" + std::to_string(10 + i) + (i % 2 == 1 ? ".png" : ".bmp"));
        write_bytes(name, i % 2 == 1 ? png : bmp);
        words.push_back(name);
    }
    ASSERT_EQ(run_tool(s, words).status, 0);
    const double written = static_cast<double>(fs::file_size(s / "out.gif"));
    words.insert(words.begin() + 1, "--estimate");
    const Outcome r = run_tool(s, words);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NEAR(std::stod(r.out.substr(std::string("estimate: ").size())), written, 0.1 * written) << r.out;
}

// make with the options that shape the GIF: giflib reads what they wrote.
TEST(ToolShape, ScaleCropSpeedFrameRateEstimateAndSizeLimit) {
    Scratch s;
    std::vector<std::string> images;
    for (int i = 0; i < 12; ++i) {
        const std::string name = s / ("f" + std::to_string(10 + i) + ".bmp");
        write_bytes(name, make_bmp(120, 80, [i](int x, int y) {
                        if (x >= 5 * i && x < 5 * i + 20 && y >= 20 && y < 50) return Rgb{230, 30, 30};
                        return screen_like_pixel(x, y, 5);
                    }));
        images.push_back(name);
    }
    const auto make = [&](std::vector<std::string> words) {
        words.insert(words.begin(), {"make", "--delay", "10", "-o", s / "out.gif"});
        words.insert(words.end(), images.begin(), images.end());
        return run_tool(s, words);
    };
    const auto sizes = [](const OracleGif& gif) {
        int total = 0, least = 1 << 30;
        for (const OracleFrame& f : gif.frames) {
            total += f.delay;
            least = std::min(least, f.delay);
        }
        return std::pair{total, least};
    };

    ASSERT_EQ(make({"--scale", "50%"}).status, 0);
    OracleGif gif = oracle_decode(s / "out.gif");
    EXPECT_EQ(gif.width, 60);
    EXPECT_EQ(gif.height, 40);
    ASSERT_EQ(gif.frames.size(), 12u);
    // In their order (every second frame is shaped on a thread of its own): the red box's left
    // edge moves right from each frame to the next.
    int last_edge = -1;
    for (const OracleFrame& f : gif.frames) {
        const std::vector<std::uint8_t>& table = f.local_palette.empty() ? gif.global_palette : f.local_palette;
        int edge = -1;
        for (int x = 0; x < f.width && edge < 0; ++x) {
            const std::size_t k = 3u * f.pixels[static_cast<std::size_t>(17 * f.width + x)];
            if (table[k] > 150 && table[k + 1] < 100) edge = x;
        }
        EXPECT_GT(edge, last_edge);
        last_edge = edge;
    }
    ASSERT_EQ(make({"--crop", "10,10,70,50", "--scale", "30x30", "--optimize"}).status, 0);
    gif = oracle_decode(s / "out.gif");
    EXPECT_EQ(gif.width, 30);
    EXPECT_EQ(gif.height, 20);
    ASSERT_EQ(make({"--speed", "2", "--max-fps", "5"}).status, 0);
    EXPECT_EQ(sizes(oracle_decode(s / "out.gif")), (std::pair{60, 20}));

    fs::remove(s / "out.gif");
    Outcome r = make({"--optimize", "--estimate"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("estimate: ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find(" bytes\n"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(s / "out.gif"));
    r = make({"--max-size", "4KB"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("fitted ", 0), 0u) << r.out;
    EXPECT_LE(fs::file_size(s / "out.gif"), 4000u);
    EXPECT_EQ(oracle_decode(s / "out.gif").frames.empty(), false);
    fs::remove(s / "out.gif");
    r = make({"--max-size", "10"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("under 10 bytes: the smallest reached is"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(s / "out.gif"));
    // A scale to frames no GIF holds is refused before anything is made.
    r = make({"--scale", "65535"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("65535 pixels a side"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(s / "out.gif"));
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--scale", "0%"}, {"--speed", "0"}, {"--max-fps", "0"}, {"--max-size", "5XB"}, {"--crop", "5,5,5,9"}}) {
        EXPECT_EQ(make(bad).status, 2) << bad[0] << " " << bad[1];
    }
    // A frame that cannot be decoded, at a place shaped on the second thread, is named.
    write_bytes(images[5], Bytes(100, 7));
    r = make({"--scale", "50%"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("f15.bmp"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("cannot be decoded"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(s / "out.gif"));
}

}  // namespace
}  // namespace gifanim::test
