#include "gif/gif_maker.h"

#include <new>

#include "gif/colour_reduction.h"
#include "gif/gif_writer.h"
#include "gif/lzw_encoder.h"
#include "platform/file.h"
#include "platform/picture.h"

namespace gifanim {

namespace {

// Failures of the library itself carry this code; any other code is a file-system failure.
constexpr int kLibraryError = 9527;

struct Failure {
    int code;
    std::string text;
};

[[noreturn]] void fail(const char* text) { throw Failure{kLibraryError, text}; }

// A text field as the records hold it: up to the first NUL, at most max bytes.
std::string text_field(const std::string& s, std::size_t max) {
    return s.substr(0, std::min(s.find('\0'), max));
}

}  // namespace

struct GifMaker::State {
    std::string error;
    AnimationSettings settings;
    std::vector<FrameRecord> records;
    std::vector<EncodedFrame> frames;
    // Scratch kept between frames.
    LzwEncoder encoder;
    platform::Dib24 picture;
    IndexedImage indexed;
    std::vector<std::uint16_t> bins;
};

GifMaker::GifMaker() = default;
GifMaker::~GifMaker() = default;

bool GifMaker::Create(const AnimationInfo& info) {
    if (state_) {
        Reset();
    } else {
        state_ = std::make_unique<State>();
    }
    AnimationSettings& s = state_->settings;
    s.width = static_cast<std::uint16_t>(info.Width);
    s.height = static_cast<std::uint16_t>(info.Depth);
    s.loop = info.LOOP != 0;
    s.loop_count = info.LoopCount;
    s.comment = text_field(info.exposition, 255);
    s.interlace = info.Interlace != 0;
    return true;
}

void GifMaker::Clear() { state_.reset(); }

void GifMaker::Reset() {
    if (!state_) return;
    State& st = *state_;
    st.records.clear();
    st.frames.clear();
    const bool interlace = st.settings.interlace;
    st.settings = AnimationSettings{};
    st.settings.interlace = interlace;
}

bool GifMaker::AddFrame(const FrameInfo& info, const std::filesystem::path& path, std::span<const std::uint8_t> data) {
    if (!state_) return false;
    State& st = *state_;
    const bool has_path = !path.empty();
    if (!has_path) {
        if (data.empty()) {
            st.error = "没有指定载入文件路径和图片数据";
            return false;
        }
        if (data.size() < 54) {
            st.error = "不是有效的图片数据";
            return false;
        }
    }
    st.error.clear();
    try {
        platform::Dib24& picture = st.picture;
        {
            std::vector<std::uint8_t> contents;
            if (has_path) {
                platform::File file = platform::File::open_read(path);
                const std::uint64_t size = file.size();
                try {
                    if (size > contents.max_size()) throw std::bad_alloc();
                    contents.resize(static_cast<std::size_t>(size));
                } catch (const std::bad_alloc&) {
                    fail("为读取文件分配内存失败");
                }
                file.read(contents);
                data = contents;
            }
            switch (platform::load_picture(data, picture)) {
                case platform::LoadResult::ok: break;
                case platform::LoadResult::undecodable: fail("读入图片文件失败");
                case platform::LoadResult::too_large: fail("图片尺寸超出GIF的范围");
            }
        }

        EncodedFrame frame;
        try {
            if (info.Dither != 0) {
                dither_reduce(picture, st.indexed);
            } else {
                popularity_reduce(picture, st.indexed, st.bins);
            }
        } catch (const std::bad_alloc&) {
            fail("为位图分配内存失败");
        }
        frame.width = static_cast<std::uint16_t>(st.indexed.width);
        frame.height = static_cast<std::uint16_t>(st.indexed.height);
        frame.palette = st.indexed.palette;
        st.encoder.encode(st.indexed.indices.data(), st.indexed.width, st.indexed.height, st.indexed.width, 8,
                          st.settings.interlace, frame.data);
        frame.data.shrink_to_fit();

        FrameRecord record;
        record.delay = info.DelayTime;
        record.left = info.Left;
        record.top = info.Top;
        record.disposal = info.DisposalMethod;
        record.transparency = info.Transparency;
        record.comment = text_field(info.exposition, 255);
        try {
            st.records.push_back(std::move(record));
        } catch (const std::bad_alloc&) {
            fail("为帧图片信息分配内存时出错");
        }
        try {
            st.frames.push_back(std::move(frame));
        } catch (const std::bad_alloc&) {
            st.records.pop_back();
            fail("为位图分配内存失败");
        }
        if (st.frames.size() == 1) {
            if (st.settings.width == 0) st.settings.width = st.frames.front().width;
            if (st.settings.height == 0) st.settings.height = st.frames.front().height;
        }
        return true;
    } catch (const Failure& f) {
        st.error = f.text;
    } catch (const platform::FileError& e) {
        st.error = e.text.empty() ? "未知错误" : e.text;
    } catch (...) {
        st.error = "未知错误";
    }
    return false;
}

bool GifMaker::SaveGif(const std::filesystem::path& path) {
    if (!state_) return false;
    State& st = *state_;
    if (st.frames.empty()) {
        st.error = "还没有加入任何图片";
        return false;
    }
    st.error.clear();
    try {
        platform::File file = platform::File::create(path);
        write_gif(file, st.settings, st.records, st.frames);
        file.close();
        return true;
    } catch (const platform::FileError& e) {
        st.error = e.text.empty() ? "未知错误" : e.text;
    } catch (...) {
        st.error = "未知错误";
    }
    return false;
}

std::string GifMaker::GetError() const { return state_ ? state_->error : std::string("对象还未创建"); }

int GifMaker::FrameCount() const { return state_ ? static_cast<int>(state_->frames.size()) : 0; }

}  // namespace gifanim
