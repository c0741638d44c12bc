#pragma once
// The records shared by the maker and the reader: one for the whole animation, one per frame.
#include <cstdint>
#include <string>

namespace gifanim {

// Booleans are 32-bit values, nonzero meaning true.
using Bool32 = std::int32_t;

// What is done with a frame when its time is over. Only the lowest three bits reach the file.
namespace DisposalMethod {
inline constexpr std::uint8_t 没有定义 = 0;  // no disposal specified
inline constexpr std::uint8_t 离开 = 1;      // leave the frame in place
inline constexpr std::uint8_t 恢复背景 = 2;  // restore to the background
inline constexpr std::uint8_t 恢复前景 = 3;  // restore what was there before
}  // namespace DisposalMethod

struct AnimationInfo {
    std::int16_t Width = 0;  // logical screen width; 0 takes the first frame's width
    std::int16_t Depth = 0;  // logical screen height; 0 takes the first frame's height
    Bool32 LOOP = 1;         // write the looping extension (animations of two or more frames)
    std::int16_t LoopCount = 0;  // repetitions; 0 is endless
    std::uint8_t BgColorIndex = 0;
    std::string exposition;  // comment of the whole animation
    std::int32_t FrameCount = 0;
    std::int16_t ColorNum = 0;  // global palette size, 0 = none
    Bool32 Interlace = 0;
};

struct FrameInfo {
    std::int16_t DelayTime = 60;  // 1/100 s
    std::int16_t Left = 0;
    std::int16_t Top = 0;
    std::uint8_t DisposalMethod = 0;
    Bool32 Transparency = 0;  // only the lowest bit counts
    std::uint8_t TransparencyIndex = 0;
    std::int16_t Width = 0;
    std::int16_t Depth = 0;
    std::string exposition;  // comment of this frame
    std::int16_t ColorNum = 0;  // local palette size, 0 = none
    Bool32 Dither = 0;        // ordered dither instead of the per-frame popularity palette
};

}  // namespace gifanim
