#include "capture/frame_record_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/file.h"
#include "platform/system.h"
#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif
#include "tests/unit/file_limit.h"
#include "tests/unit/scratch_dir.h"


namespace gifanim::capture {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Distinct contents for every record: a frame read in place of another never compares equal.
Bytes image(std::size_t index, std::size_t size) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(index * 131 + i * 7 + (i >> 8));
    return b;
}

std::size_t files_in(const std::filesystem::path& dir) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

void overwrite(const std::filesystem::path& path, std::uint64_t offset, const Bytes& bytes) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_TRUE(f.is_open());
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(f.good());
}

Bytes read_range(const std::filesystem::path& path, std::uint64_t offset, std::size_t size) {
    std::ifstream f(path, std::ios::binary);
    f.seekg(static_cast<std::streamoff>(offset));
    Bytes b(size);
    f.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(size));
    return b;
}

class FrameRecordFileTest : public ::testing::Test {
protected:
    test::ScratchDir scratch{"frame-record-"};
    FrameRecordFile file;

    // Eight records of 100..800 bytes; the first at offset 0, each after the one before.
    void fill_eight() {
        ASSERT_TRUE(file.create(scratch.dir));
        for (std::size_t i = 0; i < 8; ++i) ASSERT_TRUE(file.append(image(i, 100 * (i + 1))));
    }
    static std::uint64_t offset_of(std::size_t index) {
        std::uint64_t offset = 0;
        for (std::size_t i = 0; i < index; ++i) offset += kRecordHeaderSize + 100 * (i + 1);
        return offset;
    }
};

TEST_F(FrameRecordFileTest, ReadsBackRecordsOfVariedSizesIncludingEmptyOnes) {
    ASSERT_TRUE(file.create(scratch.dir));
    const std::string name = file.path().filename().string();
    EXPECT_EQ(file.path().parent_path(), scratch.dir);
    EXPECT_EQ(name.find_first_not_of("0123456789abcdef"), name.size() - 4) << name;
    EXPECT_TRUE(name.ends_with(".tmp")) << name;

    const std::size_t sizes[] = {0, 1, 15, 16, 17, 4096, 70001, 0, 3};
    std::vector<Bytes> written;
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < 120; ++i) {
        written.push_back(image(i, sizes[i % std::size(sizes)] + (i % 5)));
        ASSERT_TRUE(file.append(written.back()));
        total += kRecordHeaderSize + written.back().size();
    }
    EXPECT_EQ(file.count(), written.size());
    EXPECT_EQ(file.size_on_disk(), total);
    EXPECT_EQ(std::filesystem::file_size(file.path()), total);
    for (std::size_t i = 0; i < written.size(); ++i) {
        const FrameImage got = file.read(i);
        EXPECT_TRUE(got && *got == written[i]) << i;
    }
    EXPECT_FALSE(file.read(written.size()));

    // An empty image is a record of its own, not a failure.
    ASSERT_TRUE(file.append({}));
    const FrameImage empty = file.read(written.size());
    EXPECT_TRUE(empty && empty->empty());
}

TEST_F(FrameRecordFileTest, CursorsKeepTheirOwnPlace) {
    ASSERT_TRUE(file.create(scratch.dir));
    FrameRecordFile::Cursor a = file.cursor();
    FrameRecordFile::Cursor b = file.cursor();
    // An empty file is both before its first and after its last record.
    a.first();
    EXPECT_TRUE(a.before_first() && a.after_last() && !a.read());

    for (std::size_t i = 0; i < 5; ++i) ASSERT_TRUE(file.append(image(i, 10 + i)));
    a.first();
    b.last();
    a.skip(1);
    EXPECT_EQ(*a.read(), image(1, 11));
    EXPECT_EQ(*b.read(), image(4, 14));
    b.skip(-3);
    EXPECT_EQ(*a.read(), image(1, 11));
    EXPECT_EQ(*b.read(), image(1, 11));
    EXPECT_EQ(a.position(), 1);

    // Past either end a cursor stops just outside, and one step back brings it to the end record.
    a.skip(100);
    EXPECT_TRUE(a.after_last() && !a.before_first() && !a.read());
    a.skip(-1);
    EXPECT_EQ(*a.read(), image(4, 14));
    b.skip(INT64_MIN);
    EXPECT_TRUE(b.before_first() && !b.after_last() && !b.read());
    b.skip(1);
    EXPECT_EQ(*b.read(), image(0, 10));
    a.skip(INT64_MAX);
    EXPECT_TRUE(a.after_last());

    // Walking forward from the first record reads every record once, as an export does.
    std::vector<Bytes> seen;
    for (b.first(); !b.after_last(); b.skip(1)) seen.push_back(*b.read());
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen.back(), image(4, 14));
}

TEST_F(FrameRecordFileTest, RemoveAllEmptiesTheFileWhichThenTakesNewRecords) {
    fill_eight();
    FrameRecordFile::Cursor c = file.cursor();
    c.last();
    const std::filesystem::path path = file.path();
    ASSERT_TRUE(file.remove_all());
    EXPECT_EQ(file.count(), 0u);
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
    EXPECT_TRUE(c.after_last() && !c.read() && !file.read(0));

    ASSERT_TRUE(file.append(image(42, 30)));
    ASSERT_TRUE(file.append(image(43, 0)));
    EXPECT_EQ(file.count(), 2u);
    EXPECT_EQ(*file.read(0), image(42, 30));
    EXPECT_EQ(file.path(), path);
}

#ifndef _WIN32
// Emptied while a snapshot (an export) still reads the records, and no fresh file to be had: the
// records stay for the snapshot rather than being cut from under it.
TEST_F(FrameRecordFileTest, RemoveAllNeverCutsRecordsASnapshotStillReads) {
    fill_eight();
    const FrameRecordFile::Snapshot held = file.snapshot();
    {
        // No file can be opened: the lowest free descriptor is past the limit.
        const int lowest = ::open("/dev/null", O_RDONLY);
        ASSERT_GE(lowest, 0);
        ::close(lowest);
        rlimit old{};
        getrlimit(RLIMIT_NOFILE, &old);
        rlimit limit = old;
        limit.rlim_cur = static_cast<rlim_t>(lowest);
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
        const bool removed = file.remove_all();
        setrlimit(RLIMIT_NOFILE, &old);
        ASSERT_TRUE(removed);
    }
    EXPECT_EQ(file.count(), 0u);
    ASSERT_TRUE(file.append(image(42, 30)));
    EXPECT_EQ(*file.read(0), image(42, 30));
    for (std::size_t i = 0; i < 8; ++i) {
        const FrameImage frame = held.read(i);
        ASSERT_TRUE(frame) << i;
        EXPECT_EQ(*frame, image(i, 100 * (i + 1))) << i;
    }
}
#endif

TEST_F(FrameRecordFileTest, DamagedRecordsReadAsFailuresNeverAsAnotherFrame) {
    fill_eight();
    const std::filesystem::path path = file.path();
    // A flipped image byte of record 1.
    Bytes one = read_range(path, offset_of(1) + kRecordHeaderSize + 50, 1);
    one[0] ^= 0x10;
    overwrite(path, offset_of(1) + kRecordHeaderSize + 50, one);
    EXPECT_FALSE(file.read(1));
    EXPECT_EQ(*file.read(0), image(0, 100));
    EXPECT_EQ(*file.read(2), image(2, 300));
    // Flips among the last bytes of record 2 (300 bytes: whole blocks of 32, then a word of 8
    // and 4 single bytes), each caught and mended again.
    for (const std::uint64_t at : {290u, 299u}) {
        Bytes last = read_range(path, offset_of(2) + kRecordHeaderSize + at, 1);
        last[0] ^= 0x01;
        overwrite(path, offset_of(2) + kRecordHeaderSize + at, last);
        EXPECT_FALSE(file.read(2)) << at;
        last[0] ^= 0x01;
        overwrite(path, offset_of(2) + kRecordHeaderSize + at, last);
        EXPECT_EQ(*file.read(2), image(2, 300)) << at;
    }

    // A length field that claims more than the index knows.
    Bytes header = read_range(path, offset_of(3), kRecordHeaderSize);
    header[8] ^= 0x01;
    overwrite(path, offset_of(3), header);
    EXPECT_FALSE(file.read(3));

    // A whole valid record of the same length written where record 5 was: its own checksum and
    // length are right, but it was made for another place.
    file.remove_all();
    ASSERT_TRUE(file.append(image(0, 64)));
    ASSERT_TRUE(file.append(image(1, 64)));
    ASSERT_TRUE(file.append(image(2, 64)));
    overwrite(path, 2 * (kRecordHeaderSize + 64), read_range(path, 0, kRecordHeaderSize + 64));
    EXPECT_EQ(*file.read(0), image(0, 64));
    EXPECT_FALSE(file.read(2));

    // A file cut short loses its last record, not its length.
    std::filesystem::resize_file(path, 2 * (kRecordHeaderSize + 64) + 20);
    EXPECT_FALSE(file.read(2));
    EXPECT_EQ(*file.read(1), image(1, 64));
}

#ifndef _WIN32
TEST_F(FrameRecordFileTest, FailedAppendLeavesTheIndexAsItWas) {
    fill_eight();
    const std::uint64_t size = file.size_on_disk();
    {
        test::WritesRefusedPastEnd refuse(file.path());
        EXPECT_FALSE(file.append(image(99, 1000)));
        EXPECT_EQ(file.count(), 8u);
        EXPECT_EQ(file.size_on_disk(), size);
        EXPECT_EQ(std::filesystem::file_size(file.path()), size);
    }
    // The next record goes where the failed one would have gone, and every record reads back.
    ASSERT_TRUE(file.append(image(8, 900)));
    EXPECT_EQ(file.count(), 9u);
    for (std::size_t i = 0; i < 9; ++i) EXPECT_EQ(*file.read(i), image(i, 100 * (i + 1))) << i;
}
#endif

TEST_F(FrameRecordFileTest, EveryFileGetsAFreshNameAndIsDeletedWhenClosed) {
    // Names the next file could take are already taken by someone else's files.
    const std::uint32_t tick = platform::tick_count();
    for (std::uint32_t n = tick; n != tick + 400; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "%x.tmp", static_cast<unsigned>(n));
        std::ofstream(scratch.dir / name) << "theirs";
    }
    {
        FrameRecordFile second;
        ASSERT_TRUE(file.create(scratch.dir));
        ASSERT_TRUE(second.create(scratch.dir));
        EXPECT_NE(file.path(), second.path());
        EXPECT_EQ(std::filesystem::file_size(file.path()) + std::filesystem::file_size(second.path()), 0u);
        ASSERT_TRUE(second.append(image(0, 10)));
        EXPECT_EQ(files_in(scratch.dir), 402u);
    }
    EXPECT_EQ(files_in(scratch.dir), 401u);
    file.close();
    EXPECT_FALSE(file.is_open());
    EXPECT_EQ(files_in(scratch.dir), 400u);
    for (const auto& entry : std::filesystem::directory_iterator(scratch.dir)) EXPECT_EQ(entry.file_size(), 6u);

    EXPECT_FALSE(file.append(image(0, 1)));
    EXPECT_EQ(file.count(), 0u);

    EXPECT_FALSE(file.create(scratch.dir / "missing"));
    EXPECT_FALSE(file.is_open());

    // Without a folder the file goes to the platform's temporary one.
    FrameRecordFile in_temp;
    ASSERT_TRUE(in_temp.create());
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::temp_directory_path() / in_temp.path().filename()));
    const std::filesystem::path temp_path = in_temp.path();
    in_temp.close();
    EXPECT_FALSE(std::filesystem::exists(temp_path));
}

TEST_F(FrameRecordFileTest, KeepOnlyRebuildsTheFileOrLeavesItWhole) {
    fill_eight();
    const std::filesystem::path old_path = file.path();

    // A record that does not exist, and a damaged one, each stop the rebuild partway.
    const std::size_t missing[] = {0, 2, 99, 4};
    EXPECT_FALSE(file.keep_only(missing));
    Bytes byte = read_range(old_path, offset_of(6) + kRecordHeaderSize, 1);
    byte[0] ^= 0xFF;
    overwrite(old_path, offset_of(6) + kRecordHeaderSize, byte);
    const std::size_t damaged[] = {1, 3, 6, 7};
    EXPECT_FALSE(file.keep_only(damaged));
    EXPECT_EQ(file.path(), old_path);
    EXPECT_EQ(file.count(), 8u);
    EXPECT_EQ(files_in(scratch.dir), 1u);
    byte[0] ^= 0xFF;
    overwrite(old_path, offset_of(6) + kRecordHeaderSize, byte);
    for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(*file.read(i), image(i, 100 * (i + 1))) << i;

    FrameRecordFile::Cursor c = file.cursor();
    const std::size_t keep[] = {1, 3, 4, 6, 7};
    ASSERT_TRUE(file.keep_only(keep));
    EXPECT_EQ(file.count(), 5u);
    EXPECT_FALSE(std::filesystem::exists(old_path));
    EXPECT_EQ(files_in(scratch.dir), 1u);
    for (std::size_t k = 0; k < 5; ++k) EXPECT_EQ(*file.read(k), image(keep[k], 100 * (keep[k] + 1))) << k;
    c.last();
    EXPECT_EQ(*c.read(), image(7, 800));
    ASSERT_TRUE(file.append(image(9, 5)));
    EXPECT_EQ(*file.read(5), image(9, 5));

    ASSERT_TRUE(file.keep_only({}));
    EXPECT_EQ(file.count(), 0u);
    EXPECT_EQ(files_in(scratch.dir), 1u);
}

// A file an earlier version left, whose image records carry the tag "GFR1" and the byte-wise
// checksum notes still have, is still adopted and read; what is added after goes on in the
// current form.
TEST_F(FrameRecordFileTest, RecordsOfAnEarlierVersionAreStillRead) {
    const auto put = [](Bytes& out, std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    Bytes left;
    for (std::size_t k = 0; k < 2; ++k) {
        const Bytes img = image(k, 150);
        std::uint32_t hash = 2166136261u;
        Bytes place;
        put(place, left.size(), 8);
        put(place, img.size(), 8);
        for (const Bytes* part : {static_cast<const Bytes*>(&place), &img})
            for (const std::uint8_t b : *part) hash = (hash ^ b) * 16777619u;
        put(left, 0x31524647u, 4);  // "GFR1"
        put(left, hash, 4);
        put(left, img.size(), 8);
        left.insert(left.end(), img.begin(), img.end());
    }
    const std::filesystem::path path = scratch.dir / "left.tmp";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(left.data()),
                                                static_cast<std::streamsize>(left.size()));
    // Only a file no one else may change is taken.
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ASSERT_TRUE(file.adopt(path, [](std::size_t, std::span<const std::uint8_t>) {}, [] { return true; }));
    ASSERT_EQ(file.count(), 2u);
    EXPECT_EQ(*file.read(0), image(0, 150));
    EXPECT_EQ(*file.read(1), image(1, 150));
    ASSERT_TRUE(file.append(image(2, 70)));
    EXPECT_EQ(*file.read(2), image(2, 70));
    EXPECT_EQ(*file.read(0), image(0, 150));
}

// An export reads on its own thread through its own cursor while the recording still appends.
TEST_F(FrameRecordFileTest, ReaderOnAnotherThreadSeesWholeRecordsWhileAppendsGoOn) {
    ASSERT_TRUE(file.create(scratch.dir));
    std::atomic<bool> done{false};
    std::size_t wrong = 0;
    std::size_t read = 0;
    std::thread reader([&] {
        FrameRecordFile::Cursor c = file.cursor();
        while (!done.load()) {
            for (c.first(); !c.after_last(); c.skip(1)) {
                const FrameImage got = c.read();
                const auto i = static_cast<std::size_t>(c.position());
                if (!got || *got != image(i, 50 + i)) ++wrong;
                ++read;
            }
        }
    });
    for (std::size_t i = 0; i < 400; ++i) ASSERT_TRUE(file.append(image(i, 50 + i)));
    done = true;
    reader.join();
    EXPECT_EQ(wrong, 0u) << "of " << read;
}

// A file written past the system's cache holds exactly what was written, whatever the pieces and
// however the last block ends.
TEST(PlatformFile, WritesPastTheCacheReadBackTheSame) {
    test::ScratchDir scratch{"bypass-"};
    const std::size_t sizes[] = {0, 1, 4095, 4096, 4097, (1u << 20) - 1, 1u << 20, (3u << 20) + 5};
    for (const std::size_t size : sizes) {
        const Bytes expected = image(size, size);
        for (const std::size_t piece : {size + 1, std::size_t{1000}}) {
            const std::filesystem::path path = scratch.dir / "out.bin";
            platform::File file = platform::File::create(path);
            file.bypass_cache();
            for (std::size_t at = 0; at < size; at += piece)
                file.write(std::span(expected).subspan(at, std::min(piece, size - at)));
            file.close();
            EXPECT_EQ(std::filesystem::file_size(path), size) << size << " in pieces of " << piece;
            EXPECT_EQ(read_range(path, 0, size), expected) << size << " in pieces of " << piece;
        }
    }
}

TEST(FrameRecordSpan, OffsetsPastFourGibibytesAddUpOrAreRefused) {
    EXPECT_EQ(record_end({(5ull << 32) + 3, 10}), (5ull << 32) + 3 + kRecordHeaderSize + 10);
    EXPECT_EQ(record_end({0xFFFFFFF0ull, 0x20}), 0x100000000ull + 0x20);
    EXPECT_EQ(record_end({UINT64_MAX - kRecordHeaderSize - 9, 9}), UINT64_MAX);
    EXPECT_EQ(record_end({UINT64_MAX - kRecordHeaderSize - 9, 10}), 0u);
    EXPECT_EQ(record_end({UINT64_MAX, 0}), 0u);
    EXPECT_EQ(record_end({0, UINT64_MAX}), 0u);
}

// The platform's positioned reads and writes past 4 GiB, in a sparse file where the file system
// keeps one.
TEST(PositionedFile, ReadsAndWritesPastFourGibibytes) {
    test::ScratchDir scratch("positioned-");
    const std::filesystem::path path = scratch.dir / "big";
#ifdef _WIN32
    if (std::filesystem::space(scratch.dir).available < (6ull << 30)) GTEST_SKIP() << "needs 6 GiB free";
#endif
    platform::PositionedFile f;
    ASSERT_EQ(platform::PositionedFile::create_new(path, f), platform::PositionedFile::Outcome::created);
    EXPECT_EQ(platform::PositionedFile::create_new(path, f), platform::PositionedFile::Outcome::exists);
    ASSERT_TRUE(f.is_open());
    const std::uint64_t beyond = (5ull << 32) + 7;
    const Bytes head = {1, 2, 3};
    const Bytes body = image(5, 1000);
    ASSERT_TRUE(f.write_at(beyond, head, body));
    ASSERT_TRUE(f.write_at(beyond - (1ull << 32), body, {}));
    EXPECT_EQ(std::filesystem::file_size(path), beyond + 1003);
    Bytes got(1003);
    ASSERT_TRUE(f.read_at(beyond, got));
    EXPECT_EQ(Bytes(got.begin() + 3, got.end()), body);
    EXPECT_EQ(got[0] + got[1] + got[2], 6);
    ASSERT_TRUE(f.read_at(beyond - (1ull << 32), std::span(got).first(1000)));
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 1000), body);
    EXPECT_FALSE(f.read_at(beyond + 1, got));
    EXPECT_TRUE(f.truncate(0));
}

}  // namespace
}  // namespace gifanim::capture
