#include "platform/frame_record_file.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <charconv>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <utility>

namespace gifanim::platform {

namespace {

// "GFR2" little-endian: the first word of every image record, so an offset that lands elsewhere
// is caught; "GFN1" for a note. Image records of earlier files, "GFR1", are still read: their
// checksum is the one notes have.
constexpr std::uint32_t kRecordTag = 0x32524647u;
constexpr std::uint32_t kOldRecordTag = 0x31524647u;
constexpr std::uint32_t kNoteTag = 0x314E4647u;
// How many taken names are passed over before giving up on a folder.
constexpr int kNameAttempts = 1 << 16;

void put_u32(std::uint8_t* out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void put_u64(std::uint8_t* out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t get_u32(const std::uint8_t* in) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | in[i];
    return v;
}

std::uint64_t get_u64(const std::uint8_t* in) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | in[i];
    return v;
}

std::string hex_name(std::uint32_t number) {
    std::array<char, 8> digits{};
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), number, 16);
    return std::string(digits.data(), result.ptr) + ".tmp";
}

std::atomic<std::uint32_t> names_made{0};

// The checksum of a note (and of an image record of an earlier file): FNV-1a over the record's
// offset and the image's length (8 bytes each, little-endian), then its bytes: a record cut short,
// damaged, or copied to another place never passes for another frame.
std::uint32_t record_checksum(std::uint64_t offset, std::span<const std::uint8_t> image) {
    std::uint32_t hash = 2166136261u;
    const auto mix = [&hash](std::uint8_t byte) { hash = (hash ^ byte) * 16777619u; };
    std::uint8_t place[16];
    put_u64(place, offset);
    put_u64(place + 8, image.size());
    for (std::uint8_t b : place) mix(b);
    for (std::uint8_t b : image) mix(b);
    return hash;
}

// The checksum of an image record: the same safeguards eight bytes at a time in four lanes, many
// times faster than a byte at a time, since images of megabytes pass through it on every write
// and read. Each step is a bijection of the lane for a given word, and of the word for a given
// lane, so no change of one word goes unseen before the 64 bits are folded to 32.
std::uint32_t image_checksum(std::uint64_t offset, std::span<const std::uint8_t> image) {
    constexpr std::uint64_t p1 = 0x9E3779B185EBCA87ull, p2 = 0xC2B2AE3D27D4EB4Full, p3 = 0x165667B19E3779F9ull;
    const auto word = [](const std::uint8_t* p) {
        std::uint64_t v;
        std::memcpy(&v, p, 8);
        if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
        return v;
    };
    const auto round = [](std::uint64_t lane, std::uint64_t in) { return std::rotl(lane + in * p2, 31) * p1; };
    const std::uint64_t length = image.size();
    std::uint64_t lanes[4] = {offset + p1 + p2, length + p2, offset ^ p3, length - p1};
    const std::uint8_t* p = image.data();
    std::size_t left = image.size();
    for (; left >= 32; p += 32, left -= 32) {
        for (int k = 0; k < 4; ++k) lanes[k] = round(lanes[k], word(p + 8 * k));
    }
    std::uint64_t hash = std::rotl(lanes[0], 1) + std::rotl(lanes[1], 7) + std::rotl(lanes[2], 12) +
                         std::rotl(lanes[3], 18);
    for (; left >= 8; p += 8, left -= 8) hash = std::rotl(hash ^ round(0, word(p)), 27) * p1 + p3;
    for (; left > 0; ++p, --left) hash = std::rotl(hash ^ (*p * p3), 11) * p1;
    hash ^= hash >> 33;
    hash *= p2;
    hash ^= hash >> 29;
    hash *= p3;
    hash ^= hash >> 32;
    return static_cast<std::uint32_t>(hash);
}

// The checksum a record of this tag carries.
std::uint32_t checksum_of(std::uint32_t tag, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    return tag == kRecordTag ? image_checksum(offset, bytes) : record_checksum(offset, bytes);
}

}  // namespace

std::uint64_t record_end(const RecordSpan& span) {
    constexpr auto max = std::numeric_limits<std::uint64_t>::max();
    if (span.offset > max - kRecordHeaderSize || span.length > max - kRecordHeaderSize - span.offset) return 0;
    return span.offset + kRecordHeaderSize + span.length;
}

FrameRecordFile::~FrameRecordFile() {
    close();
}

bool FrameRecordFile::create_store(const std::filesystem::path& dir, Store& out) {
    auto file = std::make_shared<platform::PositionedFile>();
    std::uint32_t number = platform::tick_count() + names_made.fetch_add(1);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt, ++number) {
        std::filesystem::path path = dir / hex_name(number);
        switch (platform::PositionedFile::create_new(path, *file)) {
            case platform::PositionedFile::Outcome::created:
                // The lock tells a later process that this one still runs. Where the file system
                // has no locks the file is still usable, only never offered as left behind.
                file->try_lock();
                out.file = std::move(file);
                out.path = std::move(path);
                out.index.clear();
                out.end = 0;
                return true;
            case platform::PositionedFile::Outcome::exists: continue;
            case platform::PositionedFile::Outcome::failed: return false;
        }
    }
    return false;
}

void FrameRecordFile::discard(Store& store) {
    if (store.file) {
        // The last holder closes the handle; a read still in flight on another thread finishes on
        // it, while the name goes at once (POSIX and FILE_SHARE_DELETE both allow that).
        store.file.reset();
        platform::remove_file(store.path);
    }
    store.path.clear();
    store.index.clear();
    store.end = 0;
}

bool FrameRecordFile::create() {
    return create(platform::temp_directory());
}

bool FrameRecordFile::create(const std::filesystem::path& dir) {
    close();
    Store fresh;
    if (!create_store(dir, fresh)) return false;
    std::lock_guard lock(mutex_);
    store_ = std::move(fresh);
    return true;
}

bool FrameRecordFile::is_open() const {
    std::lock_guard lock(mutex_);
    return store_.file != nullptr;
}

std::filesystem::path FrameRecordFile::path() const {
    std::lock_guard lock(mutex_);
    return store_.path;
}

void FrameRecordFile::close() {
    Store old;
    {
        std::lock_guard lock(mutex_);
        std::swap(old, store_);
    }
    discard(old);
}

bool FrameRecordFile::prepare(Store& store, std::uint64_t length, RecordSpan& span) {
    if (!store.file) return false;
    span = RecordSpan{store.end, length};
    if (record_end(span) == 0) return false;
    try {
        // Room first: once the bytes are on disk, indexing them must not fail.
        if (store.index.size() == store.index.capacity()) {
            store.index.reserve(std::max<std::size_t>(64, 2 * store.index.size()));
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool FrameRecordFile::write_record(platform::PositionedFile& file, const RecordSpan& span, std::uint32_t tag,
                                   std::span<const std::uint8_t> image) {
    std::uint8_t header[kRecordHeaderSize];
    put_u32(header, tag);
    put_u32(header + 4, checksum_of(tag, span.offset, image));
    put_u64(header + 8, image.size());
    if (file.write_at(span.offset, header, image)) return true;
    // Whatever part reached the disk lies past the end and is overwritten by the next record.
    file.truncate(span.offset);
    return false;
}

bool FrameRecordFile::append_to(Store& store, std::span<const std::uint8_t> image) {
    RecordSpan span;
    if (!prepare(store, image.size(), span) || !write_record(*store.file, span, kRecordTag, image)) return false;
    store.index.push_back(span);
    store.end = record_end(span);
    return true;
}

bool FrameRecordFile::append(std::span<const std::uint8_t> image) {
    // Appends come from the owner's thread only, so the end cannot move while the bytes go out;
    // the lock is held only while the index changes, not for the write.
    RecordSpan span;
    std::shared_ptr<platform::PositionedFile> file;
    {
        std::lock_guard lock(mutex_);
        if (!prepare(store_, image.size(), span)) return false;
        file = store_.file;
    }
    if (!write_record(*file, span, kRecordTag, image)) return false;
    std::lock_guard lock(mutex_);
    store_.index.push_back(span);
    store_.end = record_end(span);
    return true;
}

bool FrameRecordFile::append_note(std::span<const std::uint8_t> note) {
    RecordSpan span;
    std::shared_ptr<platform::PositionedFile> file;
    {
        std::lock_guard lock(mutex_);
        if (!store_.file) return false;
        span = RecordSpan{store_.end, note.size()};
        if (record_end(span) == 0) return false;
        file = store_.file;
    }
    if (!write_record(*file, span, kNoteTag, note)) return false;
    std::lock_guard lock(mutex_);
    store_.end = record_end(span);
    return true;
}

bool FrameRecordFile::sync() const {
    std::shared_ptr<platform::PositionedFile> file;
    {
        std::lock_guard lock(mutex_);
        file = store_.file;
    }
    return file && file->sync();
}

void FrameRecordFile::release() {
    Store old;
    {
        std::lock_guard lock(mutex_);
        std::swap(old, store_);
    }
}

bool FrameRecordFile::take_over(FrameRecordFile& fresh) {
    Store taken;
    {
        std::lock_guard lock(fresh.mutex_);
        if (!fresh.store_.file) return false;
        std::swap(taken, fresh.store_);
    }
    {
        std::lock_guard lock(mutex_);
        std::swap(taken, store_);
    }
    discard(taken);
    return true;
}

bool FrameRecordFile::scan(Store& store, std::uint64_t size,
                           const std::function<void(std::size_t, std::span<const std::uint8_t>)>& on_note) {
    std::uint64_t offset = 0;
    std::vector<std::uint8_t> note;
    while (size - offset >= kRecordHeaderSize) {
        std::uint8_t header[kRecordHeaderSize];
        if (!store.file->read_at(offset, header)) return false;
        const std::uint32_t tag = get_u32(header);
        const RecordSpan span{offset, get_u64(header + 8)};
        if ((tag != kRecordTag && tag != kOldRecordTag && tag != kNoteTag) ||
            span.length > size - offset - kRecordHeaderSize)
            break;
        const std::uint64_t end = record_end(span);
        const bool last = end == size;
        bool whole = true;
        if (tag == kNoteTag) {
            if (span.length > kLongestNote) break;
            note.resize(static_cast<std::size_t>(span.length));
            if (!store.file->read_at(offset + kRecordHeaderSize, note)) return false;
            whole = record_checksum(offset, note) == get_u32(header + 4);
            if (whole) on_note(store.index.size(), note);
        } else {
            // Images are checked when they are read; only the last one, which a crash may have
            // left half written, is checked here, so that a torn tail is cut.
            if (last) whole = read_record(store.file.get(), span) != nullptr;
            if (whole) store.index.push_back(span);
        }
        if (!whole && last) break;
        offset = end;
    }
    store.end = offset;
    return true;
}

bool FrameRecordFile::adopt(const std::filesystem::path& path,
                            const std::function<void(std::size_t, std::span<const std::uint8_t>)>& on_note,
                            const std::function<bool()>& ours) {
    Store found;
    found.file = std::make_shared<platform::PositionedFile>();
    std::uint64_t size = 0;
    if (!platform::PositionedFile::open_existing(path, *found.file) || !found.file->try_lock() ||
        !found.file->size(size)) {
        return false;
    }
    found.path = path;
    if (!scan(found, size, on_note) || !ours()) return false;
    // What lies past the last whole record is cut, so the next record follows it directly.
    if (found.end < size && !found.file->truncate(found.end)) return false;
    close();
    std::lock_guard lock(mutex_);
    store_ = std::move(found);
    return true;
}

std::size_t FrameRecordFile::count() const {
    std::lock_guard lock(mutex_);
    return store_.index.size();
}

std::uint64_t FrameRecordFile::length(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return index < store_.index.size() ? store_.index[index].length : 0;
}

std::uint64_t FrameRecordFile::size_on_disk() const {
    std::lock_guard lock(mutex_);
    return store_.end;
}

FrameImage FrameRecordFile::read_record(const platform::PositionedFile* file, const RecordSpan& span) {
    if (!file || span.length > std::numeric_limits<std::size_t>::max()) return nullptr;
    std::uint8_t header[kRecordHeaderSize];
    if (!file->read_at(span.offset, header)) return nullptr;
    const std::uint32_t tag = get_u32(header);
    if ((tag != kRecordTag && tag != kOldRecordTag) || get_u64(header + 8) != span.length) return nullptr;
    try {
        std::vector<std::uint8_t> image(static_cast<std::size_t>(span.length));
        if (!file->read_at(span.offset + kRecordHeaderSize, image)) return nullptr;
        if (checksum_of(tag, span.offset, image) != get_u32(header + 4)) return nullptr;
        return std::make_shared<const std::vector<std::uint8_t>>(std::move(image));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

FrameImage FrameRecordFile::read(std::size_t index) const {
    RecordSpan span;
    std::shared_ptr<platform::PositionedFile> file;
    {
        std::lock_guard lock(mutex_);
        if (index >= store_.index.size()) return nullptr;
        span = store_.index[index];
        file = store_.file;
    }
    return read_record(file.get(), span);
}

FrameRecordFile::Snapshot FrameRecordFile::snapshot() const {
    Snapshot snap;
    std::lock_guard lock(mutex_);
    snap.file_ = store_.file;
    snap.index_ = store_.index;
    return snap;
}

FrameImage FrameRecordFile::Snapshot::read(std::size_t index) const {
    return index < index_.size() ? read_record(file_.get(), index_[index]) : nullptr;
}

bool FrameRecordFile::remove_all() {
    std::unique_lock lock(mutex_);
    if (!store_.file) return false;
    if (store_.file.use_count() > 1) {
        // A snapshot (or a read in flight) still reads these records: leave them to it and go on
        // in a fresh file. Should none be had, the records stay where they are, unindexed, and
        // the file goes on after them: cutting them would leave the snapshot reading nothing.
        const std::filesystem::path dir = store_.path.parent_path();
        lock.unlock();
        Store fresh;
        const bool made = create_store(dir, fresh);
        lock.lock();
        if (made) {
            std::swap(fresh, store_);
            lock.unlock();
            discard(fresh);
        } else {
            store_.index.clear();
        }
        return true;
    }
    // The records are gone whether or not the file shrinks: the next append starts at 0 again.
    store_.index.clear();
    store_.end = 0;
    return store_.file->truncate(0);
}

bool FrameRecordFile::keep_only(std::span<const std::size_t> indices) {
    std::filesystem::path dir;
    {
        std::lock_guard lock(mutex_);
        if (!store_.file) return false;
        dir = store_.path.parent_path();
    }
    Store fresh;
    if (!create_store(dir, fresh)) return false;
    try {
        fresh.index.reserve(indices.size());
    } catch (const std::bad_alloc&) {
        discard(fresh);
        return false;
    }
    for (const std::size_t i : indices) {
        const FrameImage image = read(i);
        if (!image || !append_to(fresh, *image)) {
            discard(fresh);
            return false;
        }
    }
    {
        std::lock_guard lock(mutex_);
        std::swap(fresh, store_);
    }
    discard(fresh);
    return true;
}

void FrameRecordFile::Cursor::last() {
    position_ = static_cast<std::int64_t>(file_->count()) - 1;
}

void FrameRecordFile::Cursor::skip(std::int64_t n) {
    const auto count = static_cast<std::int64_t>(file_->count());
    const std::int64_t p = std::clamp<std::int64_t>(position_, -1, count);
    if (n >= 0) {
        position_ = n >= count - p ? count : p + n;
    } else {
        position_ = n <= -1 - p ? -1 : p + n;
    }
}

bool FrameRecordFile::Cursor::before_first() const {
    return position_ < 0 || file_->count() == 0;
}

bool FrameRecordFile::Cursor::after_last() const {
    return position_ >= static_cast<std::int64_t>(file_->count());
}

FrameImage FrameRecordFile::Cursor::read() const {
    if (position_ < 0) return nullptr;
    return file_->read(static_cast<std::size_t>(position_));
}

}  // namespace gifanim::platform
