#include "review/shaping.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>
#include <utility>

#include "gif/picture_loader.h"
#include "imaging/resize.h"

namespace gifanim::review {

namespace {

constexpr std::int64_t kLongestDelay = 32767;  // what a FrameInfo holds

std::optional<long> whole(std::string_view s) {
    long v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return v;
}

int rounded_side(double v) {
    return static_cast<int>(std::clamp(std::lround(v), 1L, 65535L));
}

// The sides of the shaped picture before they are rounded; 0 x 0 when the crop leaves nothing.
struct Sides {
    double width = 0, height = 0;
};
Sides scaled_sides(const ExportShape& shape, PictureSize source) {
    platform::ScreenRect part{0, 0, source.width, source.height};
    if (shape.crop) part = imaging::clamp_crop(*shape.crop, source.width, source.height);
    const int w = part.right - part.left, h = part.bottom - part.top;
    if (w <= 0 || h <= 0) return {};
    double factor = 1;
    switch (shape.scale.kind) {
        case Scaling::Kind::none: break;
        case Scaling::Kind::width: factor = static_cast<double>(shape.scale.width) / w; break;
        case Scaling::Kind::box:
            factor = std::min(static_cast<double>(shape.scale.width) / w, static_cast<double>(shape.scale.height) / h);
            break;
        case Scaling::Kind::percent: factor = shape.scale.percent / 100; break;
        case Scaling::Kind::factors: return {w * shape.scale.fx, h * shape.scale.fy};
    }
    return {w * factor, h * factor};
}

}  // namespace

std::optional<Scaling> parse_scale(std::string_view text) {
    Scaling scaling;
    if (!text.empty() && text.back() == '%') {
        double p = 0;
        const std::string_view number = text.substr(0, text.size() - 1);
        const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), p);
        if (ec != std::errc() || end != number.data() + number.size() || !(p > 0) || p > 1000) return std::nullopt;
        scaling.kind = Scaling::Kind::percent;
        scaling.percent = p;
        return scaling;
    }
    const std::size_t x = text.find('x');
    const auto w = whole(text.substr(0, x));
    if (!w || *w < 1 || *w > 65535) return std::nullopt;
    scaling.width = static_cast<int>(*w);
    scaling.kind = Scaling::Kind::width;
    if (x != std::string_view::npos) {
        const auto h = whole(text.substr(x + 1));
        if (!h || *h < 1 || *h > 65535) return std::nullopt;
        scaling.height = static_cast<int>(*h);
        scaling.kind = Scaling::Kind::box;
    }
    return scaling;
}

PictureSize shaped_size(const ExportShape& shape, PictureSize source) {
    const Sides sides = scaled_sides(shape, source);
    if (sides.width <= 0) return {};
    if (shape.scale.kind == Scaling::Kind::none) return {static_cast<int>(sides.width), static_cast<int>(sides.height)};
    return {rounded_side(sides.width), rounded_side(sides.height)};
}

ShapeProblem shape_problem(const ExportShape& shape, PictureSize recording) {
    const Sides sides = scaled_sides(shape, recording);
    if (sides.width <= 0) return ShapeProblem::crop_outside;
    // As large as a picture read may be; sides are at most 65535 times a recording's anyway.
    const auto side = [](double v) { return std::llround(std::clamp(v, 1.0, 1e12)); };
    return platform::check_picture_size(side(sides.width), side(sides.height)) == platform::LoadResult::ok
               ? ShapeProblem::none
               : ShapeProblem::too_large;
}

ExportShape resolved_for(const ExportShape& shape, PictureSize recording) {
    ExportShape resolved = shape;
    if (shape.scale.kind == Scaling::Kind::none || shape.scale.kind == Scaling::Kind::factors) return resolved;
    ExportShape cropped = shape;
    cropped.scale = {};
    const PictureSize part = shaped_size(cropped, recording), canvas = shaped_size(shape, recording);
    if (part.width <= 0) return resolved;
    resolved.scale.kind = Scaling::Kind::factors;
    resolved.scale.fx = static_cast<double>(canvas.width) / part.width;
    resolved.scale.fy = static_cast<double>(canvas.height) / part.height;
    return resolved;
}

std::vector<TimedFrame> export_timing(const std::vector<FrameInfo>& infos, ExportDirection direction,
                                      const ExportShape& shape) {
    std::vector<TimedFrame> frames(infos.size());
    const std::size_t n = infos.size();
    for (std::size_t k = 0; k < n; ++k) {
        // The k-th frame written is frame k forwards and frame n - 1 - k backwards, with its delay.
        const std::size_t source = direction == ExportDirection::forward ? k : n - 1 - k;
        frames[k] = {source, std::max<std::int64_t>(0, infos[source].DelayTime)};
    }
    if (shape.speed != 1) frames = with_speed(frames, shape.speed);
    if (shape.max_fps > 0) frames = with_frame_rate_limit(frames, shape.max_fps);
    return split_long_delays(frames, kLongestDelay);
}

bool shape_picture(std::span<const std::uint8_t> image, const ExportShape& shape, ShapingScratch& scratch) {
    if (decode_picture(image, scratch.decoded) != platform::LoadResult::ok) return false;
    const platform::Dib24& picture = scratch.decoded;
    // A picture of another size than the recording (the panel resized while recording) gets the
    // same crop, cut to it, and the same scale; none is made that the crop misses or that no GIF
    // holds.
    if (shape_problem(shape, {picture.width, picture.height}) != ShapeProblem::none) return false;
    const PictureSize size = shaped_size(shape, {picture.width, picture.height});
    const platform::ScreenRect whole{0, 0, picture.width, picture.height};
    imaging::crop_and_scale(picture, imaging::clamp_crop(shape.crop.value_or(whole), picture.width, picture.height),
                            size.width, size.height, scratch.shaped);
    return true;
}

FrameSource source_of(const capture::FrameStoreSnapshot& frames) {
    const platform::ScreenRect& rect = frames.capture_rect();
    return {frames.Infos(),
            {static_cast<int>(static_cast<std::int64_t>(rect.right) - rect.left),
             static_cast<int>(static_cast<std::int64_t>(rect.bottom) - rect.top)},
            [&frames](std::size_t i) { return frames.FrameAt(i + 1); },
            [&frames](std::size_t i) { return frames.ImageSize(i + 1); }};
}

ShapedAhead::ShapedAhead(std::size_t frames, Prepare prepare) : frames_(frames), prepare_(std::move(prepare)) {
    if (frames < 2) return;
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
    }
}

ShapedAhead::~ShapedAhead() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool ShapedAhead::take(std::size_t k, platform::Dib24& picture) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return handed_ == k; });
    std::swap(shared_, picture);
    handed_ = kNone;
    changed_.notify_all();
    return made_;
}

void ShapedAhead::run() {
    ShapingScratch scratch;
    for (std::size_t k = 1; k < frames_; k += 2) {
        bool made = false;
        try {
            made = prepare_(k, scratch);
        } catch (...) {
            made = false;  // a file error or no memory: the caller tries again and says which
        }
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return handed_ == kNone || stop_; });
        if (stop_) return;
        std::swap(shared_, scratch.shaped);  // the buffer handed back comes to the next frame
        handed_ = k;
        made_ = made;
        changed_.notify_all();
    }
}

bool prepare_shaped_frame(const FrameSource& source, const TimedFrame& t, const ExportShape& shape,
                          ShapingScratch& scratch) {
    const capture::FrameImage image = source.image(t.source);
    if (!image) return false;
    if (shape.changes_pictures()) return shape_picture(*image, shape, scratch);
    return decode_picture(*image, scratch.shaped) == platform::LoadResult::ok;
}

bool add_shaped_frame(GifMaker& maker, const FrameSource& source, const TimedFrame& t, const ExportShape& shape,
                      ShapingScratch& scratch, bool shown_only, ShapedAhead* ahead, std::size_t k) {
    FrameInfo frame = source.infos[t.source];
    frame.DelayTime = static_cast<std::int16_t>(t.delay);
    const auto add = [&](std::span<const std::uint8_t> bytes) {
        return shown_only ? maker.AddShownFrame(frame, bytes) : maker.AddFrame(frame, {}, bytes);
    };
    // What the thread ahead could not make is made here again.
    if (!ahead || !ahead->makes(k) || !ahead->take(k, scratch.shaped)) {
        const capture::FrameImage image = source.image(t.source);
        // Unshaped, the maker decodes the image itself.
        if (image && !shape.changes_pictures()) return add(*image);
        if (!image || !shape_picture(*image, shape, scratch)) return add({});  // fails as a frame without an image
    }
    frame.Width = static_cast<std::int16_t>(scratch.shaped.width);
    frame.Depth = static_cast<std::int16_t>(scratch.shaped.height);
    return shown_only ? maker.AddShownFrame(frame, scratch.shaped) : maker.AddFrame(frame, scratch.shaped);
}

int ExportShapedFrames(const capture::FrameStoreSnapshot& frames, ExportDirection direction, const ExportShape& asked,
                       GifMaker& maker, ExportShell& shell) {
    if (!asked.changes_anything()) return ExportFrames(frames, direction, maker, shell);
    const FrameSource source = source_of(frames);
    const ExportShape shape = resolved_for(asked, source.size);
    const PictureSize canvas = shaped_size(shape, source.size);
    const std::vector<TimedFrame> timing = export_timing(source.infos, direction, shape);
    AnimationInfo info;
    info.Width = static_cast<std::int16_t>(canvas.width);
    info.Depth = static_cast<std::int16_t>(canvas.height);
    ShapingScratch scratch;
    std::optional<ShapedAhead> ahead;
    if (shape.changes_pictures()) {
        ahead.emplace(timing.size(), [&](std::size_t k, ShapingScratch& s) {
            return prepare_shaped_frame(source, timing[k], shape, s);
        });
    }
    const auto add = [&](std::int32_t added) {
        const auto k = static_cast<std::size_t>(added - 1);
        add_shaped_frame(maker, source, timing[k], shape, scratch, false, ahead ? &*ahead : nullptr, k);
    };
    return RunExport(info, static_cast<std::int32_t>(timing.size()), static_cast<std::int32_t>(frames.count()), add,
                     maker, shell);
}

}  // namespace gifanim::review
