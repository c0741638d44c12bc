#pragma once
// The save dialog and progress window of the recorder's export, as a terminal sees them: the path
// of -o, and a progress bar on standard error when it is a terminal.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "gif/frame_timing.h"
#include "gif/gif_maker.h"

#include "review/export.h"
#include "review/shaping.h"
#include "tools/options.h"

namespace gifanim::tool {

// One line of standard error that is rewritten in place, when standard error is a terminal.
class TerminalLine {
public:
    TerminalLine();
    bool terminal() const { return terminal_; }
    void write(const std::string& text);
    // Ends the line, if one is open, so that what follows starts a line of its own.
    void end();

private:
    bool terminal_;
    bool open_ = false;
};

class TerminalExportShell : public review::ExportShell {
public:
    TerminalExportShell(std::filesystem::path out, TerminalLine& line) : out_(std::move(out)), line_(line) {}

    // Tells, as the export goes, which of the frames `offered` (in the order the export offers
    // them, each with its delay) `maker` took (one progress step follows each offer), and so what
    // the GIF holds: frames and the sum of their delays.
    void watch(const GifMaker& maker, std::vector<TimedFrame> offered);
    int frames_held() const { return frames_held_; }
    int frames_dropped() const { return frames_dropped_; }
    std::int64_t held_cs() const { return held_cs_; }
    // From now on the next progress step throws ExportAbandoned when more stop requests than
    // `requests` have come.
    void abandon_after(unsigned requests) { abandon_after_ = requests; }
    struct ExportAbandoned {};

    std::filesystem::path AskSavePath() override { return out_; }
    void ShowProgressWindow() override {}
    void HideProgressWindow() override { line_.end(); }
    void EnableFrameWindow(bool) override {}
    std::int32_t ProgressMaximum() override { return 100; }
    void SetProgress(std::int32_t position) override;
    void SetFrameWindowCaption(const std::string&) override {}
    void ShowMessage(const std::string&, const std::string&, int) override {}

private:
    std::filesystem::path out_;
    TerminalLine& line_;
    std::int32_t shown_progress_ = -1;
    const GifMaker* maker_ = nullptr;
    std::vector<TimedFrame> offers_;
    std::size_t offered_ = 0;
    int frames_held_ = 0;
    int frames_dropped_ = 0;
    std::int64_t held_cs_ = 0;
    std::optional<unsigned> abandon_after_;
};

// Why a GIF cannot be written to `path`, found out before any work: a folder, a read-only file,
// a folder that does not exist or takes no new file. Nothing when it can.
std::optional<std::string> unwritable_output(const std::filesystem::path& path);

// Why an export of pictures of `size` cannot take `shape` (its crop outside `what`, or a scale too
// large), or nothing when it can or changes no picture.
std::optional<std::string> shape_problem_text(const review::ExportShape& shape, review::PictureSize size,
                                              const std::string& what);

// What --max-size and --estimate ask of an export of `source` to `out`: the estimate printed, or
// the GIF fitted under the limit and what was given up printed. Answers the exit status.
int fit_or_estimate(const review::FrameSource& source, review::ExportDirection direction,
                    const review::ExportShape& shape, const Optimization& optimization, const SizeOptions& size,
                    const Argument& out);

// A path as a GBK text, for messages.
std::string path_text(const std::filesystem::path& path);

// "the recording stays in PATH; gifanim recover PATH -o OUT.gif writes it".
std::string kept_recording_text(const std::filesystem::path& spill_file);

}  // namespace gifanim::tool
