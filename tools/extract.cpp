// gifanim extract: one frame of a GIF, or the whole GIF, as a BMP file.
#include "tools/commands.h"
#include "tools/options.h"

namespace gifanim::tool {

int run_extract(const std::vector<Argument>& args) {
    std::vector<const Argument*> operands;
    for (ArgumentCursor arg(args); arg.next();) operands.push_back(&arg.operand());
    if (operands.size() != 3) throw UsageError{"FILE.gif, N and OUT.bmp expected"};
    const auto n = parse_number(operands[1]->text, 0, 65535);
    if (!n) throw UsageError{"N needs a frame number from 0 to 65535"};

    GifReader reader;
    if (!load(reader, *operands[0])) return 1;
    const std::vector<std::uint8_t> data = reader.GetGifData(static_cast<int>(*n));
    if (data.empty()) {
        // A frame whose blocks end before its image descriptor comes back empty without a text.
        const std::string error = reader.GetError().empty() ? std::string("当前帧已经损坏") : reader.GetError();
        return failure(*operands[0], "frame " + std::to_string(*n) + ": " + error);
    }
    return write_output(*operands[2], data);
}

}  // namespace gifanim::tool
