#pragma once
// Mouse clicks people can see in a recording: a ring around the pointer while a button is down.
#include "platform/screen.h"

namespace gifanim::capture {

// Outer radius and width of the ring, in pixels.
inline constexpr int kClickRingRadius = 18;
inline constexpr int kClickRingWidth = 4;
// The ring's colours (red, green, blue): the left button's, the right button's.
inline constexpr std::uint8_t kLeftClickColour[3] = {255, 196, 0};
inline constexpr std::uint8_t kRightClickColour[3] = {0, 140, 255};

// Draws the ring of the pressed button (the left one's when both are down) around the pointer into
// the pixels grabbed of `rect` (rows bottom-up after pixels.offset, 16, 24 or 32 bits a pixel, as a
// grab leaves them), clipped to the rectangle. Nothing when no button is down.
void draw_click_ring(platform::ScreenPixels& pixels, const platform::ScreenRect& rect,
                     const platform::PointerState& pointer);

}  // namespace gifanim::capture
