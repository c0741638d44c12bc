#pragma once
// Decodes a GIF with giflib, an independent decoder, to judge what our writer wrote.
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace gifanim::test {

struct OracleFrame {
    int left = 0, top = 0, width = 0, height = 0;
    bool interlaced = false;
    std::vector<std::uint8_t> local_palette;  // red, green, blue; empty when absent
    std::vector<std::uint8_t> pixels;         // top-down, width per row, de-interlaced
    bool has_control = false;
    int disposal = 0, delay = 0, transparent_index = -1;
    std::vector<std::string> comments;  // comment extensions before the image
};

struct OracleGif {
    int width = 0, height = 0, background = 0;
    std::vector<std::uint8_t> global_palette;
    std::vector<OracleFrame> frames;
    bool has_loop = false;
    int loop_count = -1;
    std::vector<std::string> trailing_comments;
};

// Fails the calling test (ADD_FAILURE) and returns an empty result when giflib rejects the file.
OracleGif oracle_decode(const std::filesystem::path& path);

}  // namespace gifanim::test
