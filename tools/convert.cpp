// gifanim convert: re-encode an image file in another format.
#include <optional>

#include "imaging/convert.h"
#include "platform/file.h"
#include "tools/commands.h"
#include "tools/options.h"

namespace gifanim::tool {

namespace {

std::string convert_failure(imaging::ConvertStatus status) {
    switch (status) {
        case imaging::ConvertStatus::ok: break;
        case imaging::ConvertStatus::not_an_image: return "not an image this program can read";
        case imaging::ConvertStatus::too_large:
            return "the picture is too large (more than 65535 pixels a side or 2^30 pixels)";
        case imaging::ConvertStatus::implausible:
            return "the picture's size is out of all proportion to its data (a damaged or hostile file)";
        case imaging::ConvertStatus::out_of_memory: return "not enough memory to convert the picture";
        case imaging::ConvertStatus::not_encoded: return "the picture could not be encoded in that format";
        case imaging::ConvertStatus::failed: return "the image could not be decoded or encoded";
    }
    return "the image could not be converted";
}

}  // namespace

int run_convert(const std::vector<Argument>& args) {
    std::optional<int> format;
    std::vector<const Argument*> operands;
    for (ArgumentCursor arg(args); arg.next();) {
        if (arg.is("--format"))
            format = arg.format();
        else
            operands.push_back(&arg.operand());
    }
    if (!format) throw UsageError{"no --format"};
    if (operands.size() != 2) throw UsageError{"IN and OUT expected"};
    std::vector<std::uint8_t> input;
    try {
        platform::File in = platform::File::open_read(operands[0]->path);
        input.resize(static_cast<std::size_t>(in.size()));
        in.read(input);
    } catch (const platform::FileError& e) {
        return failure(*operands[0], e.text);
    }
    std::vector<std::uint8_t> output;
    const imaging::ConvertStatus status = imaging::convert_image(input, *format, output);
    if (status != imaging::ConvertStatus::ok) return failure(*operands[0], convert_failure(status));
    input = {};
    return write_output(*operands[1], output);
}

}  // namespace gifanim::tool
