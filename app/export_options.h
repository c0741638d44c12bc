#pragma once
// The export options of the dialog "导出选项": a size limit, a scale, a speed and a frame-rate
// limit that every export takes while they are set, each stored in gif配置.ini the moment it
// changes. The dialog only forwards typing here and shows the texts, the note and the estimate.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/config.h"
#include "gif/gif_maker.h"
#include "review/export.h"
#include "review/shaping.h"

namespace gifanim::app {

namespace keys {
inline constexpr ConfigKey max_size_mb{"最大体积", 0};        // MB of 1,000,000 bytes; 0: no limit
inline constexpr ConfigKey scale_percent{"缩放", 100};        // percent of the recorded size
inline constexpr ConfigKey speed_percent{"速度百分比", 100};  // 100 is 1×: the file holds integers only
inline constexpr ConfigKey max_fps{"最高帧率", 0};            // frames per second; 0: as recorded
}  // namespace keys

// The edit boxes, in their order on the dialog.
enum class ExportOption { max_size_mb, scale_percent, speed, max_fps };
inline constexpr std::size_t export_option_count = 4;

// What one export is given.
struct ExportPlan {
    review::ExportShape shape;
    std::uint64_t limit_bytes = 0;  // 0: no limit
    // Nothing asked of the export: it writes the bytes a plain export has always written.
    bool plain() const { return limit_bytes == 0 && !shape.changes_anything(); }
};

// The export of `direction` that `plan` asks for: fitted under the limit when there is one,
// otherwise shaped (a plain plan is ExportFrames itself).
review::Exporter::Job export_job(const ExportPlan& plan, review::ExportDirection direction,
                                 const Optimization& optimization);

// "预计大小:3.2MB" (one decimal, MB of 1,000,000 bytes); "预计大小:-" without an estimate. Above
// the limit it says the export will be made smaller to fit.
std::string estimate_text(std::optional<std::uint64_t> bytes, std::uint64_t limit_bytes);

class ExportOptions {
public:
    explicit ExportOptions(ConfigFile config);

    // The values from the settings file; a hand-edited value that is no number reads as its
    // default, one out of range as the nearest in range.
    void FillFromConfig();
    // Typing in a box. A number in range becomes the value; one out of range the nearest in range,
    // which the note says; anything else leaves the value as it was, and the note says why. A value
    // that changed is written to the file at once. True when the value changed: the estimate is
    // then out of date.
    bool SetText(ExportOption option, std::string gbk_text);
    // 默认: every value to "no change", written at once; true when any changed.
    bool RestoreDefaults();
    // The boxes show the values again and the note goes (when the dialog is closed or reopened):
    // what was clamped or refused while typing is not left in a box looking as if it counted.
    void ShowValues();

    const std::string& text(ExportOption option) const { return texts_[index(option)]; }
    // The value in the unit of the file's key (speed in hundredths).
    int value(ExportOption option) const { return values_[index(option)]; }
    // What was wrong with the last typing; empty when nothing.
    const std::string& note() const { return note_; }
    ExportPlan plan() const;

private:
    static std::size_t index(ExportOption option) { return static_cast<std::size_t>(option); }
    void set_value(ExportOption option, int value);

    ConfigFile config_;
    std::array<std::string, export_option_count> texts_;
    std::array<int, export_option_count> values_{};
    std::string note_;
};

}  // namespace gifanim::app
