#pragma once
// Knowing the size of an export before it is made, and making it fit under a limit.
#include <cstdint>
#include <filesystem>
#include <string>

#include "gif/gif_maker.h"
#include "review/shaping.h"

namespace gifanim::review {

// The bytes an export of `source` with this shape and mode would write, from a sample: the first
// frame, and a few runs of consecutive frames spread over the recording, each encoded after the
// frame before it (taken as shown, not written), whose cost gives that of a frame there; in the
// optimizing mode the first frame given in a run only prepares what is shown. Throws
// std::bad_alloc.
std::uint64_t EstimateSize(const FrameSource& source, ExportDirection direction, const ExportShape& shape,
                           const Optimization& optimization);

struct FitResult {
    bool met = false;
    std::uint64_t asked_bytes = 0;  // the estimate of the export as asked
    std::uint64_t bytes = 0;        // what was written; when not met, the smallest size reached
    ExportShape shape;
    Optimization optimization;
    // What was given up, e.g. "quality 70, at most 5 frames/s, scale 75%"; empty when nothing.
    std::string steps;
};

// Writes the export to `path` no larger than `limit` bytes, giving up, each only as far as needed
// and in this order, the optimizer's quality (the optimizing mode is taken when it was not), the
// frame rate, and the scale. It aims at 5 % under the limit, and encodes at most three exports
// besides the estimates that guide it (quicker ones than EstimateSize's: the exports check them).
// When even the smallest scale allowed does not fit, nothing is written. Throws std::bad_alloc.
FitResult FitUnder(const FrameSource& source, ExportDirection direction, const ExportShape& shape,
                   const Optimization& optimization, std::uint64_t limit, const std::filesystem::path& path);

}  // namespace gifanim::review
