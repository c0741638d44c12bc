#include "imaging/convert.h"

#include <new>
#include <type_traits>

#include "gif/gif_frame.h"
#include "gif/gif_index.h"
#include "gif/still_gif.h"
#include "platform/codecs.h"
#include "platform/file.h"

namespace gifanim::imaging {

namespace {

char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

ConvertStatus status_of(platform::LoadResult r) {
    switch (r) {
        case platform::LoadResult::ok: return ConvertStatus::ok;
        case platform::LoadResult::undecodable: return ConvertStatus::not_an_image;
        case platform::LoadResult::too_large: return ConvertStatus::too_large;
        case platform::LoadResult::implausible: return ConvertStatus::implausible;
    }
    return ConvertStatus::not_an_image;
}

// Where the platform has no GIF codec, a conversion decodes and encodes apart: GIF by the GIF
// library, every other format by the platform's codecs.
ConvertStatus convert_by_parts(std::span<const std::uint8_t> bytes, platform::ImageFormat format,
                               std::vector<std::uint8_t>& out) {
    // Kept per thread: a fresh picture-sized block costs a page fault per 4 KiB on every call, which
    // is most of the time of a screen frame. A huge one is let go again, whichever way we leave.
    thread_local platform::Dib24 picture;
    struct Trim {
        ~Trim() {
            if (picture.capacity > platform::kKeptScratchBytes) picture = platform::Dib24{};
        }
    } trim;
    const platform::LoadResult decoded =
        is_gif_signature(bytes) ? decode_gif_picture(bytes, picture) : platform::decode_image(bytes, picture);
    if (decoded != platform::LoadResult::ok) return status_of(decoded);
    if (format == platform::ImageFormat::gif) {
        out = encode_still_gif(picture);
        return ConvertStatus::ok;
    }
    return platform::encode_image(picture, format, out) ? ConvertStatus::ok : ConvertStatus::not_encoded;
}

}  // namespace

std::string_view extension_of(int format) {
    switch (format) {
        case kBmp: return ".bmp";
        case kJpeg: return ".jpg";
        case kGif: return ".gif";
        case kTiff: return ".tiff";
        case kPng: return ".png";
        default: return {};
    }
}

ConvertStatus convert_image(std::span<const std::uint8_t> bytes, int format, std::vector<std::uint8_t>& out) {
    out.clear();
    if (bytes.size() < 3) return ConvertStatus::not_an_image;
    try {
        if (format < kBmp || format > kPng) {
            out.assign(bytes.begin(), bytes.end());
            return ConvertStatus::ok;
        }
        const auto image_format = static_cast<platform::ImageFormat>(format);
        ConvertStatus status = ConvertStatus::ok;
        if (platform::platform_handles_gif()) {
            status = platform::transcode(bytes, image_format, out) ? ConvertStatus::ok : ConvertStatus::failed;
        } else {
            status = convert_by_parts(bytes, image_format, out);
        }
        if (status != ConvertStatus::ok || out.empty()) {
            out = {};
            return status == ConvertStatus::ok ? ConvertStatus::failed : status;
        }
        return ConvertStatus::ok;
    } catch (const std::bad_alloc&) {
        out = {};
        return ConvertStatus::out_of_memory;
    } catch (...) {
        out = {};
        return ConvertStatus::failed;
    }
}

std::vector<std::uint8_t> Convert(std::span<const std::uint8_t> bytes, int format) {
    std::vector<std::uint8_t> out;
    convert_image(bytes, format, out);
    return out;
}

std::filesystem::path with_extension(const std::filesystem::path& destination, int format) {
    const std::string_view ext = extension_of(format);
    // Compared on the path's own characters, so that names in any script keep their bytes.
    const auto& native = destination.native();
    bool ends_in_ext = native.size() >= ext.size();
    for (std::size_t i = 0; ends_in_ext && i < ext.size(); ++i) {
        const auto c = native[native.size() - ext.size() + i];
        const auto code = static_cast<std::make_unsigned_t<std::remove_const_t<decltype(c)>>>(c);
        ends_in_ext = code < 128 && fold(static_cast<char>(code)) == ext[i];
    }
    if (ends_in_ext) return destination;
    std::filesystem::path result = destination;
    result += std::string(ext);
    return result;
}

bool Convert(std::span<const std::uint8_t> bytes, int format, const std::filesystem::path& destination,
             std::vector<std::uint8_t>& out) {
    if (convert_image(bytes, format, out) != ConvertStatus::ok) return false;
    if (destination.empty()) return true;
    try {
        const bool known = format >= kBmp && format <= kPng;
        platform::File file = platform::File::create(known ? with_extension(destination, format) : destination);
        file.write(out);
        file.close();
        return true;
    } catch (...) {
        out = {};
        return false;
    }
}

}  // namespace gifanim::imaging
