// gifanim grab: save a rectangle of the screen as an image file.
#include <optional>

#include "capture/grab.h"
#include "imaging/convert.h"
#include "platform/bmp.h"
#include "tools/commands.h"
#include "tools/options.h"

namespace gifanim::tool {

int run_grab(const std::vector<Argument>& args) {
    std::optional<platform::ScreenRect> rect;
    int format = imaging::kBmp;
    bool cursor = false;
    std::vector<const Argument*> operands;
    for (ArgumentCursor arg(args); arg.next();) {
        if (arg.is("--rect"))
            rect = arg.parsed(parse_rect, "LEFT,TOP,RIGHT,BOTTOM");
        else if (arg.is("--format"))
            format = arg.format();
        else if (arg.is("--cursor"))
            cursor = true;
        else
            operands.push_back(&arg.operand());
    }
    if (!rect) throw UsageError{"no --rect"};
    if (operands.size() != 1) throw UsageError{"OUT expected"};
    if (rect->right <= rect->left || rect->bottom <= rect->top) throw UsageError{"the rectangle is empty"};
    const int bits = platform::screen_bits_per_pixel();
    if (bits == 0) return failure("no screen to grab (is DISPLAY set?)");
    const auto width = static_cast<std::uint64_t>(std::int64_t{rect->right} - rect->left);
    const auto height = static_cast<std::uint64_t>(std::int64_t{rect->bottom} - rect->top);
    if (width > 65535 || height > 65535 ||
        !platform::bmp_file_size(width, height, static_cast<unsigned>(bits), platform::kBmpHeadersSize))
        return failure("the rectangle is too large to grab (more than 65535 pixels a side or a BMP above 4 GiB)");
    const std::vector<std::uint8_t> image = capture::GrabRegion(*rect, format, cursor);
    if (image.empty()) return failure("the screen could not be read and converted (or memory ran out)");
    return write_output(*operands[0], image);
}

}  // namespace gifanim::tool
