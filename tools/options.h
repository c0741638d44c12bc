#pragma once
// What the gifanim commands share: walking the arguments, reading option values, reporting.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "gif/gif_maker.h"
#include "gif/gif_reader.h"
#include "platform/screen.h"
#include "review/shaping.h"
#include "tools/gifanim_tool.h"

namespace gifanim::tool {

// Thrown by a command whose arguments are wrong; the dispatcher prints the message and the
// command's usage text and ends with status 2.
struct UsageError {
    std::string message;
};

// Thrown when a command meets --help or -h; the dispatcher prints the command's usage text.
struct HelpRequested {};

// Walks a command's arguments after the command name, one at a time.
class ArgumentCursor {
public:
    explicit ArgumentCursor(const std::vector<Argument>& args) : args_(args) {}

    // Moves to the next argument; false after the last.
    bool next() { return ++i_ < args_.size(); }
    const Argument& current() const { return args_[i_]; }

    // True when the current argument is the option `name` or its `alias`; `name` is then the
    // one that messages about the option's value speak of.
    bool is(std::string_view name, std::string_view alias = {});

    // The current argument as an operand; throws HelpRequested on --help and UsageError on any
    // other option ("-" alone is an operand).
    const Argument& operand() const;

    // The option's value, the next argument; throws "NAME needs WHAT" when there is none.
    const Argument& value(const std::string& what);

    // The option's value as `parse` reads it; throws "NAME needs WHAT" when there is none or
    // `parse` answers nothing.
    template <typename Parse>
    auto parsed(Parse parse, const std::string& what) -> typename decltype(parse(std::string_view()))::value_type {
        const auto v = i_ + 1 < args_.size() ? parse(std::string_view(args_[++i_].text)) : std::nullopt;
        if (!v) needs(what);
        return *v;
    }

    // The option's value as a whole number from `min` to `max`.
    long number(long min, long max, const char* what = "a number");

    // The option's value as an image format number (bmp, jpeg, gif, tiff, png).
    int format();

private:
    [[noreturn]] void needs(const std::string& what) const;

    const std::vector<Argument>& args_;
    std::size_t i_ = 0;
    std::string_view name_;
};

// A whole decimal number from `min` to `max`, nothing before or after it.
std::optional<long> parse_number(std::string_view s, long min, long max);

// "LEFT,TOP,RIGHT,BOTTOM", each from -1000000 to 1000000.
std::optional<platform::ScreenRect> parse_rect(std::string_view s);

// The format number of a format name.
std::optional<int> format_number(std::string_view name);

// The records keep 16-bit fields signed; the file and the command line hold them unsigned.
inline std::int16_t as_int16(long v) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(v));
}
inline long as_uint16(std::int16_t v) {
    return static_cast<std::uint16_t>(v);
}

// "gifanim: MESSAGE" and a line end, the form of every message the tool writes.
std::string error_line(const std::string& message);

// Takes --optimize and --quality Q (1..100) into `o`; false when the argument is neither.
bool optimization_option(ArgumentCursor& arg, Optimization& o);

// Takes --scale W|WxH|P%, --crop L,T,R,B, --speed F and --max-fps N into `shape`; false when the
// argument is none of them.
bool shape_option(ArgumentCursor& arg, review::ExportShape& shape);

// --max-size SIZE (bytes, or with KB, MB, KiB or MiB; MB is 1,000,000 bytes) and --estimate.
struct SizeOptions {
    std::optional<std::uint64_t> max_size;
    bool estimate = false;
};
bool size_option(ArgumentCursor& arg, SizeOptions& size);
// "123", "9.8MB", "500 KiB": nothing when it is none of these or not above 0.
std::optional<std::uint64_t> parse_size(std::string_view text);

// Writes the message to standard error and answers the failure status 1.
int failure(const std::string& message);
int failure(const Argument& about, const std::string& message);

// Loads the GIF named by `file`; on failure reports the reader's error and answers false.
bool load(GifReader& reader, const Argument& file);

// Reports the reader's error; answers 1.
int reader_failure(const GifReader& reader);

// Writes `bytes` to the file `out`; answers 0, or 1 after reporting why it could not.
int write_output(const Argument& out, std::span<const std::uint8_t> bytes);

}  // namespace gifanim::tool
