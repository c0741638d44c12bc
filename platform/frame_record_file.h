#pragma once
// A private scratch file of frame records in the temporary folder: the recording's spill file, and
// the compressed frames of a maker past its memory budget.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "platform/system.h"

namespace gifanim::platform {

// One frame image, shared and never changed by whoever holds it.
using FrameImage = std::shared_ptr<const std::vector<std::uint8_t>>;

// Where record `index` sits in the file: its header at `offset`, then `length` bytes of image.
struct RecordSpan {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

// Bytes a record takes on disk ahead of its image: a tag, the image's length and a checksum.
inline constexpr std::uint64_t kRecordHeaderSize = 16;
// The longest note a found file may hold: more is damage, never something to allocate.
inline constexpr std::uint64_t kLongestNote = 1u << 20;

// The offset just past a record, or 0 when the file would pass 2^64 bytes.
std::uint64_t record_end(const RecordSpan& span);

// A private file of frame images in the temporary folder, one record per image in append order.
// The index lives in memory; the file is deleted when it is closed or destroyed (but not when its
// process dies: the owner's lock on it then ends, and a later process may adopt it). Between the
// images the file may hold notes, records of the owner's own that are kept in order with the
// images but not indexed. One thread, the owner's, changes it (create, append, append_note,
// remove_all, keep_only, take_over, adopt, close, release); reads and sync may run on any thread
// meanwhile, each reader moving its own Cursor.
class FrameRecordFile {
public:
    FrameRecordFile() = default;
    FrameRecordFile(const FrameRecordFile&) = delete;
    FrameRecordFile& operator=(const FrameRecordFile&) = delete;
    ~FrameRecordFile();

    // Creates a new, empty file in the temporary folder (or in `dir`) named by the lower-case
    // hexadecimal form of the tick count plus a per-process counter, then ".tmp"; a taken name is
    // passed over for the next number. An open file is closed (and deleted) first. False when no
    // file could be created.
    bool create();
    bool create(const std::filesystem::path& dir);
    bool is_open() const;
    std::filesystem::path path() const;
    // Closes and deletes the file; the index is emptied.
    void close();
    // Closes the file and leaves it where it is, for a later process to adopt.
    void release();
    // Takes over a file that a process left behind: opened as PositionedFile::open_existing
    // allows, locked (false while its owner still runs), and read from its start up to the first
    // record that is not whole, where a torn or partly written tail is cut off. Each note is
    // passed to `on_note` in order, with the number of images before it. A damaged record that
    // whole records follow is passed over: an image so damaged reads as null. Then `ours` says
    // whether the file is what the caller looks for: only then is anything cut, and the file this
    // one's, its images indexed. Otherwise, and on any failure, this file and the found one stay as
    // they were. May throw std::bad_alloc (and whatever the callbacks throw) with both as they were.
    bool adopt(const std::filesystem::path& path,
               const std::function<void(std::size_t images_before, std::span<const std::uint8_t> note)>& on_note,
               const std::function<bool()>& ours);
    // Makes `fresh` (open, in the same folder) this file: this file's records are deleted, except
    // for the snapshots still reading them, and `fresh` is left closed. False when fresh is not open.
    bool take_over(FrameRecordFile& fresh);

    // Adds a note at the end. On failure nothing after the last record counts.
    bool append_note(std::span<const std::uint8_t> note);
    // Flushes what was written to the disk itself.
    bool sync() const;

    // Adds a record holding `image` at the end. On failure the index stays as it was.
    bool append(std::span<const std::uint8_t> image);
    std::size_t count() const;
    // The length of record `index`'s image; 0 when there is no such record.
    std::uint64_t length(std::size_t index) const;
    // Bytes the records take on disk.
    std::uint64_t size_on_disk() const;
    // Record `index` (from 0), or null when there is no such record or it is damaged on disk.
    FrameImage read(std::size_t index) const;
    // Empties the index and, unless a snapshot still reads the records, the file; the file stays
    // open. When a snapshot holds the records they are left to it: the file goes on in a fresh
    // one, or, should none be had, after the old records (which no index names any more).
    bool remove_all();
    // Rebuilds the file from the records `indices` name, in that order: they are copied into a
    // fresh file beside this one, which replaces it only once every record was copied. On any
    // failure the current file and index stay as they were and the fresh file is removed.
    bool keep_only(std::span<const std::size_t> indices);

    // A reading position of its own. Before the first record, on record 0..count-1, or after the
    // last. The file must outlive its cursors.
    class Cursor {
    public:
        explicit Cursor(const FrameRecordFile& file) : file_(&file) {}
        void first() { position_ = 0; }
        void last();
        // Moves by n records (n may be negative), stopping just outside either end.
        void skip(std::int64_t n);
        bool before_first() const;
        bool after_last() const;
        // The current record, or null when the cursor is outside the records or the record is damaged.
        FrameImage read() const;
        std::int64_t position() const { return position_; }

    private:
        const FrameRecordFile* file_;
        std::int64_t position_ = -1;
    };
    Cursor cursor() const { return Cursor(*this); }

    // The records as they are at this moment, readable on any thread for as long as the snapshot
    // lives, whatever the file goes through meanwhile: appends add past its records, and
    // remove_all and keep_only move on to a fresh file while a snapshot still reads the old one.
    class Snapshot {
    public:
        std::size_t count() const { return index_.size(); }
        // Record `index` (from 0) as it was, or null when there is none or it is damaged on disk.
        FrameImage read(std::size_t index) const;
        // The bytes of record `index`'s image, from the index; 0 when there is none.
        std::uint64_t image_size(std::size_t index) const { return index < index_.size() ? index_[index].length : 0; }

    private:
        friend class FrameRecordFile;
        std::shared_ptr<platform::PositionedFile> file_;
        std::vector<RecordSpan> index_;
    };
    // Throws std::bad_alloc.
    Snapshot snapshot() const;

private:
    // The open file is shared with reads in flight, so a swap or close on the owner's thread
    // never pulls a handle from under a reader.
    struct Store {
        std::shared_ptr<platform::PositionedFile> file;
        std::filesystem::path path;
        std::vector<RecordSpan> index;
        std::uint64_t end = 0;
    };
    static bool create_store(const std::filesystem::path& dir, Store& out);
    static void discard(Store& store);
    // Checks that a record of `length` bytes fits at the end and makes room for it in the index.
    static bool prepare(Store& store, std::uint64_t length, RecordSpan& span);
    static bool write_record(platform::PositionedFile& file, const RecordSpan& span, std::uint32_t tag,
                             std::span<const std::uint8_t> image);
    static bool append_to(Store& store, std::span<const std::uint8_t> image);
    // Reads the records of a found file into `store` as adopt describes.
    static bool scan(Store& store, std::uint64_t size,
                     const std::function<void(std::size_t, std::span<const std::uint8_t>)>& on_note);
    static FrameImage read_record(const platform::PositionedFile* file, const RecordSpan& span);

    mutable std::mutex mutex_;
    Store store_;
};

}  // namespace gifanim::platform
