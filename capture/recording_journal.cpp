#include "capture/recording_journal.h"

#include <algorithm>
#include <new>
#include <string>
#include <system_error>

#include "platform/frame_record_file.h"

namespace gifanim::capture::journal {

namespace {

enum Kind : std::uint8_t { kHead = 1, kReady = 2, kCapture = 3, kFrame = 4, kInfo = 5 };
// The head's mark, so that a note of another kind of file is never taken for one.
constexpr std::uint32_t kJournalMark = 0x4A524647u;  // "GFRJ"
constexpr std::uint8_t kVersion = 1;
constexpr std::size_t kLongestComment = 0xFFFF;

class NoteWriter {
public:
    explicit NoteWriter(Kind kind) { bytes_.push_back(kind); }
    NoteWriter& u8(std::uint8_t v) {
        bytes_.push_back(v);
        return *this;
    }
    NoteWriter& u16(std::uint16_t v) { return u8(static_cast<std::uint8_t>(v)).u8(static_cast<std::uint8_t>(v >> 8)); }
    NoteWriter& u32(std::uint32_t v) {
        return u16(static_cast<std::uint16_t>(v)).u16(static_cast<std::uint16_t>(v >> 16));
    }
    NoteWriter& i16(std::int16_t v) { return u16(static_cast<std::uint16_t>(v)); }
    NoteWriter& i32(std::int32_t v) { return u32(static_cast<std::uint32_t>(v)); }
    NoteWriter& info(const FrameInfo& f) {
        const std::size_t comment = std::min(f.exposition.size(), kLongestComment);
        i16(f.DelayTime).i16(f.Left).i16(f.Top).u8(f.DisposalMethod).i32(f.Transparency).u8(f.TransparencyIndex);
        i16(f.Width).i16(f.Depth).i16(f.ColorNum).i32(f.Dither).u16(static_cast<std::uint16_t>(comment));
        bytes_.insert(bytes_.end(), f.exposition.begin(), f.exposition.begin() + static_cast<std::ptrdiff_t>(comment));
        return *this;
    }
    std::vector<std::uint8_t> done() { return std::move(bytes_); }

private:
    std::vector<std::uint8_t> bytes_;
};

// Reads a note field by field; every read says whether the bytes held it.
class NoteReader {
public:
    explicit NoteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    bool u8(std::uint8_t& v) {
        if (pos_ >= bytes_.size()) return false;
        v = bytes_[pos_++];
        return true;
    }
    bool u16(std::uint16_t& v) {
        std::uint8_t lo = 0, hi = 0;
        if (!u8(lo) || !u8(hi)) return false;
        v = static_cast<std::uint16_t>(lo | hi << 8);
        return true;
    }
    bool u32(std::uint32_t& v) {
        std::uint16_t lo = 0, hi = 0;
        if (!u16(lo) || !u16(hi)) return false;
        v = lo | static_cast<std::uint32_t>(hi) << 16;
        return true;
    }
    bool i16(std::int16_t& v) {
        std::uint16_t u = 0;
        if (!u16(u)) return false;
        v = static_cast<std::int16_t>(u);
        return true;
    }
    bool i32(std::int32_t& v) {
        std::uint32_t u = 0;
        if (!u32(u)) return false;
        v = static_cast<std::int32_t>(u);
        return true;
    }
    bool info(FrameInfo& f) {
        std::uint16_t comment = 0;
        if (!(i16(f.DelayTime) && i16(f.Left) && i16(f.Top) && u8(f.DisposalMethod) && i32(f.Transparency) &&
              u8(f.TransparencyIndex) && i16(f.Width) && i16(f.Depth) && i16(f.ColorNum) && i32(f.Dither) &&
              u16(comment)))
            return false;
        if (bytes_.size() - pos_ < comment) return false;
        f.exposition.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
                            bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + comment));
        pos_ += comment;
        return true;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

}  // namespace

std::vector<std::uint8_t> head_note(bool building) {
    try {
        return NoteWriter(kHead).u32(kJournalMark).u8(kVersion).u8(building ? 1 : 0).done();
    } catch (const std::bad_alloc&) {
        return {};
    }
}

std::vector<std::uint8_t> ready_note() {
    try {
        return NoteWriter(kReady).done();
    } catch (const std::bad_alloc&) {
        return {};
    }
}

std::vector<std::uint8_t> capture_note(const platform::ScreenRect& rect, std::int32_t timer_interval) {
    try {
        return NoteWriter(kCapture)
            .i32(rect.left)
            .i32(rect.top)
            .i32(rect.right)
            .i32(rect.bottom)
            .i32(timer_interval)
            .done();
    } catch (const std::bad_alloc&) {
        return {};
    }
}

std::vector<std::uint8_t> frame_note(const FrameInfo& info) {
    try {
        return NoteWriter(kFrame).info(info).done();
    } catch (const std::bad_alloc&) {
        return {};
    }
}

std::vector<std::uint8_t> info_note(std::uint32_t position, const FrameInfo& info) {
    try {
        return NoteWriter(kInfo).u32(position).info(info).done();
    } catch (const std::bad_alloc&) {
        return {};
    }
}

void Replay::note(std::size_t images_before, std::span<const std::uint8_t> bytes) {
    NoteReader in(bytes);
    std::uint8_t kind = 0;
    const bool first = !seen_any_;
    seen_any_ = true;
    if (!in.u8(kind)) return;
    if (kind == kHead) {
        std::uint32_t mark = 0;
        std::uint8_t version = 0, building = 0;
        if (!in.u32(mark) || mark != kJournalMark || !in.u8(version) || !in.u8(building)) return;
        // Only a head before anything else makes the file a journal.
        if (first && images_before == 0) {
            ours_ = true;
            building_ = building != 0;
        }
        records_.clear();
        infos_.clear();
        return;
    }
    if (!ours_) return;
    switch (kind) {
        case kReady: building_ = false; break;
        case kCapture: {
            platform::ScreenRect r;
            std::int32_t interval = 0;
            if (in.i32(r.left) && in.i32(r.top) && in.i32(r.right) && in.i32(r.bottom) && in.i32(interval)) {
                capture_rect_ = r;
                timer_interval_ = interval;
            }
            break;
        }
        case kFrame: {
            FrameInfo info;
            // Each image is one frame's, the frames in the order of their images.
            if (images_before == 0 || !in.info(info)) break;
            const std::size_t record = images_before - 1;
            if (!records_.empty() && records_.back() >= record) break;
            records_.push_back(record);
            infos_.push_back(std::move(info));
            break;
        }
        case kInfo: {
            std::uint32_t position = 0;
            FrameInfo info;
            if (in.u32(position) && in.info(info) && position >= 1 && position <= infos_.size()) {
                infos_[position - 1] = std::move(info);
            }
            break;
        }
        default: break;  // a note of a later version
    }
}

bool is_spill_file_name(const std::filesystem::path& name) {
    const std::string s = name.string();
    if (s.size() < 5 || s.size() > 12 || s.compare(s.size() - 4, 4, ".tmp") != 0) return false;
    return std::all_of(s.begin(), s.end() - 4, [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::vector<LeftRecording> find_left_recordings(const std::filesystem::path& dir) {
    std::vector<std::filesystem::path> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (is_spill_file_name(it->path().filename())) names.push_back(it->path());
    }
    std::sort(names.begin(), names.end());
    std::vector<LeftRecording> found;
    for (const std::filesystem::path& path : names) {
        platform::FrameRecordFile file;
        Replay replay;
        const auto note = [&replay](std::size_t before, std::span<const std::uint8_t> bytes) {
            replay.note(before, bytes);
        };
        if (!file.adopt(path, note, [&replay] { return replay.ours(); })) {
            continue;  // in use, not a recording, not ours to open, or unreadable
        }
        if (!replay.complete() || replay.records().empty()) {
            file.close();  // left behind with nothing to give back
            continue;
        }
        LeftRecording left;
        left.path = path;
        left.frames = replay.records().size();
        for (const FrameInfo& info : replay.infos()) left.duration_cs += info.DelayTime;
        left.capture_rect = replay.capture_rect();
        found.push_back(std::move(left));
        file.release();
    }
    return found;
}

}  // namespace gifanim::capture::journal
