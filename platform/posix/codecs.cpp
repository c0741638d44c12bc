// Image re-encoding on POSIX: decoding through the picture loader (TIFF through libtiff), encoding
// with libjpeg-turbo, libpng, libtiff and our own BMP writer. No GIF: the GIF library does that.
#include <png.h>
#include <tiffio.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "platform/bmp.h"
#include "platform/codecs.h"
#include "platform/picture.h"
#include "platform/posix/loaded_library.h"

namespace gifanim::platform {

namespace {

// ---- TIFF over memory --------------------------------------------------------------------------

bool is_tiff(std::span<const std::uint8_t> b) {
    return b.size() >= 4 && ((b[0] == 'I' && b[1] == 'I' && b[2] == 42 && b[3] == 0) ||
                             (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == 42));
}

// libtiff, loaded the first time a TIFF is read or written.
// clang-format off
#define GIFANIM_TIFF_FUNCTIONS(F)                                                                         \
    F(TIFFClientOpenExt) F(TIFFClose) F(TIFFDefaultStripSize) F(TIFFGetField) F(TIFFGetFieldDefaulted)    \
    F(TIFFIsTiled) F(TIFFOpenOptionsAlloc) F(TIFFOpenOptionsFree) F(TIFFOpenOptionsSetErrorHandlerExtR)   \
    F(TIFFOpenOptionsSetWarningHandlerExtR) F(TIFFRGBAImageBegin) F(TIFFRGBAImageEnd) F(TIFFRGBAImageGet) \
    F(TIFFRGBAImageOK) F(TIFFSetField) F(TIFFWriteDirectory) F(TIFFWriteScanline)
// clang-format on
GIFANIM_LOADED_LIBRARY(TiffLibrary, tiff_library, GIFANIM_TIFF_SONAME, GIFANIM_TIFF_FUNCTIONS)

// libtiff reports through callbacks; a file we cannot read is simply undecodable, so its messages
// are dropped instead of going to stderr.
int quiet_tiff_handler(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// A byte stream that libtiff reads, writes and seeks in: the input bytes when reading, a growing
// buffer when writing.
struct TiffStream {
    const std::uint8_t* input = nullptr;
    std::size_t input_size = 0;
    std::vector<std::uint8_t>* output = nullptr;
    std::uint64_t pos = 0;
    bool out_of_memory = false;  // a write found no memory: libtiff saw a failed write

    std::size_t size() const { return output ? output->size() : input_size; }
    const std::uint8_t* data() const { return output ? output->data() : input; }
};

tmsize_t tiff_read(thandle_t h, void* buf, tmsize_t n) {
    auto* s = static_cast<TiffStream*>(h);
    if (n <= 0 || s->pos >= s->size()) return 0;
    const std::size_t count = std::min<std::uint64_t>(static_cast<std::uint64_t>(n), s->size() - s->pos);
    std::memcpy(buf, s->data() + s->pos, count);
    s->pos += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t tiff_write(thandle_t h, void* buf, tmsize_t n) {
    auto* s = static_cast<TiffStream*>(h);
    if (!s->output || n < 0) return -1;
    const std::uint64_t end = s->pos + static_cast<std::uint64_t>(n);
    // No exception may pass through libtiff's C frames: it would skip libtiff's own clean-up.
    try {
        if (end > s->output->size()) s->output->resize(end);
    } catch (const std::bad_alloc&) {
        s->out_of_memory = true;
        return -1;
    }
    std::memcpy(s->output->data() + s->pos, buf, static_cast<std::size_t>(n));
    s->pos = end;
    return n;
}

toff_t tiff_seek(thandle_t h, toff_t off, int whence) {
    auto* s = static_cast<TiffStream*>(h);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR) base = s->pos;
    else if (whence == SEEK_END) base = s->size();
    else if (whence != SEEK_SET) return static_cast<toff_t>(-1);
    s->pos = base + off;  // past the end is fine: the next write fills the gap with zeros
    return s->pos;
}

int tiff_close(thandle_t) { return 0; }
toff_t tiff_size(thandle_t h) { return static_cast<TiffStream*>(h)->size(); }
// The input is handed to libtiff as a mapped file, read in place: no copies, and libtiff's path
// for unmapped files refuses some valid uncompressed tiled files.
int tiff_map(thandle_t h, void** base, toff_t* size) {
    auto* s = static_cast<TiffStream*>(h);
    if (s->output) return 0;
    *base = const_cast<std::uint8_t*>(s->input);
    *size = s->input_size;
    return 1;
}
void tiff_unmap(thandle_t, void*, toff_t) {}

struct TiffCloser {
    void operator()(TIFF* t) const { tiff_library()->TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

struct OptionsFree {
    void operator()(TIFFOpenOptions* o) const { tiff_library()->TIFFOpenOptionsFree(o); }
};

TiffPtr open_tiff(TiffStream& stream, const char* mode) {
    const TiffLibrary* loaded = tiff_library();
    if (!loaded) return nullptr;  // no libtiff: no TIFF is read or written
    const TiffLibrary& tiff = *loaded;
    std::unique_ptr<TIFFOpenOptions, OptionsFree> opts(tiff.TIFFOpenOptionsAlloc());
    if (!opts) return nullptr;
    tiff.TIFFOpenOptionsSetErrorHandlerExtR(opts.get(), quiet_tiff_handler, nullptr);
    tiff.TIFFOpenOptionsSetWarningHandlerExtR(opts.get(), quiet_tiff_handler, nullptr);
    return TiffPtr(tiff.TIFFClientOpenExt("memory", mode, &stream, tiff_read, tiff_write, tiff_seek, tiff_close,
                                          tiff_size, tiff_map, tiff_unmap, opts.get()));
}

// The most pixels one byte of the file can stand for under each compression, so that a header
// cannot promise a picture out of all proportion to the data behind it.
unsigned tiff_pixels_per_byte(std::uint16_t compression, std::uint32_t width) {
    switch (compression) {
        case COMPRESSION_NONE: return 8;  // the samples themselves; 1-bit pixels pack 8 a byte
        case COMPRESSION_PACKBITS: return 64 * 8;  // two bytes repeat one byte up to 128 times
        case COMPRESSION_JPEG:
        case COMPRESSION_OJPEG: return 64 * 8;  // Huffman coding: a bit at least per 8 x 8 block
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE: return 1032 * 8;  // deflate's most, of 1-bit pixels
        case COMPRESSION_LZW: return 1u << 15;  // a 12-bit code stands for at most 4096 bytes
        case COMPRESSION_CCITTRLE:
        case COMPRESSION_CCITTRLEW:
        case COMPRESSION_CCITTFAX3:
        case COMPRESSION_CCITTFAX4:  // a blank row still takes a bit
            return static_cast<unsigned>(std::min<std::uint64_t>(std::uint64_t{width} * 8, 1u << 30));
        default: return 1u << 20;  // LZMA, Zstandard, JBIG and the rest: far beyond deflate
    }
}

struct RgbaImageEnd {
    void operator()(TIFFRGBAImage* image) const { tiff_library()->TIFFRGBAImageEnd(image); }
};

// Rows are decoded a band at a time into a small raster and go straight into the picture, so a
// picture costs its 24-bit buffer and one band, not four bytes a pixel on top. Bands are whole
// strips or rows of tiles, so that libtiff decodes every strip once.
LoadResult decode_tiff(std::span<const std::uint8_t> bytes, Dib24& out) {
    TiffStream stream;
    stream.input = bytes.data();
    stream.input_size = bytes.size();
    TiffPtr tif = open_tiff(stream, "r");
    if (!tif) return LoadResult::undecodable;
    const TiffLibrary& tiff = *tiff_library();
    TIFF* t = tif.get();
    std::uint32_t w = 0, h = 0;
    if (!tiff.TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w) || !tiff.TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h))
        return LoadResult::undecodable;
    std::uint16_t compression = COMPRESSION_NONE;
    tiff.TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
    if (const LoadResult r = check_picture_data(w, h, bytes.size(), tiff_pixels_per_byte(compression, w));
        r != LoadResult::ok)
        return r;

    char message[1024] = {};
    if (!tiff.TIFFRGBAImageOK(t, message)) return LoadResult::undecodable;
    TIFFRGBAImage image{};
    if (!tiff.TIFFRGBAImageBegin(&image, t, 0, message)) return LoadResult::undecodable;
    const std::unique_ptr<TIFFRGBAImage, RgbaImageEnd> end(&image);
    // Rows are asked for in the file's own vertical order, so that a band is never flipped within
    // itself; libtiff still mirrors rows stored right to left.
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    tiff.TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &orientation);
    const bool bottom_first = orientation == ORIENTATION_BOTLEFT || orientation == ORIENTATION_BOTRIGHT ||
                              orientation == ORIENTATION_LEFTBOT || orientation == ORIENTATION_RIGHTBOT;
    image.req_orientation = bottom_first ? ORIENTATION_BOTLEFT : ORIENTATION_TOPLEFT;

    std::uint32_t unit = 0;  // rows that libtiff decodes together
    if (tiff.TIFFIsTiled(t)) {
        tiff.TIFFGetField(t, TIFFTAG_TILELENGTH, &unit);
    } else {
        tiff.TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &unit);
    }
    unit = std::clamp<std::uint32_t>(unit, 1, h);
    constexpr std::uint64_t kBandBytes = 4 << 20;
    const std::uint64_t units = std::max<std::uint64_t>(1, kBandBytes / (std::uint64_t{w} * 4 * unit));
    const auto band = static_cast<std::uint32_t>(std::min<std::uint64_t>(units * unit, h));

    out.allocate(static_cast<int>(w), static_cast<int>(h));
    std::vector<std::uint32_t> raster(static_cast<std::size_t>(w) * band);
    for (std::uint32_t first = 0; first < h; first += band) {
        const std::uint32_t rows = std::min(band, h - first);
        image.row_offset = static_cast<int>(first);
        if (!tiff.TIFFRGBAImageGet(&image, raster.data(), w, rows)) return LoadResult::undecodable;
        for (std::uint32_t r = 0; r < rows; ++r) {
            // File row first + r is picture row (from the top) first + r, or counted from the bottom.
            const std::uint32_t from_top = bottom_first ? h - 1 - (first + r) : first + r;
            const std::uint32_t* src = raster.data() + static_cast<std::size_t>(r) * w;
            std::uint8_t* dst = out.row(static_cast<int>(h - 1 - from_top));
            for (std::uint32_t x = 0; x < w; ++x, dst += 3) {
                dst[0] = static_cast<std::uint8_t>(TIFFGetB(src[x]));
                dst[1] = static_cast<std::uint8_t>(TIFFGetG(src[x]));
                dst[2] = static_cast<std::uint8_t>(TIFFGetR(src[x]));
            }
        }
    }
    return LoadResult::ok;
}

bool encode_tiff(const Dib24& dib, std::vector<std::uint8_t>& out) {
    std::vector<std::uint8_t> file;
    TiffStream stream;
    stream.output = &file;
    {
        TiffPtr tif = open_tiff(stream, "w");
        if (!tif) return false;
        const TiffLibrary& tiff = *tiff_library();
        TIFF* t = tif.get();
        const auto w = static_cast<std::uint32_t>(dib.width);
        const auto h = static_cast<std::uint32_t>(dib.height);
        tiff.TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
        tiff.TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
        tiff.TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
        tiff.TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
        tiff.TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        tiff.TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        tiff.TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
        tiff.TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        tiff.TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, tiff.TIFFDefaultStripSize(t, 0));
        std::vector<std::uint8_t> line(static_cast<std::size_t>(w) * 3);
        bool written = true;
        for (std::uint32_t r = 0; written && r < h; ++r) {
            const std::uint8_t* src = dib.row(static_cast<int>(h - 1 - r));
            for (std::size_t i = 0; i < line.size(); i += 3) {
                line[i] = src[i + 2];
                line[i + 1] = src[i + 1];
                line[i + 2] = src[i];
            }
            written = tiff.TIFFWriteScanline(t, line.data(), r, 0) >= 0;
        }
        written = written && tiff.TIFFWriteDirectory(t);
        if (!written && !stream.out_of_memory) return false;
    }  // closing flushes the last of the file into `file`
    // Memory that ran out under libtiff is reported here, in our own frames.
    if (stream.out_of_memory) throw std::bad_alloc();
    out = std::move(file);
    return true;
}

// ---- JPEG, PNG ---------------------------------------------------------------------------------

bool encode_jpeg(const Dib24& dib, std::vector<std::uint8_t>& out) {
    struct Compressor {
        tjhandle h = tjInitCompress();
        unsigned char* buf = nullptr;
        ~Compressor() {
            tjFree(buf);
            if (h) tjDestroy(h);
        }
    } tj;
    if (!tj.h) return false;
    unsigned long size = 0;
    if (tjCompress2(tj.h, dib.bits.get(), dib.width, static_cast<int>(dib.stride), dib.height, TJPF_BGR, &tj.buf,
                    &size, TJSAMP_420, 75, TJFLAG_BOTTOMUP) != 0)
        return false;
    out.assign(tj.buf, tj.buf + size);
    return true;
}

bool encode_png(const Dib24& dib, std::vector<std::uint8_t>& out) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(dib.width);
    image.height = static_cast<png_uint_32>(dib.height);
    image.format = PNG_FORMAT_BGR;
    // The stride counts components, one byte each here; negative means the rows are bottom-up.
    const auto stride = -static_cast<png_int_32>(dib.stride);
    png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(image);
    std::vector<std::uint8_t> file(size);
    if (!png_image_write_to_memory(&image, file.data(), &size, 0, dib.bits.get(), stride, nullptr)) {
        png_image_free(&image);
        return false;
    }
    file.resize(size);
    out = std::move(file);
    return true;
}

// ---- BMP ---------------------------------------------------------------------------------------

bool encode_bmp(const Dib24& dib, std::vector<std::uint8_t>& out) {
    const std::uint64_t image_size = std::uint64_t{dib.stride} * static_cast<std::uint64_t>(dib.height);
    if (!bmp_file_size(static_cast<std::uint64_t>(dib.width), static_cast<std::uint64_t>(dib.height), 24,
                       kBmpHeadersSize))
        return false;
    out.assign(kBmpHeadersSize + image_size, 0);
    write_bmp_headers(std::span(out).first<kBmpHeadersSize>(), dib.width, dib.height, 24, 0,
                      static_cast<std::uint32_t>(image_size), kBmpHeadersSize);
    // The loader leaves the padding bytes of a row undefined; the file keeps its zeros there.
    const std::size_t used = static_cast<std::size_t>(dib.width) * 3;
    std::uint8_t* dst = out.data() + kBmpHeadersSize;
    for (int r = 0; r < dib.height; ++r, dst += dib.stride) std::memcpy(dst, dib.row(r), used);
    return true;
}

}  // namespace

LoadResult decode_image(std::span<const std::uint8_t> bytes, Dib24& out) {
    return is_tiff(bytes) ? decode_tiff(bytes, out) : load_picture(bytes, out);
}

bool encode_image(const Dib24& picture, ImageFormat format, std::vector<std::uint8_t>& out) {
    out.clear();
    bool ok = false;
    switch (format) {
        case ImageFormat::bmp: ok = encode_bmp(picture, out); break;
        case ImageFormat::jpeg: ok = encode_jpeg(picture, out); break;
        case ImageFormat::tiff: ok = encode_tiff(picture, out); break;
        case ImageFormat::png: ok = encode_png(picture, out); break;
        case ImageFormat::gif: break;  // see platform_handles_gif()
    }
    if (!ok) out.clear();
    return ok;
}

bool transcode(std::span<const std::uint8_t> bytes, ImageFormat format, std::vector<std::uint8_t>& out) {
    out.clear();
    // Kept per thread: a fresh picture-sized block costs a page fault per 4 KiB on every call, which
    // is most of the time of a screen frame. A huge one is let go again, whichever way we leave.
    thread_local Dib24 dib;
    struct Trim {
        ~Trim() {
            if (dib.capacity > kKeptScratchBytes) dib = Dib24{};
        }
    } trim;
    if (decode_image(bytes, dib) != LoadResult::ok) return false;
    return encode_image(dib, format, out);
}

}  // namespace gifanim::platform
