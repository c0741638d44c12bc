#pragma once
// Exports reshaped on the way to the GIF: a part of the recording (crop), scaled, played faster or
// slower, at a lower frame rate. The recording itself stays as it is.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <thread>
#include <vector>

#include "capture/frame_store.h"
#include "gif/frame_timing.h"
#include "gif/gif_maker.h"
#include "platform/picture.h"
#include "platform/screen.h"
#include "review/export.h"

namespace gifanim::review {

// How the picture is scaled, keeping its aspect ratio: to a width, into a box, or by a percentage.
struct Scaling {
    enum class Kind { none, width, box, percent, factors };
    Kind kind = Kind::none;
    int width = 0;
    int height = 0;
    double percent = 100;
    double fx = 1, fy = 1;  // factors: each side times its own
};

// "W", "WxH" or "P%" (P above 0, at most 1000; sides 1..65535); nothing when it is none of them.
std::optional<Scaling> parse_scale(std::string_view text);

struct ExportShape {
    std::optional<platform::ScreenRect> crop;  // in the recording's coordinates
    Scaling scale;
    double speed = 1;  // every delay divided by it
    int max_fps = 0;   // 0: as recorded

    bool changes_pictures() const { return crop.has_value() || scale.kind != Scaling::Kind::none; }
    bool changes_anything() const { return changes_pictures() || speed != 1 || max_fps > 0; }
};

struct PictureSize {
    int width = 0;
    int height = 0;
};

// The size of a `source` picture after the shape's crop (cut to it) and scale; {0, 0} when the
// crop leaves nothing.
PictureSize shaped_size(const ExportShape& shape, PictureSize source);

// Whether a recording of this size can be exported in this shape: the crop must keep a part of it,
// and the scaled picture may be no larger than a picture read may be (platform::check_picture_size:
// 65535 pixels a side, 2^30 in all).
enum class ShapeProblem { none, crop_outside, too_large };
ShapeProblem shape_problem(const ExportShape& shape, PictureSize recording);

// The shape with its scale as the factors that take a recording of this size to its shaped size,
// so that every frame, whatever its size, is scaled alike.
ExportShape resolved_for(const ExportShape& shape, PictureSize recording);

// The frames the export writes, in the order written, each with the delay it gets: the speed and
// the frame-rate limit applied, delays kept within what the maker writes.
std::vector<TimedFrame> export_timing(const std::vector<FrameInfo>& infos, ExportDirection direction,
                                      const ExportShape& shape);

// Reusable pictures for shape_picture.
struct ShapingScratch {
    platform::Dib24 decoded, shaped;
};

// An image cropped and scaled as the shape says, into scratch.shaped (for GifMaker::AddFrame,
// which leaves a buffer there to use again). False when it cannot be decoded, the crop leaves
// nothing of it or the scale makes it too large (see shape_problem). Throws std::bad_alloc.
bool shape_picture(std::span<const std::uint8_t> image, const ExportShape& shape, ShapingScratch& scratch);

// Where a shaped export's frames come from: their records, the size of the recording, and each
// frame's image (from 0; null when it cannot be read).
struct FrameSource {
    std::vector<FrameInfo> infos;
    PictureSize size;
    std::function<capture::FrameImage(std::size_t)> image;  // may be called on two threads at once
    // The bytes of frame i's image, known without reading it (0 when it cannot be read); may be
    // empty when they are not known.
    std::function<std::uint64_t(std::size_t)> image_size;
    // The settings of the GIF written (its size aside): the recorder's loop forever, interlaced.
    AnimationInfo animation = recorder_animation();
    static AnimationInfo recorder_animation() {
        AnimationInfo info;
        info.LOOP = 1;
        info.LoopCount = 0;
        info.Interlace = 1;
        return info;
    }
};
// The frames of a snapshot of the recording. Throws std::bad_alloc.
FrameSource source_of(const capture::FrameStoreSnapshot& frames);

// Frame t's picture as a shaped export shows it, into scratch.shaped: decoded, and cropped and
// scaled when the shape says so. False when it cannot be read or decoded, or the shape leaves
// nothing of it. Throws std::bad_alloc.
bool prepare_shaped_frame(const FrameSource& source, const TimedFrame& t, const ExportShape& shape,
                          ShapingScratch& scratch);

// The frames at odd places of an export made (read, cropped and scaled: prepare(k, scratch) puts
// frame k's picture in scratch.shaped, false when it cannot) on a thread of its own while the
// caller makes the others, since the shaping rather than the maker is what a shaped export waits
// for; handed over in order, one at a time. A frame the thread could not make (false, or what
// prepare threw) is the caller's to make again, so that it says why.
class ShapedAhead {
public:
    using Prepare = std::function<bool(std::size_t, ShapingScratch&)>;
    ShapedAhead(std::size_t frames, Prepare prepare);
    ~ShapedAhead();
    ShapedAhead(const ShapedAhead&) = delete;
    ShapedAhead& operator=(const ShapedAhead&) = delete;

    // Whether frame k is made by the thread (none is when no thread could be had).
    bool makes(std::size_t k) const { return thread_.joinable() && k % 2 == 1; }
    // Frame k's picture (one that makes(k); asked for in order) in exchange for `picture`'s
    // buffer; false when the thread could not make it.
    bool take(std::size_t k, platform::Dib24& picture);

private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    void run();

    std::size_t frames_;
    Prepare prepare_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t handed_ = kNone;  // the frame whose picture is in shared_
    bool made_ = false;
    bool stop_ = false;
    platform::Dib24 shared_;
    std::thread thread_;
};

// Gives the maker the frame `t` of a shaped export: the source frame's picture cropped and scaled
// by `shape` (resolved_for the recording), with its record and t's delay; `shown_only` gives it as
// a picture taken as shown (GifMaker::AddShownFrame). Where `ahead` makes frame k of the export
// (t being that frame), its picture comes from there. A frame that cannot be read (or, made
// ahead, decoded) is passed on empty, and the maker refuses it. Returns the maker's answer.
bool add_shaped_frame(GifMaker& maker, const FrameSource& source, const TimedFrame& t, const ExportShape& shape,
                      ShapingScratch& scratch, bool shown_only = false, ShapedAhead* ahead = nullptr,
                      std::size_t k = 0);

// ExportFrames with the shape applied; without a shape it is ExportFrames itself (the same bytes).
// A frame that cannot be read is passed on empty (the maker refuses it and the rest go on).
int ExportShapedFrames(const capture::FrameStoreSnapshot& frames, ExportDirection direction, const ExportShape& shape,
                       GifMaker& maker, ExportShell& shell);

}  // namespace gifanim::review
