#include "gif/still_gif.h"

#include "gif/colour_reduction.h"
#include "gif/gif_writer.h"
#include "gif/lzw_encoder.h"

namespace gifanim {

std::vector<std::uint8_t> encode_still_gif(const platform::Dib24& picture) {
    EncodedFrame frame;
    frame.width = static_cast<std::uint16_t>(picture.width);
    frame.height = static_cast<std::uint16_t>(picture.height);
    {
        IndexedImage indexed;
        Unset<std::uint16_t> bins;
        popularity_reduce(picture, indexed, bins);
        frame.palette = indexed.palette;
        LzwEncoder encoder;
        encoder.encode(indexed.indices.data(), picture.width, picture.height, picture.width, 8, false, frame.data);
    }
    AnimationSettings settings;
    settings.width = frame.width;
    settings.height = frame.height;
    const FrameRecord record;
    std::vector<std::uint8_t> file;
    write_gif(file, settings, {&record, 1}, {&frame, 1});
    return file;
}

}  // namespace gifanim
