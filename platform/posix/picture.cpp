#include <png.h>
#include <turbojpeg.h>

#include <cstring>

#include "gif/gif_frame.h"
#include "platform/bmp.h"
#include "platform/picture.h"

namespace gifanim::platform {

namespace {

bool is_jpeg(std::span<const std::uint8_t> b) { return b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF; }
bool is_png(std::span<const std::uint8_t> b) {
    static constexpr std::uint8_t kSig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    return b.size() >= 8 && std::memcmp(b.data(), kSig, 8) == 0;
}

struct TjHandle {
    tjhandle h = tjInitDecompress();
    ~TjHandle() {
        if (h) tjDestroy(h);
    }
};

LoadResult decode_jpeg(std::span<const std::uint8_t> bytes, Dib24& out) {
    TjHandle tj;
    if (!tj.h) return LoadResult::undecodable;
    int w = 0, h = 0, subsamp = 0, colourspace = 0;
    auto* src = const_cast<unsigned char*>(bytes.data());
    const auto len = static_cast<unsigned long>(bytes.size());
    if (tjDecompressHeader3(tj.h, src, len, &w, &h, &subsamp, &colourspace) != 0) return LoadResult::undecodable;
    if (const LoadResult r = check_picture_size(w, h); r != LoadResult::ok) return r;
    Dib24& dib = out;  // reuses the caller's buffer; its contents are undefined after a failure
    dib.allocate(w, h);
    // Rows bottom-up as the 24-bit layout wants them. A damaged stream that still yields pixels is
    // only a warning: the picture is shown as far as it goes.
    if (tjDecompress2(tj.h, src, len, dib.bits.get(), w, static_cast<int>(dib.stride), h, TJPF_BGR,
                      TJFLAG_BOTTOMUP) != 0 &&
        tjGetErrorCode(tj.h) != TJERR_WARNING)
        return LoadResult::undecodable;
    return LoadResult::ok;
}

LoadResult decode_png(std::span<const std::uint8_t> bytes, Dib24& out) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return LoadResult::undecodable;
    struct Free {
        png_image* p;
        ~Free() { png_image_free(p); }
    } guard{&image};
    if (const LoadResult r = check_picture_size(image.width, image.height); r != LoadResult::ok) return r;
    image.format = PNG_FORMAT_BGR;
    Dib24& dib = out;  // reuses the caller's buffer; its contents are undefined after a failure
    dib.allocate(static_cast<int>(image.width), static_cast<int>(image.height));
    // Transparent areas are composed over black; a negative stride stores the rows bottom-up.
    const png_color black{0, 0, 0};
    if (!png_image_finish_read(&image, &black, dib.bits.get(), -static_cast<png_int_32>(dib.stride), nullptr))
        return LoadResult::undecodable;
    return LoadResult::ok;
}

}  // namespace

LoadResult load_picture(std::span<const std::uint8_t> bytes, Dib24& out) {
    if (is_jpeg(bytes)) return decode_jpeg(bytes, out);
    if (is_png(bytes)) return decode_png(bytes, out);
    if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return decode_bmp(bytes, out);
    if (bytes.size() >= 6 && std::memcmp(bytes.data(), "GIF", 3) == 0) return decode_gif_picture(bytes, out);
    return LoadResult::undecodable;
}

}  // namespace gifanim::platform
