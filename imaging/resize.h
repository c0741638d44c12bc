#pragma once
// Cropping and scaling of 24-bit pictures for an export: area averaging, which keeps thin lines
// and text legible when a screen is shrunk.
#include <cstdint>

#include "platform/picture.h"
#include "platform/screen.h"

namespace gifanim::imaging {

// `crop` (top-down picture coordinates) cut to the picture; empty when nothing of it lies inside.
platform::ScreenRect clamp_crop(const platform::ScreenRect& crop, int width, int height);

// The part `crop` of `src` (cut to the picture, not empty) scaled to width x height (both above
// 0) into `out`: each pixel is the mean of the source area it covers, pixels partly covered
// counting by their share. Throws std::bad_alloc.
void crop_and_scale(const platform::Dib24& src, const platform::ScreenRect& crop, int width, int height,
                    platform::Dib24& out);

}  // namespace gifanim::imaging
