// GifReader on GIFs written by other encoders (tests/data, made by make_gifs.sh), judged by giflib.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "gif/gif_reader.h"
#include "tests/unit/gif_oracle.h"

namespace gifanim::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const char* const kFixtures[] = {
    "im_global", "im_interlaced", "im_local", "gifsicle_o2", "gifsicle_interlaced", "ffmpeg_testsrc", "ffmpeg_palette",
};

fs::path fixture(const std::string& name) {
    return fs::path(GIFANIM_TEST_DATA) / (name + ".gif");
}

Bytes read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

unsigned le16(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8);
}
std::uint32_t le32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// A paletted BMP decoded into colours (0xRRGGBB), top-down.
struct DecodedBmp {
    int width = 0, height = 0, bits = 0;
    std::vector<std::uint32_t> pixels;
};

// Reads BMPs as Windows does: 40-byte info header, uncompressed, 1, 4 or 8 bits, rows padded to
// 4 bytes, bottom-up unless the height is negative, colour table entries blue, green, red, 0.
::testing::AssertionResult decode_bmp(const Bytes& bmp, DecodedBmp& out) {
    if (bmp.size() < 54 || bmp[0] != 'B' || bmp[1] != 'M') return ::testing::AssertionFailure() << "not a BMP";
    if (le32(bmp, 2) != bmp.size())
        return ::testing::AssertionFailure() << "file size field " << le32(bmp, 2) << " but " << bmp.size() << " bytes";
    const std::uint32_t offset = le32(bmp, 10);
    const std::uint32_t header = le32(bmp, 14);
    const auto width = static_cast<std::int32_t>(le32(bmp, 18));
    const auto height = static_cast<std::int32_t>(le32(bmp, 22));
    const unsigned bits = le16(bmp, 28);
    if (header != 40 || le16(bmp, 26) != 1 || le32(bmp, 30) != 0)
        return ::testing::AssertionFailure()
               << "header " << header << " planes " << le16(bmp, 26) << " compression " << le32(bmp, 30);
    if (bits != 1 && bits != 4 && bits != 8) return ::testing::AssertionFailure() << bits << " bits per pixel";
    if (width <= 0 || height == 0) return ::testing::AssertionFailure() << "size " << width << "x" << height;
    const std::uint32_t used = le32(bmp, 46);
    const std::uint32_t colours = used ? used : 1u << bits;
    if (colours > (1u << bits) || 14 + header + 4 * colours > offset)
        return ::testing::AssertionFailure() << colours << " colours before pixel data at " << offset;
    const int rows = height < 0 ? -height : height;
    const std::size_t stride = (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
    if (offset + stride * rows > bmp.size())
        return ::testing::AssertionFailure()
               << "pixel data runs past the end: " << offset << " + " << stride << " x " << rows << " > " << bmp.size();
    out.width = width;
    out.height = rows;
    out.bits = static_cast<int>(bits);
    out.pixels.assign(static_cast<std::size_t>(width) * rows, 0);
    for (int y = 0; y < rows; ++y) {
        const std::size_t row = offset + stride * static_cast<std::size_t>(height < 0 ? y : rows - 1 - y);
        for (int x = 0; x < width; ++x) {
            const std::size_t bit = static_cast<std::size_t>(x) * bits;
            const unsigned index = (bmp[row + bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
            if (index >= colours)
                return ::testing::AssertionFailure()
                       << "pixel " << x << "," << y << " index " << index << " of " << colours;
            const std::size_t entry = 14 + header + 4 * index;
            out.pixels[static_cast<std::size_t>(y) * width + x] =
                (bmp[entry + 2] << 16) | (bmp[entry + 1] << 8) | bmp[entry];
        }
    }
    return ::testing::AssertionSuccess();
}

// A colour as the reader hands it out: 0x00BBGGRR.
std::int32_t reader_colour(const Bytes& palette, std::size_t index) {
    return palette[3 * index] | (palette[3 * index + 1] << 8) | (palette[3 * index + 2] << 16);
}

class ReaderPeers : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        path = fixture(GetParam());
        gif = oracle_decode(path);
        ASSERT_FALSE(gif.frames.empty()) << path;
        ASSERT_TRUE(reader.Create());
        ASSERT_TRUE(reader.LoadGif(path)) << reader.GetError();
    }

    fs::path path;
    OracleGif gif;
    GifReader reader;
};

TEST_P(ReaderPeers, AnimationRecordAndBytesMatchTheFile) {
    const AnimationInfo info = reader.GetGifInfo();
    EXPECT_EQ(info.FrameCount, static_cast<int>(gif.frames.size()));
    EXPECT_EQ(reader.FrameCount(), static_cast<int>(gif.frames.size()));
    EXPECT_EQ(static_cast<std::uint16_t>(info.Width), gif.width);
    EXPECT_EQ(static_cast<std::uint16_t>(info.Depth), gif.height);
    EXPECT_EQ(info.BgColorIndex, gif.background);
    EXPECT_EQ(info.ColorNum, static_cast<int>(gif.global_palette.size() / 3));
    EXPECT_EQ(info.LOOP != 0, gif.has_loop);
    if (gif.has_loop) {
        EXPECT_EQ(static_cast<std::uint16_t>(info.LoopCount), gif.loop_count);
    }

    const Bytes file = read_bytes(path);
    EXPECT_EQ(reader.GetGifData(0), file);
    GifReader from_memory;
    ASSERT_TRUE(from_memory.Create());
    ASSERT_TRUE(from_memory.LoadGif({}, file)) << from_memory.GetError();
    EXPECT_EQ(from_memory.FrameCount(), static_cast<int>(gif.frames.size()));
    EXPECT_EQ(from_memory.GetGifData(1), reader.GetGifData(1));
}

TEST_P(ReaderPeers, FrameRecordsMatchGiflib) {
    for (std::size_t i = 0; i < gif.frames.size(); ++i) {
        const OracleFrame& want = gif.frames[i];
        const FrameInfo got = reader.GetFrameInfo(static_cast<int>(i + 1));
        SCOPED_TRACE("frame " + std::to_string(i + 1));
        EXPECT_EQ(static_cast<std::uint16_t>(got.Left), want.left);
        EXPECT_EQ(static_cast<std::uint16_t>(got.Top), want.top);
        EXPECT_EQ(static_cast<std::uint16_t>(got.Width), want.width);
        EXPECT_EQ(static_cast<std::uint16_t>(got.Depth), want.height);
        EXPECT_EQ(static_cast<std::uint16_t>(got.DelayTime), want.delay);
        EXPECT_EQ(got.DisposalMethod, want.disposal);
        EXPECT_EQ(got.Transparency != 0, want.transparent_index >= 0);
        if (want.transparent_index >= 0) {
            EXPECT_EQ(got.TransparencyIndex, want.transparent_index);
        }
        EXPECT_EQ(got.ColorNum, static_cast<int>(want.local_palette.size() / 3));
    }
}

TEST_P(ReaderPeers, PalettesMatchGiflib) {
    for (std::size_t i = 0; i < gif.global_palette.size() / 3; ++i)
        EXPECT_EQ(reader.GetPalette(0, static_cast<std::uint8_t>(i)), reader_colour(gif.global_palette, i))
            << "global entry " << i;
    for (std::size_t f = 0; f < gif.frames.size(); ++f)
        for (std::size_t i = 0; i < gif.frames[f].local_palette.size() / 3; ++i)
            EXPECT_EQ(reader.GetPalette(static_cast<int>(f + 1), static_cast<std::uint8_t>(i)),
                      reader_colour(gif.frames[f].local_palette, i))
                << "frame " << f + 1 << " entry " << i;
}

TEST_P(ReaderPeers, FrameBitmapsShowGiflibsColours) {
    for (std::size_t i = 0; i < gif.frames.size(); ++i) {
        const OracleFrame& want = gif.frames[i];
        SCOPED_TRACE("frame " + std::to_string(i + 1));
        const Bytes& palette = want.local_palette.empty() ? gif.global_palette : want.local_palette;
        DecodedBmp bmp;
        ASSERT_TRUE(decode_bmp(reader.GetGifData(static_cast<int>(i + 1)), bmp)) << reader.GetError();
        ASSERT_EQ(bmp.width, want.width);
        ASSERT_EQ(bmp.height, want.height);
        int bad = 0;
        for (std::size_t p = 0; p < want.pixels.size() && bad < 5; ++p) {
            ASSERT_LT(3u * want.pixels[p] + 2, palette.size()) << "the fixture indexes past its table";
            const std::uint32_t expected = (palette[3 * want.pixels[p]] << 16) |
                                           (palette[3 * want.pixels[p] + 1] << 8) | palette[3 * want.pixels[p] + 2];
            if (bmp.pixels[p] != expected) {
                ++bad;
                ADD_FAILURE() << "pixel " << p % want.width << "," << p / want.width << " (" << bmp.bits
                              << "-bit BMP): got " << std::hex << bmp.pixels[p] << " want " << expected;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ReaderPeers, ::testing::ValuesIn(kFixtures),
                         [](const ::testing::TestParamInfo<const char*>& p) { return std::string(p.param); });

}  // namespace
}  // namespace gifanim::test
