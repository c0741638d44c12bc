#include "imaging/convert.h"

#include <type_traits>

#include "platform/codecs.h"
#include "platform/file.h"

namespace gifanim::imaging {

namespace {

char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

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

std::vector<std::uint8_t> Convert(std::span<const std::uint8_t> bytes, int format) {
    std::vector<std::uint8_t> out;
    Convert(bytes, format, {}, out);
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
    out.clear();
    if (bytes.size() < 3) return false;
    const bool known = format >= kBmp && format <= kPng;
    if (!known) {
        out.assign(bytes.begin(), bytes.end());
    } else if (!platform::transcode(bytes, static_cast<platform::ImageFormat>(format), out)) {
        out.clear();
        return false;
    }
    if (!destination.empty()) {
        platform::File file = platform::File::create(known ? with_extension(destination, format) : destination);
        file.write(out);
        file.close();
    }
    return !out.empty();
}

}  // namespace gifanim::imaging
