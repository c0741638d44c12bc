#pragma once
// The recording's spill file: frame images kept on disk once the memory budget is used up.
#include "platform/frame_record_file.h"

namespace gifanim::capture {

using platform::FrameImage;
using platform::FrameRecordFile;
using platform::kRecordHeaderSize;
using platform::record_end;
using platform::RecordSpan;

}  // namespace gifanim::capture
