#pragma once
// Shared set-up of the benchmark programs: the corpus, decoded frames, and giflib as peer and oracle.
#include <gif_lib.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "gif/colour_reduction.h"
#include "platform/picture.h"

namespace gifanim::bench {

// A folder of scratch files, removed with everything in it when this goes (a global one also
// when the program ends through die()).
struct ScratchFolder {
    std::filesystem::path path;
    ScratchFolder() = default;
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder();
};

double seconds(std::uint64_t us);
double mib(double bytes);
// A line of /proc/self/status in KiB ("VmHWM", "VmRSS"), or -1.
long status_kib(const char* key);
// Starts the peak RSS (VmHWM) afresh from the current RSS; false where the kernel does not allow it.
bool reset_peak_rss();

// Prints the message and ends the program: a benchmark without its inputs has nothing to measure.
[[noreturn]] void die(const std::string& message);

// The corpus folder: $GIFANIM_CORPUS if set, otherwise corpus/ in the build tree. Dies when the
// folder holds no complete corpus.
std::filesystem::path corpus_dir();

std::vector<std::uint8_t> read_file(const std::filesystem::path& path);
platform::Dib24 load(const std::filesystem::path& path);

// seq720/jpg/NNN.jpg
std::filesystem::path seq720_jpeg(const std::filesystem::path& corpus, int frame);

// A complete GIF of one frame with a 256-entry global table, written by giflib into memory.
// `out` keeps its capacity between calls.
void giflib_encode(const IndexedImage& image, std::vector<std::uint8_t>& out);

// A complete GIF of one frame around image data from LzwEncoder (minimum code size and sub-blocks).
std::vector<std::uint8_t> wrap_image_data(const IndexedImage& image, std::span<const std::uint8_t> data);

// The indices of the first image of a GIF, decoded by giflib. Dies when giflib refuses the stream.
std::vector<std::uint8_t> giflib_decode(std::span<const std::uint8_t> gif);

// giflib input over bytes in memory: DGifOpen(&input, read_input, &error).
struct MemoryInput {
    std::span<const std::uint8_t> bytes;
    std::size_t pos = 0;
};
int read_input(GifFileType* gif, GifByteType* data, int len);

}  // namespace gifanim::bench
