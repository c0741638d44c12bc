#pragma once
// Small owners for the Win32 handles the platform layer uses, so that each is released on every
// path out of an operation, exceptions included.
#include <windows.h>

#include <memory>
#include <type_traits>

namespace gifanim::platform::win32 {

struct ComRelease {
    void operator()(IUnknown* p) const { p->Release(); }
};
template <class T>
using ComPtr = std::unique_ptr<T, ComRelease>;

struct GlobalFreeDeleter {
    void operator()(HGLOBAL h) const { GlobalFree(h); }
};
using GlobalMemory = std::unique_ptr<std::remove_pointer_t<HGLOBAL>, GlobalFreeDeleter>;

struct ScreenDcRelease {
    void operator()(HDC dc) const { ReleaseDC(nullptr, dc); }
};
using ScreenDc = std::unique_ptr<std::remove_pointer_t<HDC>, ScreenDcRelease>;

struct MemoryDcDelete {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
using MemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, MemoryDcDelete>;

struct BitmapDelete {
    void operator()(HBITMAP b) const { DeleteObject(b); }
};
using Bitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, BitmapDelete>;

// Puts back the object that was selected before, so that the selected one can be read by
// GetDIBits (which must not be given a selected bitmap) and deleted afterwards.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
    ~Selection() {
        if (ok()) SelectObject(dc_, previous_);
    }
    bool ok() const { return previous_ && previous_ != HGDI_ERROR; }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

}  // namespace gifanim::platform::win32
