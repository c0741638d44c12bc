// Screen grabbing of the Win32 build: GDI copies the rectangle from the screen's device context
// into a compatible bitmap, draws the cursor into it on request, and reads it back as a DIB.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/bmp.h"
#include "platform/screen.h"
#include "platform/win32/handles.h"

namespace gifanim::platform {

namespace {

using namespace win32;

// Palette screens are read at 32 bits: a BMP of theirs would need the palette as well.
int bmp_bits(HDC screen) {
    const int bits = GetDeviceCaps(screen, BITSPIXEL);
    if (bits <= 0) return 0;
    return bits <= 8 ? 32 : bits;
}

// The pointer's cursor, drawn with its top-left corner at the pointer position relative to the
// rectangle. The cursor's own visibility flag is not looked at.
void draw_cursor_into(HDC memory, const ScreenRect& rect) {
    CURSORINFO cursor{};
    cursor.cbSize = sizeof cursor;
    if (!GetCursorInfo(&cursor) || !cursor.hCursor) return;
    DrawIcon(memory, cursor.ptScreenPos.x - rect.left, cursor.ptScreenPos.y - rect.top, cursor.hCursor);
}

}  // namespace

int screen_bits_per_pixel() {
    const ScreenDc screen(GetDC(nullptr));
    if (!screen) return 0;
    return bmp_bits(screen.get());
}

ScreenSize screen_size() {
    return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

bool grab_screen(const ScreenRect& rect, bool draw_cursor, ScreenPixels& out) {
    out.bits_per_pixel = 0;
    out.data.clear();
    const std::int64_t width = std::int64_t{rect.right} - rect.left;
    const std::int64_t height = std::int64_t{rect.bottom} - rect.top;
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX) return false;
    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);

    // Declared in the reverse of the order of release: screen DC, bitmap, memory DC.
    MemoryDc memory;
    Bitmap bitmap;
    const ScreenDc screen(GetDC(nullptr));
    if (!screen) return false;
    const int bits = bmp_bits(screen.get());
    if (bits == 0) return false;
    // GetDIBits takes the size of its buffer as an int; a BMP beyond that is refused like one
    // beyond its own 32-bit size field.
    const std::uint64_t total =
        bmp_stride(static_cast<std::uint64_t>(width), static_cast<unsigned>(bits)) * static_cast<std::uint64_t>(height);
    if (total > static_cast<std::uint64_t>(INT32_MAX) ||
        !bmp_file_size(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height),
                       static_cast<unsigned>(bits), kBmpHeadersSize))
        return false;

    memory.reset(CreateCompatibleDC(screen.get()));
    if (!memory) return false;
    bitmap.reset(CreateCompatibleBitmap(screen.get(), w, h));
    if (!bitmap) return false;
    {
        const win32::Selection selected(memory.get(), bitmap.get());
        if (!selected.ok()) return false;
        // The copy's result is not looked at: where it fails (a locked or secure desktop), the
        // bitmap is still read, and GetDIBits decides whether there is a frame.
        BitBlt(memory.get(), 0, 0, w, h, screen.get(), rect.left, rect.top, SRCCOPY);
        if (draw_cursor) draw_cursor_into(memory.get(), rect);
    }

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;  // positive: bottom-up rows, as a BMP keeps them
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = static_cast<WORD>(bits);
    info.bmiHeader.biCompression = BI_RGB;  // at 16 bits this means 5-5-5
    // The caller's buffer is reused when it is large enough.
    std::vector<std::uint8_t> data = std::move(out.data);
    data.assign(out.offset + static_cast<std::size_t>(total), 0);
    const int lines =
        GetDIBits(memory.get(), bitmap.get(), 0, static_cast<UINT>(h), data.data() + out.offset, &info, DIB_RGB_COLORS);
    if (lines == 0) return false;

    out.bits_per_pixel = bits;
    out.data = std::move(data);
    return true;
}

bool pointer_state(PointerState& out) {
    POINT at{};
    if (!GetCursorPos(&at)) return false;
    out.x = at.x;
    out.y = at.y;
    // The buttons as the user presses them: with swapped buttons the left-hand one is the
    // secondary, and the ring should say which one the user meant, not which one is physical.
    const bool swapped = GetSystemMetrics(SM_SWAPBUTTON) != 0;
    const bool physical_left = (GetAsyncKeyState(VK_LBUTTON) & 0x8000) != 0;
    const bool physical_right = (GetAsyncKeyState(VK_RBUTTON) & 0x8000) != 0;
    out.left = swapped ? physical_right : physical_left;
    out.right = swapped ? physical_left : physical_right;
    return true;
}

platform::Selection select_screen_rect(ScreenRect&) {
    // The recorder's frame window is how a rectangle is chosen on Windows.
    return platform::Selection::failed;
}

}  // namespace gifanim::platform
