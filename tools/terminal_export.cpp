#include "tools/terminal_export.h"

#include <cstdio>
#include <system_error>

#include "platform/file.h"
#include "platform/system.h"
#include "platform/text.h"

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

void TerminalExportShell::watch(const GifMaker& maker, const std::vector<FrameInfo>& infos,
                                review::ExportDirection direction) {
    maker_ = &maker;
    infos_ = &infos;
    direction_ = direction;
    offered_ = 0;
    frames_held_ = frames_dropped_ = 0;
    held_cs_ = 0;
}

void TerminalExportShell::SetProgress(std::int32_t position) {
    const bool adding = maker_ && offered_ < infos_->size();
    if (adding && abandon_after_ && platform::stop_requests() > *abandon_after_) throw ExportAbandoned{};
    if (adding) {
        const std::size_t n = infos_->size();
        const std::size_t k = direction_ == review::ExportDirection::forward ? offered_ : n - 1 - offered_;
        ++offered_;
        // Each AddFrame leaves the last error empty exactly when it took the frame.
        if (maker_->GetError().empty()) {
            ++frames_held_;
            held_cs_ += (*infos_)[k].DelayTime;
        } else {
            ++frames_dropped_;
        }
    }
    if (!line_.terminal() || position == shown_progress_) return;
    shown_progress_ = position;
    line_.write("\rexporting [" + std::string(static_cast<std::size_t>(position / 4), '#') +
                std::string(static_cast<std::size_t>(25 - position / 4), '.') + "] " + std::to_string(position) +
                "%");
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

std::string path_text(const std::filesystem::path& path) {
    const std::u8string utf8 = path.u8string();
    return platform::utf8_to_gbk(std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
}

std::string kept_recording_text(const std::filesystem::path& spill_file) {
    const std::string file = path_text(spill_file);
    return "the recording stays in " + file + "; gifanim recover " + file + " -o OUT.gif writes it";
}

}  // namespace gifanim::tool
