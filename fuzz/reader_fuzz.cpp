// GifReader and the picture loader on arbitrary bytes. The bytes are loaded as they are and again
// with "GIF89a" written over their first six, so that mutations get past the header checks; then
// every method runs on every frame number from -1 to one past the last, with settings drawn from
// the input. A few properties that hold for any input are checked on the way; a broken one aborts,
// so libFuzzer keeps the input like any crash.
#include <turbojpeg.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_draw.h"
#include "gif/gif_index.h"
#include "gif/gif_reader.h"
#include "gif/picture_loader.h"
#include "platform/picture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using gifanim::GifReader;

// Frames and pictures are decoded only up to this many pixels. Both hand out the full picture
// whatever the data holds, so a file of 40 bytes may rightly ask for gigabytes; the fuzzer would
// stop at its memory limit on those instead of looking further. Widths and heights up to 65535
// still get through as long as the other side is small.
constexpr std::uint64_t kMaxPixels = 1u << 18;

// SaveGif and LoadGif from a file run for one input in this many (by size), since they cost far
// more than the rest.
constexpr std::size_t kSaveEvery = 16;

using gifanim::fuzz::check;

// Settings drawn from the input, read backwards from its end (and round again), so that the same
// bytes serve as the file from the front.
class Draw {
public:
    explicit Draw(std::span<const std::uint8_t> in) : in_(in) {}
    std::uint8_t byte() {
        if (in_.empty()) return 0;
        const std::uint8_t b = in_[in_.size() - 1 - pos_ % in_.size()];
        ++pos_;
        return b;
    }
    std::uint16_t word() { return static_cast<std::uint16_t>(byte() | (byte() << 8)); }
    std::uint32_t colour() { return static_cast<std::uint32_t>(word()) | (static_cast<std::uint32_t>(word()) << 16); }

private:
    std::span<const std::uint8_t> in_;
    std::size_t pos_ = 0;
};

bool fits(std::uint64_t width, std::uint64_t height) {
    return width * height <= kMaxPixels;
}

std::uint32_t be32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

// Whether the picture loader may be given these bytes: the sizes its decoders will allocate for,
// read from the headers the same way. BMP needs no check, as its pixels must all be in the file.
bool picture_within_budget(std::span<const std::uint8_t> b) {
    if (b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) {
        tjhandle tj = tjInitDecompress();
        int w = 0, h = 0, subsamp = 0, colourspace = 0;
        const bool header =
            tj && tjDecompressHeader3(tj, const_cast<std::uint8_t*>(b.data()), static_cast<unsigned long>(b.size()), &w,
                                      &h, &subsamp, &colourspace) == 0;
        if (tj) tjDestroy(tj);
        return !header || fits(static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h));
    }
    if (b.size() >= 8 && b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G') {
        // libpng refuses a file whose first chunk is not the header.
        if (b.size() < 24 || std::memcmp(b.data() + 12, "IHDR", 4) != 0) return true;
        return fits(be32(b.data() + 16), be32(b.data() + 20));
    }
    if (b.size() >= 13 && gifanim::is_gif_signature(b)) {
        if (!fits(gifanim::read16(b, 6), gifanim::read16(b, 8))) return false;
        const gifanim::GifIndex index = gifanim::build_index(b);
        if (index.frames.empty()) return true;
        const auto frame = gifanim::walk_frame(b, index.frames.front());
        return !frame || fits(gifanim::read16(b, frame->descriptor + 5), gifanim::read16(b, frame->descriptor + 7));
    }
    return true;
}

void load_picture(std::span<const std::uint8_t> bytes) {
    if (!picture_within_budget(bytes)) return;
    gifanim::platform::Dib24 dib;
    if (gifanim::decode_picture(bytes, dib) != gifanim::platform::LoadResult::ok) return;
    check(dib.width > 0 && dib.height > 0 && dib.stride == gifanim::platform::Dib24::stride_for(dib.width),
          "picture size");
    check(dib.capacity >= dib.stride * static_cast<std::size_t>(dib.height), "picture buffer");
}

std::uint32_t le32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// A frame as a BMP file: its header must describe exactly the bytes handed out.
void check_bmp(const Bytes& bmp, const gifanim::FrameInfo& info) {
    check(bmp.size() >= 54 && bmp[0] == 'B' && bmp[1] == 'M', "BMP signature");
    check(le32(bmp, 2) == bmp.size(), "BMP file size");
    check(le32(bmp, 18) == static_cast<std::uint16_t>(info.Width), "BMP width");
    check(le32(bmp, 22) == static_cast<std::uint16_t>(info.Depth), "BMP height");
    const unsigned depth = bmp[28];
    check(depth == 1 || depth == 4 || depth == 8, "BMP depth");
    const std::size_t stride = ((static_cast<std::size_t>(le32(bmp, 18)) * depth + 31) / 32) * 4;
    check(le32(bmp, 10) == 54 + 4 * (1u << depth), "BMP pixel offset");
    check(bmp.size() == le32(bmp, 10) + stride * le32(bmp, 22), "BMP pixel size");
}

Bytes read_back(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs every method on every frame of whatever the reader holds now, loaded or not.
void exercise(GifReader& reader, Draw& draw, bool save) {
    const int count = reader.FrameCount();
    const gifanim::AnimationInfo gif = reader.GetGifInfo();
    check(gif.FrameCount == count, "frame count");

    gifanim::AnimationInfo edit = gif;
    edit.Width = static_cast<std::int16_t>(draw.word());
    edit.Depth = static_cast<std::int16_t>(draw.word());
    edit.BgColorIndex = draw.byte();
    edit.LOOP = draw.byte() & 1;
    edit.LoopCount = static_cast<std::int16_t>(draw.word());
    if (reader.SetGifInfo(edit)) {
        const gifanim::AnimationInfo after = reader.GetGifInfo();
        check(after.Width == edit.Width && after.Depth == edit.Depth && after.BgColorIndex == edit.BgColorIndex,
              "screen settings written");
    }
    (void)reader.GetError();

    for (int n = -1; n <= count + 1; ++n) {
        const gifanim::FrameInfo info = reader.GetFrameInfo(n);
        if (fits(static_cast<std::uint16_t>(info.Width), static_cast<std::uint16_t>(info.Depth))) {
            const Bytes data = reader.GetGifData(n);
            if (n >= 1 && !data.empty()) check_bmp(data, info);
        }

        gifanim::FrameInfo frame = info;
        frame.DelayTime = static_cast<std::int16_t>(draw.word());
        frame.Left = static_cast<std::int16_t>(draw.word());
        frame.Top = static_cast<std::int16_t>(draw.word());
        frame.DisposalMethod = draw.byte();
        frame.Transparency = draw.byte();
        if (reader.SetFrameInfo(frame, n)) {
            const gifanim::FrameInfo after = reader.GetFrameInfo(n);
            check(after.Left == frame.Left && after.Top == frame.Top, "frame position written");
            check(after.Width == info.Width && after.Depth == info.Depth, "frame size kept");
        }

        for (const std::uint8_t index : {std::uint8_t{0}, std::uint8_t{1}, std::uint8_t{255}, draw.byte()}) {
            const std::int32_t before = reader.GetPalette(n, index);
            const std::uint32_t colour = draw.colour();
            const bool written = reader.SetPalette(n, index, colour);
            check(written == (before >= 0), "palette entry found by both methods");
            if (written)
                check(reader.GetPalette(n, index) == static_cast<std::int32_t>(colour & 0xFFFFFF),
                      "palette entry written");
        }
        (void)reader.GetError();
    }

    if (!save) return;
    const Bytes whole = reader.GetGifData(0);
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("reader_fuzz." + std::to_string(getpid()) + ".gif");
    if (reader.SaveGif(path)) {
        check(!whole.empty() && read_back(path) == whole, "saved bytes");
        GifReader again;
        again.Create();
        if (again.LoadGif(path)) (void)again.GetGifInfo();
        std::filesystem::remove(path);
    } else {
        check(whole.empty(), "a loaded GIF could not be saved");
    }
    check(!reader.SaveGif(path.parent_path() / "reader_fuzz.no-such-folder" / "out.gif"), "save into a missing folder");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> in(data, size);
    Draw draw(in);
    const bool save = size % kSaveEvery == 0;

    GifReader reader;
    check(!reader.LoadGif({}, in) && reader.FrameCount() == 0, "a reader that is not created");
    reader.Create();
    reader.LoadGif({}, in);
    (void)reader.GetError();
    exercise(reader, draw, save);
    load_picture(in);

    if (size >= 6 && std::memcmp(data, "GIF89a", 6) != 0) {
        Bytes forced(in.begin(), in.end());
        std::memcpy(forced.data(), "GIF89a", 6);
        // On the same reader: a new load replaces (or, when refused, keeps) the edited GIF.
        reader.LoadGif({}, forced);
        exercise(reader, draw, save);
        load_picture(forced);
    }

    reader.Clear();
    check(reader.GetGifData(0).empty() && reader.FrameCount() == 0, "a cleared reader");
    return 0;
}
