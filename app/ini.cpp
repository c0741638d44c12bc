#include "app/ini.h"

#include <vector>

namespace gifanim::app::ini {

namespace {
struct Line {
    std::string_view content;  // without its line break
    std::size_t begin = 0;
    std::size_t next = 0;  // where the following line begins
};

std::vector<Line> split_lines(std::string_view text) {
    std::vector<Line> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t lf = text.find('\n', begin);
        const std::size_t end = lf == std::string_view::npos ? text.size() : lf;
        std::string_view content = text.substr(begin, end - begin);
        if (!content.empty() && content.back() == '\r') content.remove_suffix(1);
        const std::size_t next = lf == std::string_view::npos ? text.size() : lf + 1;
        lines.push_back({content, begin, next});
        begin = next;
    }
    return lines;
}

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

// The name of a section header "[name]"; the last ']' closes it, since the trail byte of a GBK
// character may be a ']'.
std::optional<std::string_view> section_of(std::string_view line) {
    const std::string_view t = trim(line);
    if (t.empty() || t.front() != '[') return std::nullopt;
    const std::size_t close = t.rfind(']');
    if (close == 0 || close == std::string_view::npos) return std::nullopt;
    return trim(t.substr(1, close - 1));
}

struct Entry {
    std::string_view key;
    std::string_view value;
};

// A "key=value" line; '=' is below 0x40, so it is never the trail byte of a GBK character.
std::optional<Entry> entry_of(std::string_view line) {
    const std::string_view t = trim(line);
    if (t.empty() || t.front() == ';' || t.front() == '[') return std::nullopt;
    const std::size_t eq = t.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return Entry{trim(t.substr(0, eq)), trim(t.substr(eq + 1))};
}

char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Index of the first header of section, or lines.size().
std::size_t find_section(const std::vector<Line>& lines, std::string_view section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto name = section_of(lines[i].content);
        if (name && names_equal(*name, section)) return i;
    }
    return lines.size();
}
}  // namespace

bool names_equal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto byte = static_cast<unsigned char>(a[i]);
        if (byte >= 0x81 && byte <= 0xFE && i + 1 < a.size()) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
            ++i;
        } else if (ascii_lower(a[i]) != ascii_lower(b[i])) {
            return false;
        }
    }
    return true;
}

std::optional<std::string> read_value(std::string_view text, std::string_view section, std::string_view key) {
    const std::vector<Line> lines = split_lines(text);
    for (std::size_t i = find_section(lines, section) + 1; i < lines.size(); ++i) {
        if (section_of(lines[i].content)) break;
        const auto entry = entry_of(lines[i].content);
        if (!entry || !names_equal(entry->key, key)) continue;
        std::string_view value = entry->value;
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        return std::string(value);
    }
    return std::nullopt;
}

std::string with_value(std::string_view text, std::string_view section, std::string_view key, std::string_view value) {
    const std::string line = std::string(key) + "=" + std::string(value) + "\r\n";
    const std::vector<Line> lines = split_lines(text);
    const std::size_t header = find_section(lines, section);
    if (header == lines.size()) {
        std::string out(text);
        if (!out.empty() && out.back() != '\n') out += "\r\n";
        return out + "[" + std::string(section) + "]\r\n" + line;
    }
    std::size_t last_filled = header;
    for (std::size_t i = header + 1; i < lines.size(); ++i) {
        if (section_of(lines[i].content)) break;
        const auto entry = entry_of(lines[i].content);
        if (entry && names_equal(entry->key, key)) {
            return std::string(text.substr(0, lines[i].begin)) + line + std::string(text.substr(lines[i].next));
        }
        if (!trim(lines[i].content).empty()) last_filled = i;
    }
    // After the section's last line that is not blank, so blank lines keep separating it from the next.
    const std::size_t at = lines[last_filled].next;
    std::string out(text.substr(0, at));
    if (!out.empty() && out.back() != '\n') out += "\r\n";
    return out + line + std::string(text.substr(at));
}

}  // namespace gifanim::app::ini
