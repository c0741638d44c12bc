#pragma once
// Re-encoding image files through the platform's image codecs.
#include <cstdint>
#include <span>
#include <vector>

#include "platform/picture.h"

namespace gifanim::platform {

// Image file formats by their numbers.
enum class ImageFormat { bmp = 1, jpeg = 2, gif = 3, tiff = 4, png = 5 };

// Decodes a complete image file and encodes it again in `format` with the encoder's default
// settings (JPEG quality 75). The formats are BMP, JPEG, TIFF and PNG, and GIF where
// platform_handles_gif(). Returns false, leaving `out` empty, when the bytes cannot be decoded or
// encoded. `out` holds exactly the encoded file. Memory exhaustion throws std::bad_alloc.
bool transcode(std::span<const std::uint8_t> bytes, ImageFormat format, std::vector<std::uint8_t>& out);

// The two halves of transcode, for a caller that decodes or encodes one of the formats itself.
// decode_image reads what transcode reads into `out` (its buffer reused, its contents undefined
// after a failure); encode_image writes `picture` as transcode would, false when it cannot.
// Memory exhaustion throws std::bad_alloc.
LoadResult decode_image(std::span<const std::uint8_t> bytes, Dib24& out);
bool encode_image(const Dib24& picture, ImageFormat format, std::vector<std::uint8_t>& out);

}  // namespace gifanim::platform
