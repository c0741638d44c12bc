#pragma once
// A store with a real spill file, some frames in memory and the rest on disk: frame i's image is
// 16 bytes holding i in its first byte, and its record has DelayTime i.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "capture/frame_store.h"

namespace gifanim::test {

inline capture::FrameImage numbered_frame(int i) {
    std::vector<std::uint8_t> bytes(16, 0xEE);
    bytes[0] = static_cast<std::uint8_t>(i);
    return std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
}

// The number frame image `image` holds; -1 for a missing or empty one.
inline int frame_number(const capture::FrameImage& image) {
    return image && !image->empty() ? (*image)[0] : -1;
}

inline FrameInfo numbered_info(int i) {
    FrameInfo info;
    info.DelayTime = static_cast<std::int16_t>(i);
    return info;
}

// Appends frames first..first+memory-1 to memory and the next `disk` to the spill file.
inline void record_frames(capture::FrameStore& store, int memory, int disk, int first = 1) {
    for (int i = first; i < first + memory + disk; ++i) {
        const bool to_disk = i >= first + memory;
        ASSERT_EQ(store.Append(numbered_frame(i), numbered_info(i), to_disk),
                  to_disk ? capture::FrameStore::Stored::disk : capture::FrameStore::Stored::memory);
    }
}

// Every frame of the store by its number, in FrameAt order.
inline std::vector<int> stored_numbers(const capture::FrameStore& store) {
    std::vector<int> out;
    for (std::int32_t i = 1; i <= store.count(); ++i) out.push_back(frame_number(store.FrameAt(i)));
    return out;
}

inline std::vector<int> delays(const std::vector<FrameInfo>& infos) {
    std::vector<int> out;
    for (const FrameInfo& info : infos) out.push_back(info.DelayTime);
    return out;
}

}  // namespace gifanim::test
