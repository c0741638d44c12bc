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

}  // namespace gifanim::review
