#include "capture/frame_store.h"

#include <algorithm>
#include <new>

namespace gifanim::capture {

namespace {

// A frame image to store: a missing one counts as empty.
FrameImage or_empty(FrameImage image) {
    return image ? std::move(image) : std::make_shared<const std::vector<std::uint8_t>>();
}

FrameImage frame_at(const std::vector<FrameSlot>& slots, std::size_t i, const auto& disk) {
    if (i < 1 || i > slots.size()) return nullptr;
    const FrameSlot& slot = slots[i - 1];
    return slot.memory ? slot.memory : disk.read(slot.record);
}

}  // namespace

FrameImage FrameStoreSnapshot::FrameAt(std::size_t i) const {
    return frame_at(slots_, i, disk_);
}

bool FrameStore::Open() {
    Close();
    return disk_.create();
}

bool FrameStore::Open(const std::filesystem::path& dir) {
    Close();
    return disk_.create(dir);
}

void FrameStore::Close() {
    Clear();
    disk_.close();
}

FrameImage FrameStore::FrameAt(std::int32_t i) const {
    return i < 1 ? nullptr : frame_at(slots_, static_cast<std::size_t>(i), disk_);
}

FrameStoreSnapshot FrameStore::Snapshot() const {
    FrameStoreSnapshot snap;
    snap.slots_ = slots_;
    snap.disk_ = disk_.snapshot();
    snap.infos_ = infos_;
    snap.capture_rect_ = capture_rect_;
    snap.timer_interval_ = timer_interval_;
    return snap;
}

FrameStore::Stored FrameStore::place(FrameImage image, bool to_disk, FrameSlot& slot) {
    if (to_disk) {
        const std::size_t record = disk_.count();
        if (disk_.append(*image)) {
            slot.record = record;
            return Stored::disk;
        }
    }
    slot.memory = std::move(image);
    return to_disk ? Stored::memory_instead_of_disk : Stored::memory;
}

FrameStore::Stored FrameStore::Append(FrameImage image, const FrameInfo& info, bool to_disk) {
    image = or_empty(std::move(image));
    // Room first, so that a frame and its record are always added together.
    slots_.reserve(slots_.size() + 1);
    infos_.reserve(infos_.size() + 1);
    spilled_ = spilled_ || to_disk;
    FrameSlot slot;
    const Stored where = place(image, to_disk, slot);
    if (where != Stored::disk) ++memory_count_;
    slots_.push_back(std::move(slot));
    infos_.push_back(info);
    last_frame_ = std::move(image);
    return where;
}

void FrameStore::Clear() {
    ++generation_;
    slots_.clear();
    infos_.clear();
    memory_count_ = 0;
    bytes_used_ = 0;
    spilled_ = false;
    if (disk_.is_open()) disk_.remove_all();
}

void FrameStore::Replace(std::span<const FrameImage> images, std::span<const FrameInfo> infos) {
    const std::size_t n = std::min(images.size(), infos.size());
    const std::size_t keep_in_memory = std::min<std::size_t>(n, static_cast<std::size_t>(memory_count_));
    std::vector<FrameSlot> slots(n);
    std::vector<FrameInfo> new_infos(infos.begin(), infos.begin() + static_cast<std::ptrdiff_t>(n));
    std::vector<FrameImage> kept(images.begin(), images.begin() + static_cast<std::ptrdiff_t>(n));
    for (FrameImage& image : kept) image = or_empty(std::move(image));
    // From here on nothing throws: the old frames are in `images` already where they are kept.
    if (disk_.is_open()) disk_.remove_all();
    std::int32_t memory = 0;
    bool spilled = false;
    for (std::size_t i = 0; i < n; ++i) {
        const bool to_disk = i >= keep_in_memory;
        spilled = spilled || to_disk;
        if (place(std::move(kept[i]), to_disk, slots[i]) != Stored::disk) ++memory;
    }
    slots_ = std::move(slots);
    infos_ = std::move(new_infos);
    memory_count_ = memory;
    spilled_ = spilled;
    ++generation_;
}

bool FrameStore::Keep(std::span<const std::int32_t> positions, std::span<const FrameInfo> infos) {
    if (positions.size() != infos.size()) return false;
    std::vector<FrameSlot> slots;
    std::vector<FrameInfo> new_infos;
    std::vector<std::size_t> records;
    try {
        slots.reserve(positions.size());
        new_infos.assign(infos.begin(), infos.end());
        std::int32_t previous = 0;
        for (const std::int32_t p : positions) {
            // Rising positions keep the frames in capture order, the memory frames first.
            if (p <= previous || p > count()) return false;
            previous = p;
            FrameSlot slot = slots_[static_cast<std::size_t>(p - 1)];
            if (!slot.memory) {
                records.push_back(slot.record);
                // Its place in the fresh file, where the kept records go in this order.
                slot.record = records.size() - 1;
            }
            slots.push_back(std::move(slot));
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!records.empty()) {
        if (!disk_.keep_only(records)) return false;
    } else if (disk_.is_open()) {
        disk_.remove_all();
    }
    slots_ = std::move(slots);
    infos_ = std::move(new_infos);
    memory_count_ = static_cast<std::int32_t>(slots_.size() - records.size());
    // Later frames follow the kept disk frames there, so that the order stays.
    spilled_ = !records.empty();
    ++generation_;
    return true;
}

}  // namespace gifanim::capture
