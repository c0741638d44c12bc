// gifanim make: an animation from image files, one frame each.
#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "gif/gif_maker.h"
#include "gif/picture_loader.h"
#include "platform/file.h"
#include "review/shaping.h"
#include "tools/commands.h"
#include "tools/options.h"
#include "tools/terminal_export.h"

namespace gifanim::tool {

namespace {

std::vector<std::uint8_t> read_image(const std::filesystem::path& path) {
    platform::File file = platform::File::open_read(path);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.size()));
    file.read(bytes);
    return bytes;
}

// The images as frames of `frame`'s delay, timed, cropped and scaled as `shape` says: the
// picture of the first image sets the size that every image is cut and scaled from.
int make_shaped(GifMaker& maker, AnimationInfo animation, const FrameInfo& frame,
                const std::vector<const Argument*>& images, const review::ExportShape& asked,
                const std::filesystem::path& output) {
    review::ShapingScratch scratch;
    std::vector<std::uint8_t> bytes;
    review::ExportShape shape = asked;
    try {
        if (asked.changes_pictures()) {
            bytes = read_image(images.front()->path);
            if (decode_picture(bytes, scratch.decoded) != platform::LoadResult::ok) {
                return failure(*images.front(), "cannot be decoded");
            }
            const review::PictureSize first{scratch.decoded.width, scratch.decoded.height};
            if (const auto why = shape_problem_text(asked, first, "the first image")) return failure(*why);
            shape = review::resolved_for(asked, first);
            const review::PictureSize canvas = review::shaped_size(shape, first);
            animation.Width = static_cast<std::int16_t>(canvas.width);
            animation.Depth = static_cast<std::int16_t>(canvas.height);
        }
    } catch (const platform::FileError& e) {
        return failure(*images.front(), e.text);
    }
    const std::vector<FrameInfo> infos(images.size(), frame);
    const std::vector<TimedFrame> timing = review::export_timing(infos, review::ExportDirection::forward, shape);
    if (!maker.Create(animation)) return failure(maker.GetError());
    // The image whose bytes are in `bytes`: the first one's were read for its size already.
    std::size_t read = bytes.empty() ? images.size() : 0;
    std::optional<review::ShapedAhead> ahead;
    if (shape.changes_pictures()) {
        ahead.emplace(timing.size(), [&](std::size_t k, review::ShapingScratch& scratch) {
            return review::shape_picture(read_image(images[timing[k].source]->path), shape, scratch);
        });
    }
    platform::Dib24 taken;
    for (std::size_t k = 0; k < timing.size(); ++k) {
        const TimedFrame& t = timing[k];
        const Argument& image = *images[t.source];
        FrameInfo info = frame;
        info.DelayTime = static_cast<std::int16_t>(t.delay);
        if (ahead && ahead->makes(k) && ahead->take(k, taken)) {
            if (!maker.AddFrame(info, taken)) return failure(image, maker.GetError());
            continue;
        }
        try {
            if (read != t.source) bytes = read_image(image.path);
            read = t.source;
        } catch (const platform::FileError& e) {
            return failure(image, e.text);
        }
        if (!shape.changes_pictures()) {
            if (!maker.AddFrame(info, {}, bytes)) return failure(image, maker.GetError());
            continue;
        }
        if (!review::shape_picture(bytes, shape, scratch))
            return failure(image, "cannot be decoded, or the crop leaves nothing of it");
        if (!maker.AddFrame(info, scratch.shaped)) return failure(image, maker.GetError());
    }
    if (!maker.SaveGif(output)) return failure(maker.GetError());
    return 0;
}

// --max-size and --estimate: the images as the frames of a recording of the first one's size.
int make_fitted(const AnimationInfo& animation, const FrameInfo& frame, const std::vector<const Argument*>& images,
                const review::ExportShape& shape, const Optimization& optimization, const SizeOptions& size,
                const Argument& output) {
    review::FrameSource source;
    source.animation = animation;
    source.infos.assign(images.size(), frame);
    try {
        // Only the size is needed: a JPEG's header gives it without decoding the picture.
        const std::vector<std::uint8_t> first = read_image(images.front()->path);
        if (!platform::jpeg_size(first, source.size.width, source.size.height)) {
            platform::Dib24 picture;
            if (decode_picture(first, picture) != platform::LoadResult::ok) {
                return failure(*images.front(), "cannot be decoded");
            }
            source.size = {picture.width, picture.height};
        }
    } catch (const platform::FileError& e) {
        return failure(*images.front(), e.text);
    }
    source.image = [&images](std::size_t i) -> capture::FrameImage {
        try {
            return std::make_shared<const std::vector<std::uint8_t>>(read_image(images[i]->path));
        } catch (const platform::FileError&) {
            return nullptr;
        }
    };
    // Files' sizes compare only between images of one kind.
    const auto kind = [](const Argument* image) {
        std::u8string ext = image->path.extension().u8string();
        for (char8_t& c : ext)
            if (c >= u8'A' && c <= u8'Z') c = static_cast<char8_t>(c - u8'A' + u8'a');
        return ext == u8".jpeg" ? std::u8string(u8".jpg") : ext;
    };
    if (std::all_of(images.begin(), images.end(), [&](const Argument* a) { return kind(a) == kind(images.front()); })) {
        source.image_size = [&images](std::size_t i) -> std::uint64_t {
            std::error_code ec;
            const auto bytes = std::filesystem::file_size(images[i]->path, ec);
            return ec ? 0 : static_cast<std::uint64_t>(bytes);
        };
    }
    return fit_or_estimate(source, review::ExportDirection::forward, shape, optimization, size, output);
}

}  // namespace

int run_make(const std::vector<Argument>& args) {
    AnimationInfo animation;
    FrameInfo frame;
    std::optional<std::filesystem::path> output;
    const Argument* output_argument = nullptr;
    bool reverse = false;
    unsigned jobs = 0;
    Optimization optimization;
    review::ExportShape shape;
    SizeOptions size;
    std::vector<const Argument*> images;

    for (ArgumentCursor arg(args); arg.next();) {
        if (arg.is("-o", "--output")) {
            output_argument = &arg.value("a file name");
            output = output_argument->path;
        } else if (arg.is("--delay")) {
            frame.DelayTime = as_int16(arg.number(0, 65535));
        } else if (arg.is("--disposal")) {
            frame.DisposalMethod = static_cast<std::uint8_t>(arg.number(0, 7));
        } else if (arg.is("--no-loop")) {
            animation.LOOP = 0;
        } else if (arg.is("--loop-count")) {
            animation.LoopCount = as_int16(arg.number(0, 65535));
        } else if (arg.is("--dither")) {
            frame.Dither = 1;
        } else if (arg.is("--interlace")) {
            animation.Interlace = 1;
        } else if (arg.is("--comment")) {
            animation.exposition = arg.value("a text").text;
        } else if (arg.is("--reverse")) {
            reverse = true;
        } else if (optimization_option(arg, optimization) || shape_option(arg, shape) || size_option(arg, size)) {
            // taken into the options above
        } else if (arg.is("--jobs", "-j")) {
            jobs = static_cast<unsigned>(arg.number(1, 1024));
        } else if (arg.is("--")) {
            while (arg.next()) images.push_back(&arg.current());
        } else {
            images.push_back(&arg.operand());
        }
    }
    if (!output) throw UsageError{"no output file (-o OUT.gif)"};
    if (images.empty()) throw UsageError{"no input images"};
    if (reverse) std::reverse(images.begin(), images.end());

    GifMaker maker;
    maker.SetThreads(jobs);
    maker.SetOptimization(optimization);
    if (size.max_size || size.estimate)
        return make_fitted(animation, frame, images, shape, optimization, size, *output_argument);
    // The frames go to the file as they are made, not held and copied there at the end.
    maker.StreamTo(*output);
    if (shape.changes_anything()) return make_shaped(maker, animation, frame, images, shape, *output);
    if (!maker.Create(animation)) return failure(maker.GetError());
    for (const Argument* image : images)
        if (!maker.AddFrame(frame, image->path)) return failure(*image, maker.GetError());
    if (!maker.SaveGif(*output)) return failure(maker.GetError());
    return 0;
}

}  // namespace gifanim::tool
