#include "tools/terminal_export.h"

#include <cstdio>
#include <system_error>

#include "platform/file.h"
#include "platform/system.h"
#include "platform/text.h"
#include "review/size_fit.h"

namespace gifanim::tool {

TerminalLine::TerminalLine() : terminal_(platform::stderr_is_terminal()) {}

void TerminalLine::write(const std::string& text) {
    if (!terminal_) return;
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
    open_ = true;
}

void TerminalLine::end() {
    if (open_) std::fputs("\n", stderr);
    open_ = false;
}

void TerminalExportShell::watch(const GifMaker& maker, std::vector<TimedFrame> offered) {
    maker_ = &maker;
    offers_ = std::move(offered);
    offered_ = 0;
    frames_held_ = frames_dropped_ = 0;
    held_cs_ = 0;
}

void TerminalExportShell::SetProgress(std::int32_t position) {
    const bool adding = maker_ && offered_ < offers_.size();
    if (adding && abandon_after_ && platform::stop_requests() > *abandon_after_) throw ExportAbandoned{};
    if (adding) {
        // Each AddFrame leaves the last error empty exactly when it took the frame.
        if (maker_->GetError().empty()) {
            ++frames_held_;
            held_cs_ += offers_[offered_].delay;
        } else {
            ++frames_dropped_;
        }
        ++offered_;
    }
    if (!line_.terminal() || position == shown_progress_) return;
    shown_progress_ = position;
    line_.write("\rexporting [" + std::string(static_cast<std::size_t>(position / 4), '#') +
                std::string(static_cast<std::size_t>(25 - position / 4), '.') + "] " + std::to_string(position) + "%");
}

std::optional<std::string> unwritable_output(const std::filesystem::path& path) {
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (std::filesystem::is_directory(status)) return "is a folder";
    if (std::filesystem::exists(status) &&
        (status.permissions() & std::filesystem::perms::owner_write) == std::filesystem::perms::none) {
        return "is read-only";
    }
    try {
        // The new file goes beside the target; whether one can be made there is found out now.
        platform::ReplacementFile probe(path);
    } catch (const platform::FileError& e) {
        return e.text;
    }
    return std::nullopt;
}

namespace {

// "9.8 MB", "4.0 KB" or "10 bytes": a size with a tenth of its unit.
std::string size_text(std::uint64_t bytes) {
    if (bytes < 1000) return std::to_string(bytes) + " bytes";
    char text[32];
    const bool mega = bytes >= 1000000;
    std::snprintf(text, sizeof text, mega ? "%.1f MB" : "%.1f KB", static_cast<double>(bytes) / (mega ? 1e6 : 1e3));
    return text;
}

}  // namespace

int fit_or_estimate(const review::FrameSource& source, review::ExportDirection direction,
                    const review::ExportShape& shape, const Optimization& optimization, const SizeOptions& size,
                    const Argument& out) {
    if (size.estimate) {
        platform::write_stdout(
            "estimate: " + std::to_string(review::EstimateSize(source, direction, shape, optimization)) + " bytes\n");
        return 0;
    }
    const review::FitResult fit = review::FitUnder(source, direction, shape, optimization, *size.max_size, out.path);
    if (!fit.met) {
        return failure(out, "cannot be made to fit under " + size_text(*size.max_size) + ": the smallest reached is " +
                                size_text(fit.bytes));
    }
    platform::write_stdout("fitted " + size_text(fit.asked_bytes) + " into " + size_text(fit.bytes) +
                           (fit.steps.empty() ? "" : ": " + fit.steps) + "\n");
    return 0;
}

std::optional<std::string> shape_problem_text(const review::ExportShape& shape, review::PictureSize size,
                                              const std::string& what) {
    if (!shape.changes_pictures()) return std::nullopt;
    switch (review::shape_problem(shape, size)) {
        case review::ShapeProblem::none: return std::nullopt;
        case review::ShapeProblem::crop_outside: return "the crop rectangle lies outside " + what;
        case review::ShapeProblem::too_large: break;
    }
    return "the scale makes frames of more than 65535 pixels a side or 2^30 pixels in all";
}

std::string path_text(const std::filesystem::path& path) {
    const std::u8string utf8 = path.u8string();
    return platform::utf8_to_gbk(std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
}

std::string kept_recording_text(const std::filesystem::path& spill_file) {
    const std::string file = path_text(spill_file);
    return "the recording stays in " + file + "; gifanim recover " + file + " -o OUT.gif writes it";
}

}  // namespace gifanim::tool
