#include "tests/unit/gif_oracle.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

namespace gifanim::test {

namespace {

std::vector<std::uint8_t> palette_of(const ColorMapObject* map) {
    std::vector<std::uint8_t> out;
    if (!map) return out;
    for (int i = 0; i < map->ColorCount; ++i) {
        out.push_back(map->Colors[i].Red);
        out.push_back(map->Colors[i].Green);
        out.push_back(map->Colors[i].Blue);
    }
    return out;
}

std::string text_of(const ExtensionBlock& block) {
    return std::string(reinterpret_cast<const char*>(block.Bytes), static_cast<std::size_t>(block.ByteCount));
}

}  // namespace

OracleGif oracle_decode(const std::filesystem::path& path) {
    OracleGif out;
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    if (!gif) {
        ADD_FAILURE() << "giflib cannot open " << path << ": " << GifErrorString(error);
        return out;
    }
    if (DGifSlurp(gif) != GIF_OK) {
        ADD_FAILURE() << "giflib cannot decode " << path << ": " << GifErrorString(gif->Error);
        DGifCloseFile(gif, &error);
        return out;
    }
    out.width = gif->SWidth;
    out.height = gif->SHeight;
    out.background = gif->SBackGroundColor;
    out.global_palette = palette_of(gif->SColorMap);
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& img = gif->SavedImages[i];
        OracleFrame f;
        f.left = img.ImageDesc.Left;
        f.top = img.ImageDesc.Top;
        f.width = img.ImageDesc.Width;
        f.height = img.ImageDesc.Height;
        f.interlaced = img.ImageDesc.Interlace;
        f.local_palette = palette_of(img.ImageDesc.ColorMap);
        f.pixels.assign(img.RasterBits, img.RasterBits + static_cast<std::size_t>(f.width) * f.height);
        for (int e = 0; e < img.ExtensionBlockCount; ++e) {
            const ExtensionBlock& block = img.ExtensionBlocks[e];
            if (block.Function == GRAPHICS_EXT_FUNC_CODE) {
                GraphicsControlBlock gcb;
                DGifExtensionToGCB(block.ByteCount, block.Bytes, &gcb);
                f.has_control = true;
                f.disposal = gcb.DisposalMode;
                f.delay = gcb.DelayTime;
                f.transparent_index = gcb.TransparentColor;
            } else if (block.Function == COMMENT_EXT_FUNC_CODE) {
                f.comments.push_back(text_of(block));
            } else if (block.Function == APPLICATION_EXT_FUNC_CODE && block.ByteCount == 11 &&
                       text_of(block) == "NETSCAPE2.0" && e + 1 < img.ExtensionBlockCount) {
                const ExtensionBlock& data = img.ExtensionBlocks[e + 1];
                if (data.ByteCount == 3 && data.Bytes[0] == 1) {
                    out.has_loop = true;
                    out.loop_count = data.Bytes[1] | (data.Bytes[2] << 8);
                }
                ++e;
            }
        }
        out.frames.push_back(std::move(f));
    }
    for (int e = 0; e < gif->ExtensionBlockCount; ++e)
        if (gif->ExtensionBlocks[e].Function == COMMENT_EXT_FUNC_CODE)
            out.trailing_comments.push_back(text_of(gif->ExtensionBlocks[e]));
    DGifCloseFile(gif, &error);
    return out;
}

}  // namespace gifanim::test
