#pragma once
// An export of the recording that must stay under a size limit, through the same windows as every
// other export: the save dialog, the progress window, the frame window's caption and the box.
#include <cstdint>

#include "capture/frame_store.h"
#include "gif/gif_maker.h"
#include "review/export.h"
#include "review/shaping.h"

namespace gifanim::review {

// The save dialog (a cancelled one ends it with 0), then FitUnder writes the chosen file with the
// frame window disabled and the progress window shown; the caption counts the recorded frames and
// the box says whether it was written. FitUnder gives no progress on the way, so the bar stays
// empty while it works. When the limit cannot be met nothing is written and the failure box shows.
// Returns 1 when the file was written under the limit, 0 otherwise.
int ExportFittedFrames(const capture::FrameStoreSnapshot& frames, ExportDirection direction, const ExportShape& shape,
                       const Optimization& optimization, std::uint64_t limit_bytes, ExportShell& shell);

}  // namespace gifanim::review
