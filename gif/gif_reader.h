#pragma once
// Loads a GIF87a or GIF89a file, indexes its frames, reports and patches their settings and
// palettes in place, and hands out frames as BMP files. Image data is never re-encoded: every
// change patches bytes of the loaded GIF.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "gif/records.h"

namespace gifanim {

// Frames are numbered from 1; 0 stands for the whole GIF or its global palette where a method
// allows it. Colours are 0x00BBGGRR. Every method but Create does nothing on a reader that is not
// created; GetError then answers "对象还未创建".
class GifReader {
public:
    GifReader();
    ~GifReader();
    GifReader(const GifReader&) = delete;
    GifReader& operator=(const GifReader&) = delete;

    // Destroys an existing reader with its loaded GIF and creates a new, empty one.
    bool Create();
    void Clear();
    // Loads and indexes a GIF from the file at `path` if given, otherwise from `data`.
    bool LoadGif(const std::filesystem::path& path = {}, std::span<const std::uint8_t> data = {});
    std::string GetError() const;
    // An all-zero record on failure.
    AnimationInfo GetGifInfo();
    // Writes Width, Depth and BgColorIndex, and LoopCount when the GIF loops and LOOP is true.
    bool SetGifInfo(const AnimationInfo& info);
    // An all-zero record on failure.
    FrameInfo GetFrameInfo(int frame);
    // Writes DelayTime, DisposalMethod and Transparency (when the frame has a graphic control
    // extension), Left and Top.
    bool SetFrameInfo(const FrameInfo& info, int frame);
    // -1 on failure.
    std::int32_t GetPalette(int frame, std::uint8_t index);
    bool SetPalette(int frame, std::uint8_t index, std::uint32_t colour);
    // Frame 0: the whole GIF with all changes; otherwise the frame as a BMP file. Empty on failure.
    std::vector<std::uint8_t> GetGifData(int frame);
    bool SaveGif(const std::filesystem::path& path);

    // The number of indexed frames (0 when nothing is loaded or the reader is not created).
    int FrameCount() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace gifanim
