// Image codecs of the Win32 build: GDI+ (through its flat API) decodes whatever it reads and
// encodes again with the built-in encoder of the requested format.
#include <windows.h>

#include <objidl.h>

#include <gdiplus.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <type_traits>

#include "platform/bmp.h"
#include "platform/codecs.h"
#include "platform/win32/handles.h"

namespace gifanim::platform {

namespace {

namespace gdip = Gdiplus::DllExports;
using namespace win32;

struct ImageDispose {
    void operator()(Gdiplus::GpImage* image) const { gdip::GdipDisposeImage(image); }
};
using Image = std::unique_ptr<Gdiplus::GpImage, ImageDispose>;

// GDI+ is started for one conversion and shut down again when it ends, whichever way it ends.
class GdiplusSession {
public:
    GdiplusSession() {
        const Gdiplus::GdiplusStartupInput input(nullptr, FALSE, FALSE);  // version 1
        if (Gdiplus::GdiplusStartup(&token_, &input, nullptr) != Gdiplus::Ok) token_ = 0;
    }
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;
    ~GdiplusSession() {
        if (token_) Gdiplus::GdiplusShutdown(token_);
    }
    bool ok() const { return token_ != 0; }

private:
    ULONG_PTR token_ = 0;
};

// Keeps a global memory block locked while it is read or written.
class GlobalLockGuard {
public:
    explicit GlobalLockGuard(HGLOBAL block) : block_(block), data_(GlobalLock(block)) {}
    GlobalLockGuard(const GlobalLockGuard&) = delete;
    GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;
    ~GlobalLockGuard() {
        if (data_) GlobalUnlock(block_);
    }
    void* data() const { return data_; }

private:
    HGLOBAL block_;
    void* data_;
};

[[noreturn]] void throw_out_of_memory() {
    throw std::bad_alloc();
}

// The built-in encoders' class identifiers, differing only in the last digit of the first group.
const char* encoder_text(ImageFormat format) {
    switch (format) {
        case ImageFormat::bmp: return "{557CF400-1A04-11D3-9A73-0000F81EF32E}";
        case ImageFormat::jpeg: return "{557CF401-1A04-11D3-9A73-0000F81EF32E}";
        case ImageFormat::gif: return "{557CF402-1A04-11D3-9A73-0000F81EF32E}";
        case ImageFormat::tiff: return "{557CF405-1A04-11D3-9A73-0000F81EF32E}";
        case ImageFormat::png: return "{557CF406-1A04-11D3-9A73-0000F81EF32E}";
    }
    return nullptr;
}

bool encoder_clsid(ImageFormat format, CLSID& clsid) {
    const char* text = encoder_text(format);
    if (!text) return false;
    // -1: the length includes the terminator, which CLSIDFromString needs.
    const int length = MultiByteToWideChar(936, 0, text, -1, nullptr, 0);
    if (length <= 0) return false;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(936, 0, text, -1, wide.data(), length) != length) return false;
    return SUCCEEDED(CLSIDFromString(wide.c_str(), &clsid));
}

// The number of bytes written to a memory stream: its block may be larger than that.
bool stream_size(IStream& stream, std::size_t& size) {
    STATSTG stat{};
    if (FAILED(stream.Stat(&stat, STATFLAG_NONAME))) return false;
    if (stat.cbSize.QuadPart > SIZE_MAX) return false;
    size = static_cast<std::size_t>(stat.cbSize.QuadPart);
    return true;
}

bool encode(std::span<const std::uint8_t> bytes, ImageFormat format, std::vector<std::uint8_t>& out) {
    const GdiplusSession session;
    if (!session.ok()) return false;

    CLSID encoder{};
    if (!encoder_clsid(format, encoder)) return false;

    // The input block is freed last: the input stream and the image read from it go first.
    const GlobalMemory input_block(GlobalAlloc(GMEM_MOVEABLE, bytes.size()));
    if (!input_block) throw_out_of_memory();
    IStream* raw = nullptr;
    if (FAILED(CreateStreamOnHGlobal(input_block.get(), FALSE, &raw))) throw_out_of_memory();
    const ComPtr<IStream> input(raw);
    {
        const GlobalLockGuard lock(input_block.get());
        if (!lock.data()) throw_out_of_memory();
        std::memcpy(lock.data(), bytes.data(), bytes.size());
    }

    Gdiplus::GpBitmap* bitmap = nullptr;
    if (gdip::GdipCreateBitmapFromStream(input.get(), &bitmap) != Gdiplus::Ok || !bitmap) return false;
    const Image image(bitmap);

    raw = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &raw))) throw_out_of_memory();
    const ComPtr<IStream> output(raw);
    if (gdip::GdipSaveImageToStream(image.get(), output.get(), &encoder, nullptr) != Gdiplus::Ok) return false;

    HGLOBAL output_block = nullptr;
    if (FAILED(GetHGlobalFromStream(output.get(), &output_block))) return false;
    std::size_t size = 0;
    if (!stream_size(*output, size) || size == 0 || size > GlobalSize(output_block)) return false;
    const GlobalLockGuard lock(output_block);
    if (!lock.data()) return false;
    const auto* encoded = static_cast<const std::uint8_t*>(lock.data());
    out.assign(encoded, encoded + size);
    return true;
}

}  // namespace

bool transcode(std::span<const std::uint8_t> bytes, ImageFormat format, std::vector<std::uint8_t>& out) {
    out.clear();
    if (bytes.empty()) return false;
    if (!encode(bytes, format, out)) {
        out.clear();
        return false;
    }
    return true;
}

// GDI+ reads and writes files, not pictures: the halves go through a 24-bit BMP in memory.
LoadResult decode_image(std::span<const std::uint8_t> bytes, Dib24& out) {
    std::vector<std::uint8_t> bmp;
    if (!transcode(bytes, ImageFormat::bmp, bmp)) return LoadResult::undecodable;
    return decode_bmp(bmp, out);
}

bool encode_image(const Dib24& picture, ImageFormat format, std::vector<std::uint8_t>& out) {
    out.clear();
    const std::uint64_t image_size = std::uint64_t{picture.stride} * static_cast<std::uint64_t>(picture.height);
    if (!bmp_file_size(static_cast<std::uint64_t>(picture.width), static_cast<std::uint64_t>(picture.height), 24,
                       kBmpHeadersSize))
        return false;
    std::vector<std::uint8_t> bmp(kBmpHeadersSize + image_size, 0);
    write_bmp_headers(std::span(bmp).first<kBmpHeadersSize>(), picture.width, picture.height, 24, 0,
                      static_cast<std::uint32_t>(image_size), kBmpHeadersSize);
    const std::size_t used = static_cast<std::size_t>(picture.width) * 3;
    for (int r = 0; r < picture.height; ++r)
        std::memcpy(bmp.data() + kBmpHeadersSize + picture.stride * static_cast<std::size_t>(r), picture.row(r), used);
    return transcode(bmp, format, out);
}

}  // namespace gifanim::platform
