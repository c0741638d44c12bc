// The picture loader on POSIX: libjpeg-turbo for JPEG, libpng for PNG, our own BMP decoder. GIF is
// left to the GIF library.
#include <png.h>
#include <turbojpeg.h>

#include <cstring>

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

// Whether the frame header (the first SOFn marker) says arithmetic coding (SOF9..SOF11, SOF13..SOF15).
// Markers are walked by their segment lengths; a stream that ends before a frame header is
// taken for Huffman coding, and libjpeg-turbo then refuses it anyway.
bool arithmetic_coded(std::span<const std::uint8_t> b) {
    std::size_t at = 2;  // after the start-of-image marker
    while (at + 4 <= b.size()) {
        if (b[at] != 0xFF) return false;
        const std::uint8_t marker = b[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
            return marker >= 0xC9;
        at += 2 + (static_cast<std::size_t>(b[at + 2]) << 8 | b[at + 3]);
    }
    return false;
}

// The most pixels one byte of a JPEG file can stand for. Huffman coding spends at least one bit on
// every 8 x 8 block of every component, 512 pixels a byte for a greyscale picture. Arithmetic
// coding can spend far less on a flat block; its bound is only there to stop a header of a few
// hundred bytes from claiming a picture of gigabytes.
constexpr unsigned kHuffmanPixelsPerByte = 64 * 8;
constexpr unsigned kArithmeticPixelsPerByte = 1u << 16;

// The picture's size from its header, checked before anything is allocated for it.
LoadResult read_jpeg_header(tjhandle tj, std::span<const std::uint8_t> bytes, int& w, int& h) {
    int subsamp = 0, colourspace = 0;
    if (!tj || tjDecompressHeader3(tj, const_cast<unsigned char*>(bytes.data()),
                                   static_cast<unsigned long>(bytes.size()), &w, &h, &subsamp, &colourspace) != 0)
        return LoadResult::undecodable;
    const unsigned most = arithmetic_coded(bytes) ? kArithmeticPixelsPerByte : kHuffmanPixelsPerByte;
    return check_picture_data(w, h, bytes.size(), most);
}

LoadResult decode_jpeg(std::span<const std::uint8_t> bytes, Dib24& out, int reduction = 1) {
    TjHandle tj;
    int w = 0, h = 0;
    if (const LoadResult r = read_jpeg_header(tj.h, bytes, w, h); r != LoadResult::ok) return r;
    auto* src = const_cast<unsigned char*>(bytes.data());
    const auto len = static_cast<unsigned long>(bytes.size());
    Dib24& dib = out;  // reuses the caller's buffer; its contents are undefined after a failure
    // Scaled in the decoder itself: 1/8 is one of the scales it offers, and it rounds up.
    const tjscalingfactor scale{1, reduction};
    w = TJSCALED(w, scale);
    h = TJSCALED(h, scale);
    dib.allocate(w, h);
    // Rows bottom-up as the 24-bit layout wants them. A damaged stream that still yields pixels is
    // only a warning: the picture is shown as far as it goes.
    if (tjDecompress2(tj.h, src, len, dib.bits.get(), w, static_cast<int>(dib.stride), h, TJPF_BGR,
                      TJFLAG_BOTTOMUP) != 0 &&
        tjGetErrorCode(tj.h) != TJERR_WARNING)
        return LoadResult::undecodable;
    return LoadResult::ok;
}

// Deflate packs at most 1032 bytes into one, and a byte of 1-bit pixels holds 8 of them.
constexpr unsigned kPngPixelsPerByte = 1032 * 8;

LoadResult decode_png(std::span<const std::uint8_t> bytes, Dib24& out) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return LoadResult::undecodable;
    struct Free {
        png_image* p;
        ~Free() { png_image_free(p); }
    } guard{&image};
    if (const LoadResult r = check_picture_data(image.width, image.height, bytes.size(), kPngPixelsPerByte);
        r != LoadResult::ok)
        return r;
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

bool platform_handles_gif() { return false; }

LoadResult load_picture(std::span<const std::uint8_t> bytes, Dib24& out) {
    if (is_jpeg(bytes)) return decode_jpeg(bytes, out);
    if (is_png(bytes)) return decode_png(bytes, out);
    if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return decode_bmp(bytes, out);
    return LoadResult::undecodable;
}

bool jpeg_size(std::span<const std::uint8_t> bytes, int& width, int& height) {
    if (!is_jpeg(bytes)) return false;
    TjHandle tj;
    int w = 0, h = 0;
    if (read_jpeg_header(tj.h, bytes, w, h) != LoadResult::ok) return false;
    width = w;
    height = h;
    return true;
}

LoadResult load_picture_reduced(std::span<const std::uint8_t> bytes, Dib24& out) {
    if (is_jpeg(bytes)) return decode_jpeg(bytes, out, kReduction);
    Dib24 whole;
    const LoadResult r = load_picture(bytes, whole);
    if (r == LoadResult::ok) reduce_picture(whole, out);
    return r;
}

}  // namespace gifanim::platform
