#include "capture/frame_store.h"

#include <algorithm>
#include <new>
#include <utility>

#include "capture/recording_journal.h"

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

// Room for one more, growing by half: reserving one more at a time would copy every record at
// every frame.
template <class T>
void make_room(std::vector<T>& v) {
    if (v.size() == v.capacity()) v.reserve(std::max<std::size_t>(64, v.size() + v.size() / 2));
}

constexpr auto kSyncPeriod = std::chrono::milliseconds(1000);

}  // namespace

void JournalWriter::start(FrameRecordFile& file) {
    stop();
    file_ = &file;
    stopping_ = false;
    dirty_ = false;
    failed_.store(false);
    thread_ = std::thread([this] { run(); });
}

void JournalWriter::stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void JournalWriter::write(FrameImage image, std::vector<std::uint8_t> note) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back({std::move(image), std::move(note)});
    }
    wake_.notify_one();
}

void JournalWriter::drain() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

void JournalWriter::written() {
    std::lock_guard lock(mutex_);
    dirty_ = true;
}

void JournalWriter::run() {
    using Clock = std::chrono::steady_clock;
    std::unique_lock lock(mutex_);
    Clock::time_point last_sync = Clock::now();
    for (;;) {
        // Work, a stop, or the moment a flush falls due, whichever comes first.
        const Clock::time_point due = last_sync + kSyncPeriod;
        wake_.wait_until(lock, dirty_ ? due : Clock::now() + kSyncPeriod,
                         [this] { return stopping_ || !queue_.empty(); });
        if (!queue_.empty()) {
            Job job = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
            lock.unlock();
            // The record follows its image; an image without one is not a frame to a later reader.
            const bool ok = (!job.image || file_->append(*job.image)) && file_->append_note(job.note);
            failed_.store(!ok);
            job = {};
            lock.lock();
            busy_ = false;
            dirty_ = true;
            if (queue_.empty()) idle_.notify_all();
        }
        const bool done = stopping_ && queue_.empty();
        if (dirty_ && (done || Clock::now() >= last_sync + kSyncPeriod)) {
            dirty_ = false;
            lock.unlock();
            file_->sync();
            lock.lock();
            last_sync = Clock::now();
        }
        if (done) return;
    }
}

FrameImage FrameStoreSnapshot::FrameAt(std::size_t i) const {
    return frame_at(slots_, i, disk_);
}

std::uint64_t FrameStoreSnapshot::ImageSize(std::size_t i) const {
    if (i < 1 || i > slots_.size()) return 0;
    const FrameSlot& slot = slots_[i - 1];
    return slot.memory ? slot.memory->size() : disk_.image_size(slot.record);
}

bool FrameStore::Open() {
    return Open(platform::temp_directory());
}

bool FrameStore::Open(const std::filesystem::path& dir) {
    Close();
    if (!disk_.create(dir)) return false;
    note_start(disk_, false);
    writer_.start(disk_);
    return true;
}

void FrameStore::Close() {
    writer_.stop();
    Clear();
    disk_.close();
}

void FrameStore::Release() {
    writer_.stop();
    disk_.release();
    Clear();
}

void FrameStore::note(std::vector<std::uint8_t> bytes) {
    if (!disk_.is_open()) return;
    // An empty note is one that could not be made.
    journal_failed_ = bytes.empty();
    if (journal_failed_) return;
    try {
        if (writer_.running()) {
            writer_.write(nullptr, std::move(bytes));
        } else {
            journal_failed_ = !disk_.append_note(bytes);
        }
    } catch (const std::bad_alloc&) {
        journal_failed_ = true;
    }
}

void FrameStore::note_start(FrameRecordFile& file, bool building) {
    const std::vector<std::uint8_t> head = journal::head_note(building);
    const std::vector<std::uint8_t> capture = journal::capture_note(capture_rect_, timer_interval_);
    journal_failed_ = head.empty() || capture.empty() || !file.append_note(head) || !file.append_note(capture);
}

bool FrameStore::fresh_file(FrameRecordFile& fresh) {
    if (!fresh.create(disk_.path().parent_path())) return false;
    note_start(fresh, true);
    return !journal_failed_;
}

void FrameStore::set_capture_rect(const platform::ScreenRect& rect) {
    const bool same = rect.left == capture_rect_.left && rect.top == capture_rect_.top &&
                      rect.right == capture_rect_.right && rect.bottom == capture_rect_.bottom;
    capture_rect_ = rect;
    if (!same) note(journal::capture_note(capture_rect_, timer_interval_));
}

void FrameStore::set_timer_interval(std::int32_t ms) {
    const bool same = ms == timer_interval_;
    timer_interval_ = ms;
    if (!same) note(journal::capture_note(capture_rect_, timer_interval_));
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

FrameStore::Stored FrameStore::place(FrameRecordFile& file, FrameImage image, const FrameInfo& info, bool to_disk,
                                     FrameSlot& slot) {
    bool written = false;
    if (file.is_open()) {
        std::vector<std::uint8_t> record_note = journal::frame_note(info);
        journal_failed_ = record_note.empty();
        if (!to_disk && &file == &disk_ && writer_.running() && !journal_failed_) {
            // A frame read from memory reaches the disk behind the tick's back; it needs no
            // record number, since it is never read from there by this process.
            try {
                writer_.write(image, std::move(record_note));
            } catch (const std::bad_alloc&) {
                journal_failed_ = true;
            }
        } else {
            // Read from disk from now on: written here, after everything queued before it.
            if (&file == &disk_) writer_.drain();
            const std::size_t record = file.count();
            written = file.append(*image);
            if (written) slot.record = record;
            // The record follows its image; an image without one is not a frame to a later reader.
            journal_failed_ = journal_failed_ || !written || !file.append_note(record_note);
            writer_.written();
        }
    }
    if (to_disk && written) return Stored::disk;
    slot.memory = std::move(image);
    return to_disk ? Stored::memory_instead_of_disk : Stored::memory;
}

FrameStore::Stored FrameStore::Append(FrameImage image, const FrameInfo& info, bool to_disk) {
    image = or_empty(std::move(image));
    // Room first, so that a frame and its record are always added together.
    make_room(slots_);
    make_room(infos_);
    spilled_ = spilled_ || to_disk;
    FrameSlot slot;
    const Stored where = place(disk_, image, info, to_disk, slot);
    if (where != Stored::disk) ++memory_count_;
    slots_.push_back(std::move(slot));
    infos_.push_back(info);
    last_frame_ = std::move(image);
    return where;
}

void FrameStore::SetLastDelay(std::int16_t delay) {
    FrameInfo& info = infos_.back();
    info.DelayTime = delay;
    note(journal::info_note(static_cast<std::uint32_t>(infos_.size()), info));
}

void FrameStore::Clear() {
    ++generation_;
    slots_.clear();
    infos_.clear();
    memory_count_ = 0;
    bytes_used_ = 0;
    spilled_ = false;
    if (disk_.is_open()) {
        writer_.drain();
        disk_.remove_all();
        // A head starts the recording afresh even where the old records had to stay.
        note_start(disk_, false);
        writer_.written();
    }
}

void FrameStore::Replace(std::span<const FrameImage> images, std::span<const FrameInfo> infos) {
    const std::size_t n = std::min(images.size(), infos.size());
    const std::size_t keep_in_memory = std::min<std::size_t>(n, static_cast<std::size_t>(memory_count_));
    std::vector<FrameSlot> slots(n);
    std::vector<FrameInfo> new_infos(infos.begin(), infos.begin() + static_cast<std::ptrdiff_t>(n));
    std::vector<FrameImage> kept(images.begin(), images.begin() + static_cast<std::ptrdiff_t>(n));
    for (FrameImage& image : kept) image = or_empty(std::move(image));
    // From here on nothing throws: the old frames are in `images` already where they are kept.
    // The new frames go to a fresh file that replaces the old one once whole, so that a crash
    // meanwhile leaves the recording as it was; without one, the old file starts afresh.
    writer_.drain();
    FrameRecordFile fresh;
    const bool in_fresh = disk_.is_open() && fresh_file(fresh);
    if (!in_fresh && disk_.is_open()) {
        disk_.remove_all();
        note_start(disk_, false);
    }
    FrameRecordFile& file = in_fresh ? fresh : disk_;
    std::int32_t memory = 0;
    bool spilled = false;
    for (std::size_t i = 0; i < n; ++i) {
        const bool to_disk = i >= keep_in_memory;
        spilled = spilled || to_disk;
        if (place(file, std::move(kept[i]), new_infos[i], to_disk, slots[i]) != Stored::disk) ++memory;
    }
    if (in_fresh) {
        const std::vector<std::uint8_t> ready = journal::ready_note();
        journal_failed_ = ready.empty() || !fresh.append_note(ready) || journal_failed_;
        disk_.take_over(fresh);
    }
    writer_.written();
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
    try {
        slots.reserve(positions.size());
        new_infos.assign(infos.begin(), infos.end());
        std::int32_t previous = 0;
        for (const std::int32_t p : positions) {
            // Rising positions keep the frames in capture order, the memory frames first.
            if (p <= previous || p > count()) return false;
            previous = p;
            slots.push_back(slots_[static_cast<std::size_t>(p - 1)]);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    // The kept frames are copied into a fresh file that replaces the old one once all of them
    // are there, so that the file does not grow with the recording and a crash meanwhile leaves
    // the recording as it was.
    std::int32_t memory = 0;
    if (disk_.is_open()) {
        writer_.drain();
        FrameRecordFile fresh;
        if (!fresh_file(fresh)) return false;
        for (std::size_t i = 0; i < slots.size(); ++i) {
            FrameSlot& slot = slots[i];
            const FrameImage image = slot.memory ? slot.memory : disk_.read(slot.record);
            const std::size_t record = fresh.count();
            const std::vector<std::uint8_t> record_note = journal::frame_note(new_infos[i]);
            if (!image || !fresh.append(*image) || record_note.empty() || !fresh.append_note(record_note)) return false;
            slot.record = record;
        }
        const std::vector<std::uint8_t> ready = journal::ready_note();
        if (ready.empty() || !fresh.append_note(ready)) return false;
        disk_.take_over(fresh);
        journal_failed_ = false;
        writer_.written();
    }
    for (const FrameSlot& slot : slots) memory += slot.memory ? 1 : 0;
    slots_ = std::move(slots);
    infos_ = std::move(new_infos);
    memory_count_ = memory;
    // Later frames follow the kept disk frames there, so that the order stays.
    spilled_ = static_cast<std::size_t>(memory) < slots_.size();
    ++generation_;
    return true;
}

bool FrameStore::Adopt(const std::filesystem::path& path) {
    FrameRecordFile found;
    journal::Replay replay;
    const auto note = [&replay](std::size_t before, std::span<const std::uint8_t> bytes) {
        replay.note(before, bytes);
    };
    if (!found.adopt(path, note, [&replay] { return replay.ours(); })) return false;
    if (!replay.complete() || replay.records().empty()) {
        found.release();
        return false;
    }
    std::vector<FrameSlot> slots(replay.records().size());
    std::int64_t bytes = 0;
    for (std::size_t i = 0; i < slots.size(); ++i) slots[i].record = replay.records()[i];
    std::vector<FrameInfo> infos = replay.infos();
    FrameImage last = found.read(slots.back().record);
    // The frames keep their places in the file, and later ones follow them there.
    for (const std::size_t r : replay.records()) bytes += static_cast<std::int64_t>(found.length(r));
    writer_.stop();
    Clear();
    disk_.take_over(found);
    slots_ = std::move(slots);
    infos_ = std::move(infos);
    memory_count_ = 0;
    bytes_used_ = bytes;
    spilled_ = true;
    last_frame_ = last ? std::move(last) : std::make_shared<const std::vector<std::uint8_t>>();
    capture_rect_ = replay.capture_rect();
    timer_interval_ = replay.timer_interval();
    ++generation_;
    writer_.start(disk_);
    return true;
}

}  // namespace gifanim::capture
