#include "gif/picture_loader.h"

#include "gif/gif_frame.h"
#include "gif/gif_index.h"

namespace gifanim {

platform::LoadResult decode_picture(std::span<const std::uint8_t> bytes, platform::Dib24& out) {
    if (!platform::platform_handles_gif() && is_gif_signature(bytes)) return decode_gif_picture(bytes, out);
    return platform::load_picture(bytes, out);
}

}  // namespace gifanim
