// Recovering a recording from a spill file damaged in any way: a whole journal is made once (frames
// in memory and on disk, a lengthened delay, frames kept in part and renumbered), then each input
// edits a copy of it (cuts it short, overwrites, inserts or flips bytes) or, now and then, is the
// whole file. The listing of left recordings and the store's adoption of the file run on it;
// checked: a recording listed or adopted holds frames, its records and frames agree in number, every
// frame's image reads (or is reported damaged) within the file, and a listed recording is adopted
// with the same frames. A broken property aborts, so libFuzzer keeps the input like any crash.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "capture/frame_store.h"
#include "capture/recording_journal.h"
#include "fuzz/fuzz_draw.h"

namespace {

using gifanim::fuzz::check;

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using gifanim::capture::FrameStore;

Bytes read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

gifanim::FrameInfo info_of(std::int16_t delay) {
    gifanim::FrameInfo info;
    info.DelayTime = delay;
    info.Width = 40;
    info.Depth = 30;
    return info;
}

// The folder the inputs' files go in, only ours.
const fs::path& folder() {
    static const fs::path dir = [] {
        const fs::path d = fs::temp_directory_path() / ("recovery_fuzz-" + std::to_string(getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

// The bytes of a recording left behind by a process that died.
const Bytes& whole_journal() {
    static const Bytes bytes = [] {
        const fs::path dir = folder() / "made";
        fs::create_directories(dir);
        FrameStore store;
        check(store.Open(dir), "the spill file opens");
        store.set_capture_rect({10, 20, 50, 50});
        store.set_timer_interval(100);
        for (int i = 1; i <= 6; ++i) {
            auto image =
                std::make_shared<const Bytes>(static_cast<std::size_t>(20 + 7 * i), static_cast<std::uint8_t>(i));
            store.Append(image, info_of(static_cast<std::int16_t>(10 * i)), i > 2);
        }
        store.SetLastDelay(77);
        const std::int32_t kept[] = {1, 3, 4, 6};
        const gifanim::FrameInfo infos[] = {info_of(11), info_of(33), info_of(44), info_of(66)};
        store.Keep(kept, infos);
        store.Append(std::make_shared<const Bytes>(50, std::uint8_t{9}), info_of(90), true);
        const fs::path path = store.DiskFrames().path();
        store.Release();
        Bytes b = read_file(path);
        fs::remove_all(dir);
        check(!b.empty(), "a journal was made");
        return b;
    }();
    return bytes;
}

// The input's edits of the journal, or the input itself.
Bytes damaged(std::span<const std::uint8_t> in) {
    if (!in.empty() && in[0] % 8 == 0) return Bytes(in.begin() + 1, in.end());
    Bytes b = whole_journal();
    for (std::size_t k = 1; k + 3 < in.size() && !b.empty(); k += 4) {
        const std::size_t at = (static_cast<std::size_t>(in[k + 1]) << 8 | in[k + 2]) % b.size();
        switch (in[k] % 4) {
            case 0: b.resize(at); break;
            case 1: b[at] = in[k + 3]; break;
            case 2: b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), in[k + 3] % 16, in[k + 3]); break;
            default: b[at] ^= static_cast<std::uint8_t>(1u << (in[k + 3] % 8)); break;
        }
    }
    return b;
}

void check_store(const FrameStore& store, std::uint64_t file_size) {
    check(store.count() >= 1, "an adopted recording holds frames");
    check(static_cast<std::size_t>(store.count()) == store.Infos().size(), "as many records as frames");
    const gifanim::capture::FrameStoreSnapshot frames = store.Snapshot();
    check(frames.count() == static_cast<std::size_t>(store.count()), "the snapshot's frames");
    for (std::size_t i = 1; i <= frames.count(); ++i) {
        check(frames.ImageSize(i) <= file_size, "an image within the file");
        const gifanim::capture::FrameImage image = frames.FrameAt(i);
        if (image) check(image->size() == frames.ImageSize(i), "an image of the size its index gives");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes file = damaged(std::span<const std::uint8_t>(data, size));
    const fs::path path = folder() / "0000beef.tmp";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    }
    // As the store makes its files: a file others may change is never taken.
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
    // The listing deletes a journal that holds no frame or was left half built.
    const std::vector<gifanim::capture::journal::LeftRecording> left =
        gifanim::capture::journal::find_left_recordings(folder());
    check(left.size() <= 1, "one file, one recording at most");
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        check(left.empty(), "a recording listed is kept");
        return 0;
    }
    FrameStore store;
    const bool adopted = store.Adopt(path);
    if (!left.empty()) {
        check(left[0].frames >= 1, "a listed recording holds frames");
        check(adopted, "a listed recording is adopted");
        check(static_cast<std::size_t>(store.count()) == left[0].frames, "the listing's frames are adopted");
    }
    if (adopted) {
        check_store(store, file.size());
        store.Close();
    }
    fs::remove(path, ec);
    return 0;
}
