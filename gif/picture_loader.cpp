#include "gif/picture_loader.h"

namespace gifanim {

platform::LoadResult decode_picture(std::span<const std::uint8_t> bytes, platform::Dib24& out) {
    return platform::load_picture(bytes, out);
}

}  // namespace gifanim
