#pragma once
// A child window that shows one picture at its natural size from its top-left corner, the rest
// in the window colour: the preview's canvas and the frame viewer's picture box.
#include "capture/frame_record_file.h"
#include "platform/picture.h"
#include "platform/win32/window.h"

namespace gifanim::review::win32 {

class PictureView final : public platform::win32::Window {
public:
    bool create(HWND parent, int id, int x, int y, int width, int height);
    // Decodes the frame's bytes with the platform's picture loader; null or undecodable bytes
    // leave the view blank.
    void show(const capture::FrameImage& image);

private:
    LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam) override;
    platform::Dib24 picture_;
};

}  // namespace gifanim::review::win32
