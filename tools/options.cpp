#include "tools/options.h"

#include <charconv>
#include <cmath>
#include <utility>

#include "imaging/convert.h"
#include "platform/file.h"
#include "platform/text.h"

namespace gifanim::tool {

bool ArgumentCursor::is(std::string_view name, std::string_view alias) {
    const std::string& a = current().text;
    if (a != name && (alias.empty() || a != alias)) return false;
    name_ = name;
    return true;
}

const Argument& ArgumentCursor::operand() const {
    const std::string& a = current().text;
    if (a == "--help" || a == "-h") throw HelpRequested{};
    if (a.size() > 1 && a[0] == '-') throw UsageError{"unknown option " + a};
    return current();
}

const Argument& ArgumentCursor::value(const std::string& what) {
    if (i_ + 1 >= args_.size()) needs(what);
    return args_[++i_];
}

long ArgumentCursor::number(long min, long max, const char* what) {
    return parsed([=](std::string_view s) { return parse_number(s, min, max); },
                  std::string(what) + " from " + std::to_string(min) + " to " + std::to_string(max));
}

int ArgumentCursor::format() {
    return parsed(format_number, "bmp, jpeg, gif, tiff or png");
}

void ArgumentCursor::needs(const std::string& what) const {
    throw UsageError{std::string(name_) + " needs " + what};
}

std::optional<long> parse_number(std::string_view s, long min, long max) {
    long v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || v < min || v > max) return std::nullopt;
    return v;
}

std::optional<platform::ScreenRect> parse_rect(std::string_view s) {
    std::int32_t v[4];
    for (int k = 0; k < 4; ++k) {
        const std::size_t comma = k < 3 ? s.find(',') : s.size();
        if (comma == std::string_view::npos) return std::nullopt;
        const auto n = parse_number(s.substr(0, comma), -1000000, 1000000);
        if (!n) return std::nullopt;
        v[k] = static_cast<std::int32_t>(*n);
        if (k < 3) s = s.substr(comma + 1);
    }
    return platform::ScreenRect{v[0], v[1], v[2], v[3]};
}

std::optional<int> format_number(std::string_view name) {
    static constexpr std::pair<std::string_view, int> kNames[] = {
        {"bmp", imaging::kBmp},   {"jpeg", imaging::kJpeg}, {"jpg", imaging::kJpeg}, {"gif", imaging::kGif},
        {"tiff", imaging::kTiff}, {"tif", imaging::kTiff},  {"png", imaging::kPng}};
    for (const auto& [n, number] : kNames)
        if (n == name) return number;
    return std::nullopt;
}

std::string error_line(const std::string& message) {
    return "gifanim: " + message + "\n";
}

bool optimization_option(ArgumentCursor& arg, Optimization& o) {
    if (arg.is("--optimize")) {
        o.enabled = true;
    } else if (arg.is("--quality")) {
        o.quality = static_cast<int>(arg.number(1, 100));
    } else {
        return false;
    }
    return true;
}

bool shape_option(ArgumentCursor& arg, review::ExportShape& shape) {
    if (arg.is("--scale")) {
        shape.scale = arg.parsed(review::parse_scale, "a width W, a box WxH or a percentage P%");
    } else if (arg.is("--crop")) {
        shape.crop = arg.parsed(parse_rect, "LEFT,TOP,RIGHT,BOTTOM");
        if (shape.crop->right <= shape.crop->left || shape.crop->bottom <= shape.crop->top) {
            throw UsageError{"the crop rectangle is empty"};
        }
    } else if (arg.is("--speed")) {
        shape.speed = arg.parsed(
            [](std::string_view s) -> std::optional<double> {
                double v = 0;
                const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
                if (ec != std::errc() || end != s.data() + s.size() || !(v >= 0.01) || v > 100) return std::nullopt;
                return v;
            },
            "a factor from 0.01 to 100");
    } else if (arg.is("--max-fps")) {
        shape.max_fps = static_cast<int>(arg.number(1, 100));
    } else {
        return false;
    }
    return true;
}

std::optional<std::uint64_t> parse_size(std::string_view text) {
    double number = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (ec != std::errc() || !(number > 0)) return std::nullopt;
    std::string_view unit = text.substr(static_cast<std::size_t>(end - text.data()));
    while (!unit.empty() && unit.front() == ' ') unit.remove_prefix(1);
    double scale = 0;
    if (unit.empty() || unit == "B") scale = 1;
    if (unit == "KB") scale = 1e3;
    if (unit == "MB") scale = 1e6;
    if (unit == "KiB") scale = 1024;
    if (unit == "MiB") scale = 1024.0 * 1024;
    const double bytes = std::floor(number * scale);
    if (scale == 0 || bytes < 1 || bytes > 9e18) return std::nullopt;
    return static_cast<std::uint64_t>(bytes);
}

bool size_option(ArgumentCursor& arg, SizeOptions& size) {
    if (arg.is("--max-size")) {
        size.max_size = arg.parsed(parse_size, "a size in bytes, or with KB, MB, KiB or MiB");
    } else if (arg.is("--estimate")) {
        size.estimate = true;
    } else {
        return false;
    }
    return true;
}

int failure(const std::string& message) {
    platform::write_stderr(error_line(message));
    return 1;
}

int failure(const Argument& about, const std::string& message) {
    return failure(about.text + ": " + message);
}

bool load(GifReader& reader, const Argument& file) {
    reader.Create();
    if (reader.LoadGif(file.path)) return true;
    failure(file, reader.GetError());
    return false;
}

int reader_failure(const GifReader& reader) {
    return failure(reader.GetError());
}

int write_output(const Argument& out, std::span<const std::uint8_t> bytes) {
    try {
        platform::File file = platform::File::create(out.path);
        file.write(bytes);
        file.close();
    } catch (const platform::FileError& e) {
        return failure(out, e.text);
    }
    return 0;
}

}  // namespace gifanim::tool
