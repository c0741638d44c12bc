// Image re-encoding on POSIX: decoding through the picture loader (TIFF through libtiff), encoding
// with libjpeg-turbo, libpng, libtiff, our own BMP writer and our own GIF library.
#include <png.h>
#include <tiffio.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "gif/colour_reduction.h"
#include "gif/lzw_encoder.h"
#include "platform/codecs.h"
#include "platform/picture.h"

namespace gifanim::platform {

namespace {

void put16(std::vector<std::uint8_t>& out, unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    put16(out, v & 0xFFFFu);
    put16(out, v >> 16);
}

// ---- TIFF over memory --------------------------------------------------------------------------

bool is_tiff(std::span<const std::uint8_t> b) {
    return b.size() >= 4 && ((b[0] == 'I' && b[1] == 'I' && b[2] == 42 && b[3] == 0) ||
                             (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == 42));
}

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
    if (end > s->output->size()) s->output->resize(end);
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
int tiff_map(thandle_t, void**, toff_t*) { return 0; }
void tiff_unmap(thandle_t, void*, toff_t) {}

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

struct OptionsFree {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

TiffPtr open_tiff(TiffStream& stream, const char* mode) {
    std::unique_ptr<TIFFOpenOptions, OptionsFree> opts(TIFFOpenOptionsAlloc());
    if (!opts) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(opts.get(), quiet_tiff_handler, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(opts.get(), quiet_tiff_handler, nullptr);
    return TiffPtr(TIFFClientOpenExt("memory", mode, &stream, tiff_read, tiff_write, tiff_seek, tiff_close,
                                     tiff_size, tiff_map, tiff_unmap, opts.get()));
}

bool decode_tiff(std::span<const std::uint8_t> bytes, Dib24& out) {
    TiffStream stream;
    stream.input = bytes.data();
    stream.input_size = bytes.size();
    TiffPtr tif = open_tiff(stream, "rm");
    if (!tif) return false;
    std::uint32_t w = 0, h = 0;
    if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &h))
        return false;
    if (check_picture_size(w, h) != LoadResult::ok) return false;
    std::vector<std::uint32_t> raster(static_cast<std::size_t>(w) * h);
    // Bottom-left orientation hands the rows over bottom-up, as the 24-bit layout stores them.
    if (!TIFFReadRGBAImageOriented(tif.get(), w, h, raster.data(), ORIENTATION_BOTLEFT, 0)) return false;
    out.allocate(static_cast<int>(w), static_cast<int>(h));
    for (std::uint32_t r = 0; r < h; ++r) {
        const std::uint32_t* src = raster.data() + static_cast<std::size_t>(r) * w;
        std::uint8_t* dst = out.row(static_cast<int>(r));
        for (std::uint32_t x = 0; x < w; ++x, dst += 3) {
            dst[0] = static_cast<std::uint8_t>(TIFFGetB(src[x]));
            dst[1] = static_cast<std::uint8_t>(TIFFGetG(src[x]));
            dst[2] = static_cast<std::uint8_t>(TIFFGetR(src[x]));
        }
    }
    return true;
}

bool encode_tiff(const Dib24& dib, std::vector<std::uint8_t>& out) {
    std::vector<std::uint8_t> file;
    TiffStream stream;
    stream.output = &file;
    {
        TiffPtr tif = open_tiff(stream, "w");
        if (!tif) return false;
        TIFF* t = tif.get();
        const auto w = static_cast<std::uint32_t>(dib.width);
        const auto h = static_cast<std::uint32_t>(dib.height);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
        std::vector<std::uint8_t> line(static_cast<std::size_t>(w) * 3);
        for (std::uint32_t r = 0; r < h; ++r) {
            const std::uint8_t* src = dib.row(static_cast<int>(h - 1 - r));
            for (std::size_t i = 0; i < line.size(); i += 3) {
                line[i] = src[i + 2];
                line[i + 1] = src[i + 1];
                line[i + 2] = src[i];
            }
            if (TIFFWriteScanline(t, line.data(), r, 0) < 0) return false;
        }
        if (!TIFFWriteDirectory(t)) return false;
    }  // closing flushes the last of the file into `file`
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

// ---- BMP, GIF ----------------------------------------------------------------------------------

bool encode_bmp(const Dib24& dib, std::vector<std::uint8_t>& out) {
    const std::uint64_t image_size = static_cast<std::uint64_t>(dib.stride) * static_cast<std::uint64_t>(dib.height);
    if (image_size + 54 > std::numeric_limits<std::uint32_t>::max()) return false;
    out.clear();
    out.reserve(54 + image_size);
    out.push_back('B');
    out.push_back('M');
    put32(out, static_cast<std::uint32_t>(54 + image_size));
    put32(out, 0);
    put32(out, 54);
    put32(out, 40);
    put32(out, static_cast<std::uint32_t>(dib.width));
    put32(out, static_cast<std::uint32_t>(dib.height));  // positive: rows bottom-up
    put16(out, 1);
    put16(out, 24);
    put32(out, 0);  // uncompressed
    put32(out, static_cast<std::uint32_t>(image_size));
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    // The loader leaves the padding bytes of a row undefined; the file gets zeros there.
    const std::size_t used = static_cast<std::size_t>(dib.width) * 3;
    for (int r = 0; r < dib.height; ++r) {
        const std::uint8_t* row = dib.row(r);
        out.insert(out.end(), row, row + used);
        out.insert(out.end(), dib.stride - used, 0);
    }
    return true;
}

bool encode_gif(const Dib24& dib, std::vector<std::uint8_t>& out) {
    IndexedImage indexed;
    std::vector<std::uint16_t> bins;
    popularity_reduce(dib, indexed, bins);
    const auto w = static_cast<unsigned>(dib.width);
    const auto h = static_cast<unsigned>(dib.height);
    std::vector<std::uint8_t> file;
    file.reserve(13 + 768 + 10 + LzwEncoder::max_data_size(indexed.indices.size()) + 2);
    for (char c : {'G', 'I', 'F', '8', '9', 'a'}) file.push_back(static_cast<std::uint8_t>(c));
    put16(file, w);
    put16(file, h);
    file.push_back(0xF7);  // global table of 256 colours, 8 bits of colour resolution
    file.push_back(0);     // background index
    file.push_back(0);     // no aspect ratio
    file.insert(file.end(), indexed.palette.begin(), indexed.palette.end());
    file.push_back(0x2C);
    put16(file, 0);
    put16(file, 0);
    put16(file, w);
    put16(file, h);
    file.push_back(0x07);
    LzwEncoder encoder;
    encoder.encode(indexed.indices.data(), dib.width, dib.height, dib.width, 8, false, file);
    file.push_back(0x00);
    file.push_back(0x3B);
    out = std::move(file);
    return true;
}

}  // namespace

bool transcode(std::span<const std::uint8_t> bytes, ImageFormat format, std::vector<std::uint8_t>& out) {
    out.clear();
    // Kept per thread: a fresh picture-sized block costs a page fault per 4 KiB on every call, which
    // is most of the time of a screen frame.
    thread_local Dib24 dib;
    if (is_tiff(bytes)) {
        if (!decode_tiff(bytes, dib)) return false;
    } else if (load_picture(bytes, dib) != LoadResult::ok) {
        return false;
    }
    bool ok = false;
    switch (format) {
        case ImageFormat::bmp: ok = encode_bmp(dib, out); break;
        case ImageFormat::jpeg: ok = encode_jpeg(dib, out); break;
        case ImageFormat::gif: ok = encode_gif(dib, out); break;
        case ImageFormat::tiff: ok = encode_tiff(dib, out); break;
        case ImageFormat::png: ok = encode_png(dib, out); break;
    }
    if (!ok) out.clear();
    return ok;
}

}  // namespace gifanim::platform
