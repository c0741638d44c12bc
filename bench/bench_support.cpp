#include "bench/bench_support.h"

#include <gif_lib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/file.h"

namespace gifanim::bench {

ScratchFolder::~ScratchFolder() {
    if (path.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

double seconds(std::uint64_t us) {
    return static_cast<double>(us) / 1e6;
}

double mib(double bytes) {
    return bytes / (1024.0 * 1024.0);
}

long status_kib(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(key);
    while (std::getline(in, line)) {
        if (line.compare(0, n, key) == 0 && line.size() > n && line[n] == ':') {
            return std::strtol(line.c_str() + n + 1, nullptr, 10);
        }
    }
    return -1;
}

bool reset_peak_rss() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    out.flush();
    return static_cast<bool>(out);
}

void die(const std::string& message) {
    std::fprintf(stderr, "bench: %s\n", message.c_str());
    std::exit(1);
}

std::filesystem::path corpus_dir() {
    const char* env = std::getenv("GIFANIM_CORPUS");
    const std::filesystem::path dir =
        (env && *env) ? std::filesystem::path(env) : std::filesystem::path(GIFANIM_DEFAULT_CORPUS);
    // make_corpus.sh writes SHA256SUMS last, so its presence means the corpus is complete.
    if (!std::filesystem::exists(dir / "SHA256SUMS"))
        die("no corpus in " + dir.string() +
            "; run scripts/corpus.sh (or bench/run.sh), or set GIFANIM_CORPUS to a generated corpus");
    return dir;
}

std::vector<std::uint8_t> read_file(const std::filesystem::path& path) {
    try {
        platform::File file = platform::File::open_read(path);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.size()));
        file.read(bytes);
        return bytes;
    } catch (const platform::FileError& e) {
        die(path.string() + ": " + e.text);
    }
}

platform::Dib24 load(const std::filesystem::path& path) {
    const std::vector<std::uint8_t> bytes = read_file(path);
    platform::Dib24 picture;
    if (platform::load_picture(bytes, picture) != platform::LoadResult::ok) die(path.string() + ": not decodable");
    return picture;
}

std::filesystem::path seq720_jpeg(const std::filesystem::path& corpus, int frame) {
    char name[16];
    std::snprintf(name, sizeof name, "%03d.jpg", frame);
    return corpus / "seq720" / "jpg" / name;
}

namespace {

int append_output(GifFileType* gif, const GifByteType* data, int len) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
    out->insert(out->end(), data, data + len);
    return len;
}

}  // namespace

int read_input(GifFileType* gif, GifByteType* data, int len) {
    auto* in = static_cast<MemoryInput*>(gif->UserData);
    const std::size_t n = std::min(static_cast<std::size_t>(len), in->bytes.size() - in->pos);
    std::memcpy(data, in->bytes.data() + in->pos, n);
    in->pos += n;
    return static_cast<int>(n);
}

namespace {

void put16(std::vector<std::uint8_t>& out, int v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

}  // namespace

void giflib_encode(const IndexedImage& image, std::vector<std::uint8_t>& out) {
    out.clear();
    GifColorType colours[256];
    for (int i = 0; i < 256; ++i)
        colours[i] = {image.palette[3 * i], image.palette[3 * i + 1], image.palette[3 * i + 2]};
    ColorMapObject* map = GifMakeMapObject(256, colours);
    int error = 0;
    GifFileType* gif = EGifOpen(&out, append_output, &error);
    if (!map || !gif) die("giflib: cannot open an encoder");
    // EGifPutLine masks the pixels in place to the colour depth; at 8 bits that changes nothing.
    auto* pixels = const_cast<GifPixelType*>(image.indices.data());
    if (EGifPutScreenDesc(gif, image.width, image.height, 8, 0, map) != GIF_OK ||
        EGifPutImageDesc(gif, 0, 0, image.width, image.height, false, nullptr) != GIF_OK ||
        EGifPutLine(gif, pixels, image.width * image.height) != GIF_OK)
        die("giflib: encoding failed");
    if (EGifCloseFile(gif, &error) != GIF_OK) die("giflib: closing failed");
    GifFreeMapObject(map);
}

std::vector<std::uint8_t> wrap_image_data(const IndexedImage& image, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a'};
    put16(gif, image.width);
    put16(gif, image.height);
    gif.insert(gif.end(), {0xF7, 0, 0});  // global table of 256 entries, 8 bits per primary
    gif.insert(gif.end(), image.palette.begin(), image.palette.end());
    gif.push_back(0x2C);
    put16(gif, 0);
    put16(gif, 0);
    put16(gif, image.width);
    put16(gif, image.height);
    gif.push_back(0);
    gif.insert(gif.end(), data.begin(), data.end());
    gif.push_back(0x00);
    gif.push_back(0x3B);
    return gif;
}

std::vector<std::uint8_t> giflib_decode(std::span<const std::uint8_t> bytes) {
    MemoryInput in{bytes};
    int error = 0;
    GifFileType* gif = DGifOpen(&in, read_input, &error);
    if (!gif) die(std::string("giflib: ") + GifErrorString(error));
    if (DGifSlurp(gif) != GIF_OK || gif->ImageCount < 1) {
        const std::string text = GifErrorString(gif->Error);
        DGifCloseFile(gif, &error);
        die("giflib: " + text);
    }
    const SavedImage& first = gif->SavedImages[0];
    const auto n = static_cast<std::size_t>(first.ImageDesc.Width) * static_cast<std::size_t>(first.ImageDesc.Height);
    std::vector<std::uint8_t> indices(first.RasterBits, first.RasterBits + n);
    DGifCloseFile(gif, &error);
    return indices;
}

}  // namespace gifanim::bench
