#pragma once
// Re-encoding image files through the platform's image codecs.
#include <cstdint>
#include <span>
#include <vector>

namespace gifanim::platform {

// Image file formats by their numbers.
enum class ImageFormat { bmp = 1, jpeg = 2, gif = 3, tiff = 4, png = 5 };

// Decodes a complete image file (any format the platform reads: at least BMP, JPEG, GIF, TIFF
// and PNG) and encodes it again in `format` with the encoder's default settings (JPEG quality 75).
// Returns false, leaving `out` empty, when the bytes cannot be decoded or encoded. `out` holds
// exactly the encoded file.
bool transcode(std::span<const std::uint8_t> bytes, ImageFormat format, std::vector<std::uint8_t>& out);

}  // namespace gifanim::platform
