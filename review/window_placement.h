#pragma once
// Where the windows the recorder places go on the screen: each stays inside the work area (the
// monitor less its taskbar) of the monitor it is on, so that its caption and buttons can be
// reached. The window layer finds the work area; the rules are here.
#include "platform/screen.h"

namespace gifanim::review {

// The window moved, not resized, as little as it takes to lie inside the work area. A window
// wider or taller than the work area gets its left or top edge at the work area's, since the
// caption and the buttons at the left are what the user needs to reach.
platform::ScreenRect inside_work_area(const platform::ScreenRect& window, const platform::ScreenRect& work_area);

// A window that shares no pixel with the work area (one restored onto a monitor since unplugged)
// comes inside it as inside_work_area moves it; one that shows at all stays where it is, however
// little of it shows, since the user may have put it there.
platform::ScreenRect onto_work_area(const platform::ScreenRect& window, const platform::ScreenRect& work_area);

// How a window shows. Minimised or maximised, the system gives it a rectangle of its own.
enum class WindowShow { normal, minimized, maximized };

// The rectangle that stands for a window's place, what is stored and what other windows are
// centred on: the one it has while it shows normally. Minimised (off every monitor at a size of
// the system's, say -32000, -32000, 160 x 28) or maximised (larger than the screen by its
// borders), that is the rectangle it comes back to, `normal`.
platform::ScreenRect restored_rect(WindowShow show, const platform::ScreenRect& window,
                                   const platform::ScreenRect& normal);

// A rectangle in workspace coordinates, whose origin is the top-left corner of the work area of
// the monitor it is on (as a window's normal place is given), in screen coordinates.
platform::ScreenRect workspace_to_screen(const platform::ScreenRect& rect, const platform::ScreenRect& monitor,
                                         const platform::ScreenRect& work_area);

}  // namespace gifanim::review
