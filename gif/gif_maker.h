#pragma once
// Collects still images as frames and writes them as one GIF89a animation.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "gif/records.h"
#include "platform/picture.h"

namespace gifanim {

// The optimizing mode of the maker. Off (the default), every frame is written whole with its own
// 256-entry palette, the bytes the maker has always written. On, the maker writes what a viewer
// needs to show each frame:
// - each frame after the first keeps only the rectangle around the pixels that differ from what
//   the viewer shows at that moment, the pixels needing no change transparent, every frame left in
//   place for the next (disposal 1), so that every viewer composes the same pictures;
// - a frame whose pixels all stay within the bound is merged into the one before, its delay added;
// - each rectangle gets a colour table made from its own pixels, exact for up to 255 colours and
//   otherwise found by median cut refined by k-means, only as large as it needs to be;
// - a pixel keeps what the viewer shows while that stays within the quality's bound of the frame's
//   own pixel, measured against the frame itself every time, so errors never add up over frames.
// Frames are placed at their Left and Top on a canvas of the animation's size (a frame of another
// size covers what it covers); their delays and comments are kept, their disposal, transparency and
// dither settings are the optimizer's to choose. The bytes do not depend on the thread count.
struct Optimization {
    static constexpr int kDefaultQuality = 80;
    bool enabled = false;
    // 1 to 100: how far a shown pixel may stray from its frame's pixel before it is redrawn, and
    // how hard the colour tables are refined. 100 redraws every pixel that changed at all.
    int quality = kDefaultQuality;
};

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
    // The same with the image decoded already (as platform::load_picture gives it): the maker
    // takes its pixels and leaves `picture` with a buffer to use again (or none). A picture
    // without the room Dib24::allocate gives it, or larger than a GIF holds, fails as an
    // undecodable or too large image.
    bool AddFrame(const FrameInfo& info, platform::Dib24& picture);
    // The optimizing mode only: takes the image as what the viewer shows from now on, exactly,
    // with no frame written for it, so that the frames after it are stored against it (a size
    // estimate encodes runs of a recording's frames, each starting from the frame before it, so).
    // Needs a frame added before it; does not count as a frame. In the plain mode it does nothing.
    bool AddShownFrame(const FrameInfo& info, std::span<const std::uint8_t> data);
    // The same with the image decoded already, taken as AddFrame takes it.
    bool AddShownFrame(const FrameInfo& info, platform::Dib24& picture);
    // Writes all frames to a new file at `path`. The frames stay, so saving may be repeated.
    bool SaveGif(const std::filesystem::path& path);
    // The same bytes into `out` (its contents replaced) instead of a file, for a caller that only
    // looks at them. Not while streaming (see StreamTo): that fails, and the stream stays.
    bool SaveGif(std::vector<std::uint8_t>& out);
    std::string GetError() const;

    // The number of frames added so far (0 on a maker that is not created).
    int FrameCount() const;

    // How many threads reduce and compress added frames while the caller decodes the next one;
    // 0 (the default) is one per core. The bytes written do not depend on it. Takes effect with the
    // next frame added after Create or Reset.
    void SetThreads(unsigned threads);

    // Chooses the optimizing mode (see Optimization); takes effect with the next Create or Reset.
    void SetOptimization(const Optimization& optimization);

    // Compressed frames past this many bytes are held in a temporary file (in the platform's
    // temporary folder, removed with the frames) instead of in memory, so that an export of any
    // length runs in bounded memory; the bytes written do not depend on it. Default 32 MiB.
    static constexpr std::size_t kDefaultMemoryBudget = std::size_t{32} << 20;
    void SetMemoryBudget(std::size_t bytes);

    // For a caller that knows where the GIF goes before the first frame: the frames are then
    // written into a new file beside `target` as they are finished (in the optimizing mode, once
    // the next one settles a frame's delay), instead of being held until SaveGif, so that a long
    // animation is written once rather than held on disk and copied, and SaveGif only writes the
    // end and puts the file in the target's place (the same bytes). SaveGif must then name that
    // target, once; the new file is removed when the frames are dropped unsaved or the save fails.
    // Where no such file can be made (or the target is a device), the frames are held as without.
    // Empty (the default): frames are held. Takes effect with the next Create or Reset.
    void StreamTo(std::filesystem::path target);

private:
    // To a new file put in place of *path, or into *memory.
    bool save(const std::filesystem::path* path, std::vector<std::uint8_t>* memory);
    // AddFrame once the image's bytes are in memory (`decoded` null) or its picture given; the
    // bytes read from a file (`read`) are let go once decoded.
    bool add(const FrameInfo& info, std::span<const std::uint8_t> data, platform::Dib24* decoded,
             std::vector<std::uint8_t>* read = nullptr);
    bool add_shown(const FrameInfo& info, std::span<const std::uint8_t> data, platform::Dib24* decoded);

    struct State;
    std::unique_ptr<State> state_;
    unsigned threads_ = 0;
    Optimization optimization_;
    std::size_t memory_budget_ = kDefaultMemoryBudget;
    std::filesystem::path stream_target_;
};

}  // namespace gifanim
