#include "app/export_options.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "review/fitted_export.h"

namespace gifanim::app {

namespace {

struct OptionRule {
    ConfigKey key;
    const char* name;  // GBK, as the dialog labels it
    int least, most;   // in the key's unit
    bool hundredths;   // typed with up to two decimals, stored times 100
};

// Scales past 400 % would take a full-screen recording beyond the sides a GIF can have; delays
// under 2 hundredths are not shown as such, so 50 frames per second is the most a GIF plays.
constexpr std::array<OptionRule, export_option_count> kRules{{
    {keys::max_size_mb, "最大体积", 0, 1000, false},
    {keys::scale_percent, "缩放", 1, 400, false},
    {keys::speed_percent, "速度", 10, 1000, true},
    {keys::max_fps, "最高帧率", 0, 50, false},
}};

const OptionRule& rule(ExportOption option) {
    return kRules[static_cast<std::size_t>(option)];
}

std::string_view trimmed(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The text as a number in the rule's unit: whole digits, or for hundredths digits with an optional
// fraction (rounded to hundredths). Longer numbers stop growing at a billion, which the range
// then clamps, so that no typing overflows. Nothing when it is not such a number.
std::optional<long long> parse(std::string_view text, bool hundredths) {
    text = trimmed(text);
    constexpr long long cap = 1'000'000'000;
    long long whole = 0;
    std::size_t i = 0;
    for (; i < text.size() && is_digit(text[i]); ++i) whole = std::min(cap, whole * 10 + (text[i] - '0'));
    const bool any_whole = i > 0;
    if (!hundredths) {
        if (!any_whole || i != text.size()) return std::nullopt;
        return whole;
    }
    long long fraction = 0;  // in thousandths, for the rounding
    bool any_fraction = false;
    if (i < text.size() && text[i] == '.') {
        long long scale = 100;
        for (++i; i < text.size() && is_digit(text[i]); ++i) {
            fraction += (text[i] - '0') * scale;
            scale /= 10;
            any_fraction = true;
        }
    }
    if ((!any_whole && !any_fraction) || i != text.size()) return std::nullopt;
    return whole * 100 + (fraction + 5) / 10;
}

std::string shown(int value, bool hundredths) {
    if (!hundredths) return std::to_string(value);
    std::string text = std::to_string(value / 100);
    if (const int rest = value % 100; rest != 0) {
        char fraction[4];
        std::snprintf(fraction, sizeof fraction, "%02d", rest);
        text += '.';
        text += fraction;
        if (text.back() == '0') text.pop_back();
    }
    return text;
}

}  // namespace

review::Exporter::Job export_job(const ExportPlan& plan, review::ExportDirection direction,
                                 const Optimization& optimization) {
    if (plan.limit_bytes > 0) {
        return [plan, direction, optimization](const capture::FrameStoreSnapshot& frames, GifMaker&,
                                               review::ExportShell& shell) {
            return review::ExportFittedFrames(frames, direction, plan.shape, optimization, plan.limit_bytes, shell);
        };
    }
    return [shape = plan.shape, direction](const capture::FrameStoreSnapshot& frames, GifMaker& maker,
                                           review::ExportShell& shell) {
        return review::ExportShapedFrames(frames, direction, shape, maker, shell);
    };
}

std::string estimate_text(std::optional<std::uint64_t> bytes, std::uint64_t limit_bytes) {
    if (!bytes) return "预计大小:-";
    char text[48];
    std::snprintf(text, sizeof text, "预计大小:%.1fMB", static_cast<double>(*bytes) / 1e6);
    std::string out = text;
    if (limit_bytes > 0 && *bytes > limit_bytes) out += "(超出最大体积,导出时缩小)";
    return out;
}

ExportOptions::ExportOptions(ConfigFile config) : config_(std::move(config)) {
    for (std::size_t i = 0; i < export_option_count; ++i) values_[i] = kRules[i].key.default_value;
    ShowValues();
}

void ExportOptions::FillFromConfig() {
    for (std::size_t i = 0; i < export_option_count; ++i) {
        const OptionRule& r = kRules[i];
        // The file holds the key's unit: whole numbers, hundredths included.
        const std::optional<long long> stored = parse(config_.ReadKey(r.key), false);
        values_[i] = stored ? static_cast<int>(std::clamp<long long>(*stored, r.least, r.most)) : r.key.default_value;
    }
    ShowValues();
}

bool ExportOptions::SetText(ExportOption option, std::string gbk_text) {
    const OptionRule& r = rule(option);
    const std::optional<long long> typed = parse(gbk_text, r.hundredths);
    texts_[index(option)] = std::move(gbk_text);
    if (!typed) {
        note_ = std::string(r.name) + (r.hundredths ? "须为数字,如1.5" : "须为整数");
        return false;
    }
    const int value = static_cast<int>(std::clamp<long long>(*typed, r.least, r.most));
    if (value != *typed) {
        note_ = std::string(r.name) + "应在" + shown(r.least, r.hundredths) + "到" + shown(r.most, r.hundredths) +
                "之间,已按" + shown(value, r.hundredths) + "计";
    } else {
        note_.clear();
    }
    if (value == values_[index(option)]) return false;
    set_value(option, value);
    return true;
}

bool ExportOptions::RestoreDefaults() {
    bool changed = false;
    for (std::size_t i = 0; i < export_option_count; ++i) {
        const auto option = static_cast<ExportOption>(i);
        if (values_[i] != kRules[i].key.default_value) {
            set_value(option, kRules[i].key.default_value);
            changed = true;
        }
    }
    ShowValues();
    return changed;
}

void ExportOptions::ShowValues() {
    for (std::size_t i = 0; i < export_option_count; ++i) texts_[i] = shown(values_[i], kRules[i].hundredths);
    note_.clear();
}

void ExportOptions::set_value(ExportOption option, int value) {
    values_[index(option)] = value;
    config_.WriteKey(rule(option).key.name, value);
}

ExportPlan ExportOptions::plan() const {
    ExportPlan plan;
    const int scale = value(ExportOption::scale_percent);
    if (scale != 100) {
        plan.shape.scale.kind = review::Scaling::Kind::percent;
        plan.shape.scale.percent = scale;
    }
    plan.shape.speed = value(ExportOption::speed) / 100.0;
    plan.shape.max_fps = value(ExportOption::max_fps);
    plan.limit_bytes = std::uint64_t{static_cast<unsigned>(value(ExportOption::max_size_mb))} * 1'000'000;
    return plan;
}

}  // namespace gifanim::app
