// The picture loader of the Win32 build: Windows' own OleLoadPicture decodes, GDI renders the
// picture into a screen-compatible bitmap and hands it back as a bottom-up 24-bit DIB.
#include <windows.h>

#include <ocidl.h>
#include <olectl.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "platform/picture.h"
#include "platform/win32/handles.h"

namespace gifanim::platform {

namespace {

using namespace win32;

// Selects and realises a palette for the lifetime of the object; on a palette display the
// colours GetDIBits reports then come from this palette, not from whatever was realised last.
class RealizedPalette {
public:
    RealizedPalette(HDC dc, HPALETTE palette) : dc_(dc), previous_(SelectPalette(dc, palette, FALSE)) {
        RealizePalette(dc_);
    }
    RealizedPalette(const RealizedPalette&) = delete;
    RealizedPalette& operator=(const RealizedPalette&) = delete;
    ~RealizedPalette() {
        if (previous_) SelectPalette(dc_, previous_, FALSE);
    }

private:
    HDC dc_;
    HPALETTE previous_;
};

// The stream's memory and the stream stay alive as long as the picture made from them; members
// are destroyed in reverse order, picture first.
struct LoadedPicture {
    GlobalMemory memory;
    ComPtr<IStream> stream;
    ComPtr<IPicture> picture;
};

[[noreturn]] void throw_out_of_memory() {
    throw std::bad_alloc();
}

// Leaves picture empty when the bytes are not a picture the system can read.
void open_picture(std::span<const std::uint8_t> bytes, LoadedPicture& loaded) {
    loaded.memory.reset(GlobalAlloc(GMEM_MOVEABLE, bytes.size()));
    if (!loaded.memory) throw_out_of_memory();
    void* target = GlobalLock(loaded.memory.get());
    if (!target) throw_out_of_memory();
    std::memcpy(target, bytes.data(), bytes.size());
    GlobalUnlock(loaded.memory.get());

    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(loaded.memory.get(), FALSE, &stream))) throw_out_of_memory();
    loaded.stream.reset(stream);

    // Zero asks for the whole stream, for inputs whose size does not fit the LONG parameter.
    const LONG size = bytes.size() <= static_cast<std::size_t>(MAXLONG) ? static_cast<LONG>(bytes.size()) : 0;
    IPicture* picture = nullptr;
    const HRESULT hr = OleLoadPicture(stream, size, FALSE, IID_IPicture, reinterpret_cast<void**>(&picture));
    if (hr == E_OUTOFMEMORY) throw_out_of_memory();
    if (FAILED(hr) || !picture) return;
    loaded.picture.reset(picture);
}

struct NaturalSize {
    std::int64_t width = 0;
    std::int64_t height = 0;
};

// A bitmap's own pixel size, so that a decoded JPEG or BMP keeps its pixel size at every screen DPI:
// the round trip through 0.01 mm truncates, and the size in 0.01 mm need not have been taken at the
// screen's DPI. Pictures without pixels of their own (icons, metafiles) are measured at the screen's
// resolution.
bool natural_size(IPicture& picture, HDC screen, OLE_XSIZE_HIMETRIC hm_width, OLE_YSIZE_HIMETRIC hm_height,
                  NaturalSize& size) {
    SHORT type = PICTYPE_UNINITIALIZED;
    if (FAILED(picture.get_Type(&type))) return false;
    if (type == PICTYPE_BITMAP) {
        OLE_HANDLE handle = 0;
        if (FAILED(picture.get_Handle(&handle))) return false;
        // OLE_HANDLE is 32 bits; GDI handles are sign-extended from 32 bits on 64-bit Windows.
        const auto bitmap = reinterpret_cast<HBITMAP>(static_cast<LONG_PTR>(static_cast<LONG>(handle)));
        BITMAP info{};
        if (GetObjectW(bitmap, sizeof info, &info) != sizeof info) return false;
        size.width = info.bmWidth;
        size.height = info.bmHeight;
        return true;
    }
    const std::int64_t dpi_x = GetDeviceCaps(screen, LOGPIXELSX);
    const std::int64_t dpi_y = GetDeviceCaps(screen, LOGPIXELSY);
    size.width = std::int64_t{hm_width} * dpi_x / 2540;
    size.height = std::int64_t{hm_height} * dpi_y / 2540;
    return true;
}

}  // namespace

bool platform_handles_gif() { return true; }

LoadResult load_picture(std::span<const std::uint8_t> bytes, Dib24& out) {
    if (bytes.empty()) return LoadResult::undecodable;
    LoadedPicture loaded;
    open_picture(bytes, loaded);
    if (!loaded.picture) return LoadResult::undecodable;
    IPicture& picture = *loaded.picture;

    OLE_XSIZE_HIMETRIC hm_width = 0;
    OLE_YSIZE_HIMETRIC hm_height = 0;
    if (FAILED(picture.get_Width(&hm_width)) || FAILED(picture.get_Height(&hm_height))) {
        return LoadResult::undecodable;
    }

    const ScreenDc screen(GetDC(nullptr));
    if (!screen) throw_out_of_memory();  // only when the desktop has run out of resources
    NaturalSize size;
    if (!natural_size(picture, screen.get(), hm_width, hm_height, size)) return LoadResult::undecodable;
    if (const LoadResult r = check_picture_size(size.width, size.height); r != LoadResult::ok) return r;
    const int width = static_cast<int>(size.width);
    const int height = static_cast<int>(size.height);

    Dib24& dib = out;  // reuses the caller's buffer; its contents are undefined after a failure
    dib.allocate(width, height);

    const Bitmap bitmap(CreateCompatibleBitmap(screen.get(), width, height));
    if (!bitmap) throw_out_of_memory();
    {
        const MemoryDc memory(CreateCompatibleDC(screen.get()));
        if (!memory) throw_out_of_memory();
        const Selection selected(memory.get(), bitmap.get());
        if (!selected.ok()) throw_out_of_memory();
        // The source rectangle starts at the picture's bottom edge with a negative height, which is
        // how IPicture::Render expects an upright picture on a top-down device context.
        if (FAILED(picture.Render(memory.get(), 0, 0, width, height, 0, hm_height, hm_width, -hm_height, nullptr))) {
            return LoadResult::undecodable;
        }
    }

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // positive: bottom-up rows, as Dib24 keeps them
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    int lines = 0;
    {
        const RealizedPalette palette(screen.get(), static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)));
        lines =
            GetDIBits(screen.get(), bitmap.get(), 0, static_cast<UINT>(height), dib.bits.get(), &info, DIB_RGB_COLORS);
    }
    return lines == height ? LoadResult::ok : LoadResult::undecodable;
}

bool jpeg_size(std::span<const std::uint8_t>, int&, int&) {
    return false;  // the picture object reads its size only by decoding
}

LoadResult load_picture_reduced(std::span<const std::uint8_t> bytes, Dib24& out) {
    // The picture object decodes at full size whatever is drawn of it.
    Dib24 whole;
    const LoadResult r = load_picture(bytes, whole);
    if (r == LoadResult::ok) reduce_picture(whole, out);
    return r;
}

}  // namespace gifanim::platform
