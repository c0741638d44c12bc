#include <algorithm>

#include "platform/file.h"
#include "platform/picture.h"
#include "platform/program_dir.h"
#include "platform/system.h"

namespace gifanim::platform {

void Dib24::allocate(int w, int h) {
    width = w;
    height = h;
    stride = stride_for(w);
    const std::size_t needed = stride * static_cast<std::size_t>(h) + kSlack;
    if (needed > capacity) {
        bits.reset();
        capacity = 0;
        bits = std::unique_ptr<std::uint8_t[], BufferDeleter>(
            static_cast<std::uint8_t*>(allocate_buffer(needed, false)), BufferDeleter{needed});
        capacity = needed;
    }
}

void reduce_picture(const Dib24& in, Dib24& out) {
    const int w = (in.width + kReduction - 1) / kReduction, h = (in.height + kReduction - 1) / kReduction;
    out.allocate(std::max(1, w), std::max(1, h));
    for (int y = 0; y < out.height; ++y) {
        std::uint8_t* target = out.row(y);
        for (int x = 0; x < out.width; ++x) {
            unsigned sum[3] = {0, 0, 0}, count = 0;
            for (int sy = y * kReduction; sy < std::min(in.height, (y + 1) * kReduction); ++sy) {
                const std::uint8_t* p = in.row(sy) + 3 * static_cast<std::size_t>(x * kReduction);
                for (int sx = x * kReduction; sx < std::min(in.width, (x + 1) * kReduction); ++sx, p += 3) {
                    for (int c = 0; c < 3; ++c) sum[c] += p[c];
                    ++count;
                }
            }
            for (int c = 0; c < 3; ++c) target[3 * x + c] = static_cast<std::uint8_t>(count ? sum[c] / count : 0);
        }
    }
}

LoadResult check_picture_size(long long width, long long height) {
    if (width <= 0 || height <= 0) return LoadResult::undecodable;
    if (width > 65535 || height > 65535 || width * height > (1ll << 30)) return LoadResult::too_large;
    return LoadResult::ok;
}

LoadResult check_picture_data(long long width, long long height, std::size_t data_bytes, unsigned max_pixels_per_byte) {
    if (const LoadResult r = check_picture_size(width, height); r != LoadResult::ok) return r;
    const long long pixels = width * height;
    if (pixels <= kPlausiblePixels) return LoadResult::ok;
    // Both sides stay far below 2^63: the size check caps pixels at 2^30.
    const unsigned long long most = static_cast<unsigned long long>(data_bytes) * max_pixels_per_byte;
    return static_cast<unsigned long long>(pixels) <= most ? LoadResult::ok : LoadResult::implausible;
}

std::string cut_gbk(std::string text, std::size_t max_bytes) {
    if (text.size() <= max_bytes) return text;
    // Walk characters from the start: a lead byte 0x81..0xFE opens a two-byte character.
    std::size_t keep = 0;
    while (keep < max_bytes) {
        const auto b = static_cast<unsigned char>(text[keep]);
        const std::size_t len = (b >= 0x81 && b <= 0xFE) ? 2 : 1;
        if (keep + len > max_bytes) break;
        keep += len;
    }
    text.resize(keep);
    return text;
}

ReplacementFile::ReplacementFile(std::filesystem::path target)
    : target_(std::move(target)), file_(File::create_beside(target_, temp_)) {}

ReplacementFile::~ReplacementFile() {
    if (committed_) return;
    { File dropped = std::move(file_); }
    remove_file(temp_);
}

void ReplacementFile::commit() {
    file_.commit_over(temp_, target_);
    committed_ = true;
}

void replace_file(const std::filesystem::path& target, std::span<const std::uint8_t> bytes) {
    ReplacementFile file(target);
    file.write(bytes);
    file.commit();
}

}  // namespace gifanim::platform
