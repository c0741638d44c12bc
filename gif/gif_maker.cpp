#include "gif/gif_maker.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "gif/colour_reduction.h"
#include "gif/failure.h"
#include "gif/gif_writer.h"
#include "gif/lzw_encoder.h"
#include "gif/picture_loader.h"
#include "platform/file.h"
#include "platform/picture.h"

namespace gifanim {

namespace {

// A text field as the records hold it: up to the first NUL, at most max bytes.
std::string text_field(const std::string& s, std::size_t max) {
    return s.substr(0, std::min(s.find('\0'), max));
}

// Runs one task at a time on a thread of its own, so that a frame is reduced and compressed while
// the caller decodes the next one. Without a thread the task runs at once on the caller's.
class BackgroundTask {
public:
    ~BackgroundTask() {
        if (!thread_.joinable()) return;
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    // The task must not throw.
    void run(void (*task)(void*), void* arg) {
        wait();
        if (!thread_.joinable()) {
            try {
                thread_ = std::thread([this] { loop(); });
            } catch (...) {
                task(arg);
                return;
            }
        }
        {
            std::lock_guard lock(mutex_);
            task_ = task;
            arg_ = arg;
        }
        wake_.notify_all();
    }

    void wait() {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return task_ == nullptr; });
    }

private:
    void loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stop_ || task_ != nullptr; });
            if (stop_) return;
            lock.unlock();
            task_(arg_);
            lock.lock();
            task_ = nullptr;
            done_.notify_all();
        }
    }

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    void (*task_)(void*) = nullptr;
    void* arg_ = nullptr;
    bool stop_ = false;
};

}  // namespace

struct GifMaker::State {
    std::string error;
    AnimationSettings settings;
    std::vector<FrameRecord> records;
    std::vector<EncodedFrame> frames;  // finished frames; the last record may still be in `job`
    platform::Dib24 decoded;           // the caller's side: the picture being decoded

    // The frame being reduced and compressed in the background, and its scratch. The caller's side
    // touches these only while no task runs.
    struct Job {
        platform::Dib24 picture;
        bool dither = false;
        bool interlace = false;
        EncodedFrame frame;
        IndexedImage indexed;
        std::vector<std::uint16_t> bins;
        LzwEncoder encoder;
    } job;
    bool pending = false;
    BackgroundTask worker;  // last: stops before the job it works on goes away

    // Every allocation was made beforehand, so nothing here can fail.
    static void convert(void* arg) {
        Job& job = *static_cast<Job*>(arg);
        if (job.dither) {
            dither_reduce(job.picture, job.indexed);
        } else {
            popularity_reduce(job.picture, job.indexed, job.bins);
        }
        job.frame.palette = job.indexed.palette;
        job.encoder.encode(job.indexed.indices.data(), job.indexed.width, job.indexed.height, job.indexed.width, 8,
                           job.interlace, job.frame.data);
        job.frame.data.shrink_to_fit();
    }

    // Waits for the background frame and appends it to the finished ones (room was reserved).
    void finish_pending() {
        worker.wait();
        if (!pending) return;
        frames.push_back(std::move(job.frame));
        job.frame = EncodedFrame{};
        pending = false;
    }
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
    st.finish_pending();
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
        platform::Dib24& picture = st.decoded;
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
            switch (decode_picture(data, picture)) {
                case platform::LoadResult::ok: break;
                case platform::LoadResult::undecodable: fail("读入图片文件失败");
                case platform::LoadResult::too_large: fail("图片尺寸超出GIF的范围");
                case platform::LoadResult::implausible: fail("图片声明的尺寸远超其数据所能填满的大小");
            }
        }

        // The previous frame is done; its scratch and the room for this frame are allocated here,
        // so that a shortage is reported by this call and the background work cannot fail.
        st.finish_pending();
        State::Job& job = st.job;
        const std::size_t pixels = static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height);
        try {
            job.indexed.indices.reserve(pixels);
            if (info.Dither == 0) job.bins.reserve(pixels);
            job.encoder.reserve(pixels);
            job.frame.data.reserve(LzwEncoder::max_data_size(pixels));
            if (st.frames.capacity() < st.frames.size() + 1) st.frames.reserve(2 * st.frames.size() + 1);
        } catch (const std::bad_alloc&) {
            fail("为位图分配内存失败");
        }
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

        std::swap(job.picture, picture);
        job.dither = info.Dither != 0;
        job.interlace = st.settings.interlace;
        job.frame.width = static_cast<std::uint16_t>(job.picture.width);
        job.frame.height = static_cast<std::uint16_t>(job.picture.height);
        if (st.records.size() == 1) {
            if (st.settings.width == 0) st.settings.width = job.frame.width;
            if (st.settings.height == 0) st.settings.height = job.frame.height;
        }
        st.pending = true;
        st.worker.run(&State::convert, &job);
        return true;
    } catch (...) {
        st.error = current_error_text();
    }
    return false;
}

bool GifMaker::SaveGif(const std::filesystem::path& path) {
    if (!state_) return false;
    State& st = *state_;
    st.finish_pending();
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
    } catch (...) {
        st.error = current_error_text();
    }
    return false;
}

std::string GifMaker::GetError() const { return state_ ? state_->error : std::string("对象还未创建"); }

int GifMaker::FrameCount() const { return state_ ? static_cast<int>(state_->records.size()) : 0; }

}  // namespace gifanim
