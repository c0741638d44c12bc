#pragma once
// Re-encoding image bytes between BMP, JPEG, GIF, TIFF and PNG.
#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

namespace gifanim::imaging {

// Format numbers: 1 BMP, 2 JPEG, 3 GIF, 4 TIFF, 5 PNG; any other number converts nothing.
inline constexpr int kBmp = 1, kJpeg = 2, kGif = 3, kTiff = 4, kPng = 5;

// The file extension of a format number (".bmp", ".jpg", ".gif", ".tiff", ".png"); empty otherwise.
std::string_view extension_of(int format);

// Why a conversion gave no bytes.
enum class ConvertStatus {
    ok,
    not_an_image,  // fewer than 3 bytes, or no format that we read
    too_large,     // more than 65535 pixels a side or 2^30 pixels in all
    implausible,   // a size out of all proportion to the data behind it
    out_of_memory,
    not_encoded,  // decoded, but the encoder refused the picture
    failed,       // the platform's codecs gave nothing, for a reason they do not tell
};

// The image re-encoded in `format`, with the reason when there is none. Nothing throws: memory
// exhaustion is out_of_memory, and `out` is empty after any failure. A format number outside
// 1..5 copies the input.
ConvertStatus convert_image(std::span<const std::uint8_t> bytes, int format, std::vector<std::uint8_t>& out);

// The image re-encoded in `format`. Empty when the input has fewer than 3 bytes or cannot be
// decoded or encoded, memory exhaustion included; a copy of the input when the format number is
// not 1..5. Nothing throws.
std::vector<std::uint8_t> Convert(std::span<const std::uint8_t> bytes, int format);

// As above, the bytes delivered through `out`; true once encoded bytes came back. With a
// destination, the bytes are also written to that file, the format's extension appended first when
// the path does not already end in it (ASCII letters compared without case). When the file cannot
// be written the result is false and `out` empty, as for every other failure; nothing throws.
bool Convert(std::span<const std::uint8_t> bytes, int format, const std::filesystem::path& destination,
             std::vector<std::uint8_t>& out);

// The destination with the format's extension appended unless it already ends in it.
std::filesystem::path with_extension(const std::filesystem::path& destination, int format);

}  // namespace gifanim::imaging
