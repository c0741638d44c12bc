#pragma once
// Collects still images as frames and writes them as one GIF89a animation.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "gif/records.h"

namespace gifanim {

// Every method but Create does nothing on a maker that is not created; GetError then answers
// "对象还未创建". Failures return false and leave a last-error text (GBK).
class GifMaker {
public:
    GifMaker();
    ~GifMaker();
    GifMaker(const GifMaker&) = delete;
    GifMaker& operator=(const GifMaker&) = delete;

    // Creates the maker (or resets a created one) and takes over Width, Depth, LOOP, LoopCount,
    // exposition and Interlace.
    bool Create(const AnimationInfo& info);
    // Releases everything; the maker is then not created.
    void Clear();
    // Drops all frames and restores the default settings; the interlace switch and the last error stay.
    void Reset();
    // Converts an image (from the file at `path` if given, otherwise from `data`) into a frame and
    // appends it. An empty path or empty data counts as not given.
    bool AddFrame(const FrameInfo& info, const std::filesystem::path& path = {},
                  std::span<const std::uint8_t> data = {});
    // Writes all frames to a new file at `path`. The frames stay, so saving may be repeated.
    bool SaveGif(const std::filesystem::path& path);
    std::string GetError() const;

    // The number of frames added so far (0 on a maker that is not created).
    int FrameCount() const;

    // How many threads reduce and compress added frames while the caller decodes the next one;
    // 0 (the default) is one per core. The bytes written do not depend on it. Takes effect with the
    // next frame added after Create or Reset.
    void SetThreads(unsigned threads);

private:
    struct State;
    std::unique_ptr<State> state_;
    unsigned threads_ = 0;
};

}  // namespace gifanim
