#include "gif/gif_reader.h"

#include <cstring>
#include <new>
#include <optional>

#include "gif/failure.h"
#include "gif/gif_frame.h"
#include "gif/gif_index.h"
#include "platform/file.h"

namespace gifanim {

namespace {

// 0 for "87a", 1 for "89a", -1 otherwise (letter case ignored).
int version_of(std::span<const std::uint8_t> b) {
    const char a = static_cast<char>(b[5] >= 'A' && b[5] <= 'Z' ? b[5] + 32 : b[5]);
    if (b[3] == '8' && b[4] == '7' && a == 'a') return 0;
    if (b[3] == '8' && b[4] == '9' && a == 'a') return 1;
    return -1;
}

// The signature and version checks; null when they pass.
const char* header_error(std::span<const std::uint8_t> b) {
    if (!is_gif_signature(b)) return "不是GIF图片数据";
    if (version_of(b) < 0) return "GIF图片版本号不正确";
    return nullptr;
}

}  // namespace

struct GifReader::State {
    std::string error;
    std::optional<std::vector<std::uint8_t>> bytes;  // the loaded GIF
    int version = 0;
    GifIndex index;

    std::vector<std::uint8_t>& loaded() {
        if (!bytes) fail("还未载入GIF动画");
        return *bytes;
    }
    // The walked frame n (1-based), or a failure with the frame's text.
    FrameBlocks frame(int n) {
        std::vector<std::uint8_t>& b = loaded();
        if (n < 1 || static_cast<std::size_t>(n) > index.frames.size()) fail("帧序号超出范围");
        const std::optional<FrameBlocks> blocks = walk_frame(b, index.frames[static_cast<std::size_t>(n) - 1]);
        if (!blocks) fail("当前帧已经损坏");
        return *blocks;
    }
    // The colour table a palette method works on: the global one for frame 0, else the local one.
    ColourTable palette_of(int n) {
        std::vector<std::uint8_t>& b = loaded();
        std::optional<ColourTable> table;
        if (n == 0) {
            table = global_table(b);
            if (!table) fail("没有全局调色板");
        } else {
            table = frame(n).local;
            if (!table) fail("没有局部调色板");
        }
        return *table;
    }
    std::size_t palette_entry(int n, std::uint8_t index_in_table) {
        const ColourTable table = palette_of(n);
        // Entries that the loaded bytes do not hold are out of range as well.
        if (index_in_table >= table.entries || table.offset + 3 * (index_in_table + 1u) > loaded().size())
            fail("调色板序号超出范围");
        return table.offset + 3u * index_in_table;
    }
};

GifReader::GifReader() = default;
GifReader::~GifReader() = default;

bool GifReader::Create() {
    state_.reset();
    try {
        state_ = std::make_unique<State>();
    } catch (...) {
        return false;  // not created: GetError answers for a reader that does not exist
    }
    return true;
}

void GifReader::Clear() { state_.reset(); }

std::string GifReader::GetError() const {
    try {
        return state_ ? state_->error : std::string("对象还未创建");
    } catch (...) {
        return {};
    }
}

int GifReader::FrameCount() const { return state_ ? static_cast<int>(state_->index.frames.size()) : 0; }

// Runs a method body on a created reader: clears the error text once `body` has passed its checks
// (the body calls `passed`), and turns failures into the error text and the fallback result.
template <class ReaderState, class Result, class Body>
Result guarded(std::unique_ptr<ReaderState>& state, Result fallback, Body body) {
    if (!state) return fallback;
    try {
        return body(*state);
    } catch (...) {
        state->error = current_error_text();
    }
    return fallback;
}

bool GifReader::LoadGif(const std::filesystem::path& path, std::span<const std::uint8_t> data) {
    return guarded(state_, false, [&](State& st) {
        if (path.empty()) {
            if (data.empty()) fail("没有指定载入文件路径和图片数据");
            if (data.size() < 34) fail("不是有效的GIF图片数据");
            if (const char* e = header_error(data)) fail(e);
            st.index = {};
            st.bytes.reset();
            try {
                st.bytes.emplace(data.begin(), data.end());
            } catch (const std::bad_alloc&) {
                st.bytes.reset();
                fail("为读取文件分配内存失败");
            }
            st.error.clear();
        } else {
            st.error.clear();
            platform::File file = platform::File::open_read(path);
            const std::uint64_t size = file.size();
            if (size < 34) fail("不是有效的GIF图片数据");
            st.index = {};
            st.bytes.reset();
            std::vector<std::uint8_t> contents = read_contents(file, size);
            if (const char* e = header_error(contents)) fail(e);
            st.bytes = std::move(contents);
        }
        st.version = version_of(*st.bytes);
        st.index = build_index(*st.bytes);
        if (st.index.damaged) fail("GIF图片文件已经损坏");
        return true;
    });
}

AnimationInfo GifReader::GetGifInfo() {
    AnimationInfo zero{};
    zero.LOOP = 0;
    return guarded(state_, zero, [&](State& st) {
        const std::vector<std::uint8_t>& b = st.loaded();
        st.error.clear();
        AnimationInfo info = zero;
        info.Width = static_cast<std::int16_t>(read16(b, 6));
        info.Depth = static_cast<std::int16_t>(read16(b, 8));
        if (st.index.loop) {
            info.LOOP = 1;
            info.LoopCount = static_cast<std::int16_t>(read16(b, *st.index.loop + 13));
        }
        info.BgColorIndex = b[11];
        info.exposition = comment_text(b, st.index.comment);
        info.FrameCount = static_cast<std::int32_t>(st.index.frames.size());
        if (const auto table = global_table(b)) info.ColorNum = static_cast<std::int16_t>(table->entries);
        return info;
    });
}

bool GifReader::SetGifInfo(const AnimationInfo& info) {
    return guarded(state_, false, [&](State& st) {
        std::vector<std::uint8_t>& b = st.loaded();
        st.error.clear();
        write16(b, 6, static_cast<std::uint16_t>(info.Width));
        write16(b, 8, static_cast<std::uint16_t>(info.Depth));
        b[11] = info.BgColorIndex;
        if (st.index.loop && info.LOOP != 0) write16(b, *st.index.loop + 13, static_cast<std::uint16_t>(info.LoopCount));
        return true;
    });
}

FrameInfo GifReader::GetFrameInfo(int frame) {
    FrameInfo zero{};
    zero.DelayTime = 0;
    return guarded(state_, zero, [&](State& st) {
        const FrameBlocks f = st.frame(frame);
        const std::vector<std::uint8_t>& b = *st.bytes;
        st.error.clear();
        FrameInfo info = zero;
        if (f.control) {
            const std::size_t g = *f.control;  // 0x21 0xF9 0x04 packed delay(2) index 0x00
            info.DelayTime = static_cast<std::int16_t>(read16(b, g + 4));
            info.Transparency = b[g + 3] & 1;
            info.DisposalMethod = static_cast<std::uint8_t>((b[g + 3] >> 2) & 7);
            info.TransparencyIndex = b[g + 6];
        }
        const std::size_t d = f.descriptor;
        info.Left = static_cast<std::int16_t>(read16(b, d + 1));
        info.Top = static_cast<std::int16_t>(read16(b, d + 3));
        info.Width = static_cast<std::int16_t>(read16(b, d + 5));
        info.Depth = static_cast<std::int16_t>(read16(b, d + 7));
        if (f.local) info.ColorNum = static_cast<std::int16_t>(f.local->entries);
        info.exposition = comment_text(b, f.comment);
        return info;
    });
}

bool GifReader::SetFrameInfo(const FrameInfo& info, int frame) {
    return guarded(state_, false, [&](State& st) {
        const FrameBlocks f = st.frame(frame);
        std::vector<std::uint8_t>& b = *st.bytes;
        st.error.clear();
        if (f.control) {
            const std::size_t g = *f.control;
            write16(b, g + 4, static_cast<std::uint16_t>(info.DelayTime));
            b[g + 3] = static_cast<std::uint8_t>((b[g + 3] & ~0x1Du) | ((info.DisposalMethod & 7u) << 2) |
                                                 (static_cast<unsigned>(info.Transparency) & 1u));
        }
        write16(b, f.descriptor + 1, static_cast<std::uint16_t>(info.Left));
        write16(b, f.descriptor + 3, static_cast<std::uint16_t>(info.Top));
        return true;
    });
}

std::int32_t GifReader::GetPalette(int frame, std::uint8_t index) {
    return guarded(state_, std::int32_t{-1}, [&](State& st) {
        const std::size_t at = st.palette_entry(frame, index);
        const std::vector<std::uint8_t>& b = *st.bytes;
        st.error.clear();
        return static_cast<std::int32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16));
    });
}

bool GifReader::SetPalette(int frame, std::uint8_t index, std::uint32_t colour) {
    return guarded(state_, false, [&](State& st) {
        const std::size_t at = st.palette_entry(frame, index);
        std::vector<std::uint8_t>& b = *st.bytes;
        st.error.clear();
        b[at] = static_cast<std::uint8_t>(colour & 0xFF);
        b[at + 1] = static_cast<std::uint8_t>((colour >> 8) & 0xFF);
        b[at + 2] = static_cast<std::uint8_t>((colour >> 16) & 0xFF);
        return true;
    });
}

std::vector<std::uint8_t> GifReader::GetGifData(int frame) {
    return guarded(state_, std::vector<std::uint8_t>{}, [&](State& st) {
        const std::vector<std::uint8_t>& b = st.loaded();
        if (frame == 0) {
            st.error.clear();
            return b;
        }
        if (frame < 1 || static_cast<std::size_t>(frame) > st.index.frames.size()) fail("帧序号超出范围");
        const std::optional<FrameBlocks> f = walk_frame(b, st.index.frames[static_cast<std::size_t>(frame) - 1]);
        st.error.clear();
        if (!f) return std::vector<std::uint8_t>{};  // a damaged frame: no picture and no text
        return frame_as_bmp(b, *f);
    });
}

bool GifReader::SaveGif(const std::filesystem::path& path) {
    return guarded(state_, false, [&](State& st) {
        const std::vector<std::uint8_t>& b = st.loaded();
        st.error.clear();
        platform::File file = platform::File::create(path);
        file.write(b);
        file.close();
        return true;
    });
}

}  // namespace gifanim
