#include "gif/gif_maker.h"

#include <algorithm>
#include <new>
#include <thread>

#include "gif/colour_reduction.h"
#include "gif/failure.h"
#include "gif/gif_writer.h"
#include "gif/held_frames.h"
#include "gif/lzw_encoder.h"
#include "gif/optimizing_pipeline.h"
#include "gif/picture_loader.h"
#include "gif/worker_pool.h"
#include "platform/file.h"
#include "platform/picture.h"

namespace gifanim {

namespace {

// A text field as the records hold it: up to the first NUL, at most max bytes.
std::string text_field(const std::string& s, std::size_t max) {
    return s.substr(0, std::min(s.find('\0'), max));
}

// Bytes of scratch a slot may keep across Reset: enough for small frames, so that a maker reused
// for little animations does not allocate anew each time, while the buffers of a large recording
// go back to the system once it is done.
constexpr std::size_t kKeptScratch = std::size_t{4} << 20;

// The largest canvas the optimizing mode takes: 2^26 pixels, an 8K screen's size.
constexpr std::size_t kLargestOptimisedCanvas = std::size_t{1} << 26;

// Whether the path names a device, a pipe or the like: something there is nothing to rename over.
bool is_special(const std::filesystem::path& path) {
    std::error_code ec;
    const auto type = std::filesystem::status(path, ec).type();
    return type != std::filesystem::file_type::not_found && type != std::filesystem::file_type::regular && !ec;
}

// Writes to a device or a pipe as it is, to anything else through a replacement file, so that a
// failed save leaves an existing file as it was.
template <class Write>
void write_to(const std::filesystem::path& path, Write&& write) {
    if (is_special(path)) {
        platform::File file = platform::File::create(path);
        write(file);
        file.close();
        return;
    }
    platform::ReplacementFile file(path);
    file.file().bypass_cache();
    write(file.file());
    file.commit();
}

void check_decoded(platform::LoadResult result) {
    switch (result) {
        case platform::LoadResult::ok: return;
        case platform::LoadResult::undecodable: fail("读入图片文件失败");
        case platform::LoadResult::too_large: fail("图片尺寸超出GIF的范围");
        case platform::LoadResult::implausible: fail("图片声明的尺寸远超其数据所能填满的大小");
    }
}

// A frame's picture into `out`: the image's bytes decoded, or the picture given taken over in
// exchange for out's buffer. Throws Failure.
void take_picture(std::span<const std::uint8_t> data, platform::Dib24* decoded, platform::Dib24& out) {
    if (!decoded) return check_decoded(decode_picture(data, out));
    const platform::Dib24& p = *decoded;
    check_decoded(platform::check_picture_size(p.width, p.height));
    if (!p.bits || p.stride != platform::Dib24::stride_for(p.width) ||
        p.capacity < p.stride * static_cast<std::size_t>(p.height) + platform::Dib24::kSlack) {
        check_decoded(platform::LoadResult::undecodable);
    }
    std::swap(out, *decoded);
}

// The threads a frame is worked with: those asked for, or every core when none were.
unsigned threads_for(unsigned asked) {
    return asked != 0 ? asked : std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace

// One frame on its way from decoded picture to compressed data, with all the scratch that takes.
// The caller's thread decodes into `picture` and reserves every buffer before handing the slot to a
// worker, so the work on the worker's side cannot fail.
struct FrameSlot {
    platform::Dib24 picture;
    bool dither = false;
    bool interlace = false;
    EncodedFrame frame;
    IndexedImage indexed;
    Unset<std::uint16_t> bins;
    std::unique_ptr<LzwEncoder> encoder;
    std::vector<std::uint8_t> exact;
    bool exact_ready = false;
    bool held = true;  // the frame is to be held, not written at once

    void convert() {
        const std::uint8_t* indices = nullptr;
        if (dither) {
            dither_reduce(picture, indexed);
            frame.palette = indexed.palette;
            indices = indexed.indices.data();
        } else {
            indices = popularity_reduce_in_place(picture, frame.palette, bins);
        }
        encoder->encode(indices, picture.width, picture.height, picture.width, 8, interlace, frame.data);
        // The data at its exact size, copied here rather than on the caller's thread, which decodes
        // the next frames meanwhile. Without memory for the copy the frame keeps the large buffer;
        // a frame that goes straight to the file needs none.
        exact_ready = false;
        if (!held) return;
        try {
            exact.assign(frame.data.begin(), frame.data.end());
            exact_ready = true;
        } catch (...) {
            exact_ready = false;
        }
    }

    std::size_t scratch_bytes() const {
        return picture.capacity + indexed.indices.capacity() + 2 * bins.capacity() + frame.data.capacity();
    }
};

struct GifMaker::State {
    std::string error;
    AnimationSettings settings;
    std::vector<FrameRecord> records;
    HeldFrames<EncodedFrame> frames;               // finished frames; the last records may still be in flight
    Optimization optimization;                     // as it was at Create or Reset
    std::unique_ptr<OptimizingPipeline> pipeline;  // the optimizing mode's frames, from the first one on
    bool lost_frame = false;                       // a finished frame could not be held

    // The frames on their way to the file beside the target (see StreamTo). In the plain mode the
    // first frame waits until a second one is added (a single frame is written as a still
    // picture); in the optimizing mode each placed frame waits for the next, which settles its
    // delay.
    struct Stream {
        std::filesystem::path target;  // empty: the frames are held
        std::unique_ptr<platform::ReplacementFile> file;
        std::unique_ptr<AnimationStream> writer;
        std::unique_ptr<PlacedStream> placed;
        std::size_t finished = 0;  // plain frames finished, and so written or waiting
        EncodedFrame first;
        PlacedFrame waiting;
        bool saved = false;  // put in the target's place, or failed at that: its frames are gone
    } stream;
    bool streaming() const { return !stream.target.empty(); }

    // The file beside the target, made now; false when there is none to be had (the target is a
    // device, or the folder takes no file), and the frames are then held from here on.
    bool open_stream() {
        if (!is_special(stream.target)) {
            try {
                stream.file = std::make_unique<platform::ReplacementFile>(stream.target);
                stream.file->file().bypass_cache();
                return true;
            } catch (const platform::FileError&) {
            }
        }
        stream.target.clear();
        return false;
    }

    // A placed frame to the stream (the pipeline's sink); false when it is to be held instead.
    bool stream_placed(PlacedFrame& frame, const PlacedRecord* before) {
        if (!streaming()) return false;
        if (!before) {
            stream.waiting = std::move(frame);
            return true;
        }
        if (!stream.file) {
            if (!open_stream()) {
                pipeline->frames().push(std::move(stream.waiting));
                return false;
            }
            stream.placed = std::make_unique<PlacedStream>(stream.file->file(), settings);
        }
        stream.placed->add(*before, stream.waiting);
        stream.waiting = std::move(frame);
        return true;
    }

    // A finished frame to the stream; false when it is to be held instead (not streaming, or no
    // file could be made beside the target, and then the frame waiting with it is held first).
    bool stream_frame(const EncodedFrame& done) {
        if (!streaming()) return false;
        const std::size_t index = stream.finished;
        if (!stream.file && index == 0 && records.size() < 2) {
            stream.first = done;
            stream.finished = 1;
            return true;
        }
        if (!stream.file) {
            if (!open_stream()) {
                if (index == 1) frames.push(std::move(stream.first));
                return false;
            }
            stream.writer = std::make_unique<AnimationStream>(stream.file->file(), settings);
            if (index == 1) stream.writer->add(records[0], stream.first);
            stream.first = EncodedFrame{};
        }
        stream.writer->add(records[index], done);
        stream.finished = index + 1;
        return true;
    }

    // SaveGif while streaming: the last frames, the end, and the file in the target's place.
    // Throws what a frame or the file failed with.
    void save_streamed(const std::filesystem::path* path) {
        check_stream_save(path);
        try {
            while (!in_flight.empty() && streaming()) finish_oldest(true);
            // No file could be made beside the target: the frames are held after all.
            if (!streaming()) return;
            stream.saved = true;
            if (!stream.file) {
                write_to(*path, [&](platform::File& file) {
                    write_gif(file, settings, records, std::span<const EncodedFrame>(&stream.first, 1));
                });
                return;
            }
            stream.writer->finish();
            stream.file->commit();
        } catch (...) {
            drop_stream();
            throw;
        }
    }

    // A save while streaming must name the target (a file, not memory), once.
    void check_stream_save(const std::filesystem::path* path) const {
        if (!path || *path != stream.target) fail("只能保存到开始时指定的文件");
        if (stream.saved) fail("帧已经写入文件");
    }

    // After a failed save: the frames cannot be written whole any more, and the file beside the
    // target goes now.
    void drop_stream() {
        stream.saved = true;
        stream.writer.reset();
        stream.placed.reset();
        stream.file.reset();
    }

    // Frames in flight, oldest first, and the slots free for the next frame. The pool goes first
    // when the state goes, so no worker touches a slot after it is gone.
    std::vector<std::unique_ptr<FrameSlot>> slots;
    std::vector<FrameSlot*> in_flight;
    std::vector<FrameSlot*> free_slots;
    std::unique_ptr<WorkerPool<FrameSlot>> pool;
    unsigned pool_threads = 0;
    std::size_t max_slots = 0;

    // Takes the oldest frame in flight once it is done and appends it to the finished ones (room
    // was reserved when it was added). The frame takes its data at its exact size when there was
    // memory for that copy, so that the slot keeps its large buffer for the next frame.
    void finish_oldest(bool help = false) {
        // A frame that could not be held is gone: the animation can no longer be written whole.
        if (lost_frame) fail("写入临时文件失败");
        FrameSlot* slot = in_flight.front();
        pool->wait(*slot, help);
        in_flight.erase(in_flight.begin());
        try {
            if (stream_frame(slot->frame)) {
                slot->frame.data.clear();  // the slot keeps the buffer for its next frame
                free_slots.push_back(slot);
                return;
            }
        } catch (...) {
            free_slots.push_back(slot);
            lost_frame = true;
            throw;
        }
        EncodedFrame done;
        done.width = slot->frame.width;
        done.height = slot->frame.height;
        done.palette = slot->frame.palette;
        if (slot->exact_ready) {
            done.data = std::move(slot->exact);
            slot->frame.data.clear();
        } else {
            done.data = std::move(slot->frame.data);
        }
        slot->exact = {};
        free_slots.push_back(slot);
        try {
            frames.push(std::move(done));
        } catch (...) {
            lost_frame = true;
            throw;
        }
    }

    // A slot for the next frame: a free one, a new one while there are fewer than the pool can
    // keep busy, or else the oldest in flight once it is done. Throws std::bad_alloc.
    FrameSlot& take_slot(unsigned threads) {
        if (pool && pool_threads != threads && in_flight.empty()) {
            pool.reset();
            free_slots.clear();
            slots.clear();
        }
        if (!pool) {
            // Four slots more than threads: the caller decodes ahead while every thread works, so
            // that neither waits for the other when some frames take longer than the next (with
            // two, an export of 1080p frames kept two cores busy 6 % less of the time).
            max_slots = std::size_t{threads} + 4;
            slots.reserve(max_slots);
            in_flight.reserve(max_slots);
            free_slots.reserve(max_slots);
            pool = std::make_unique<WorkerPool<FrameSlot>>(threads, max_slots, [](FrameSlot& s) { s.convert(); });
            pool_threads = threads;
        }
        if (free_slots.empty() && slots.size() == max_slots) finish_oldest();
        if (free_slots.empty()) {
            slots.push_back(std::make_unique<FrameSlot>());
            free_slots.push_back(slots.back().get());
        }
        FrameSlot* slot = free_slots.back();
        free_slots.pop_back();
        return *slot;
    }

    // The optimizing mode's AddFrame after the file was read: the picture is decoded into the
    // pipeline's next job and handed over.
    void add_optimised(const FrameInfo& info, std::span<const std::uint8_t> data, platform::Dib24* decoded,
                       unsigned threads, bool shown_only = false) {
        if (!pipeline) {
            try {
                pipeline = std::make_unique<OptimizingPipeline>(optimization.quality, settings.interlace, threads,
                                                                frames.budget());
                if (streaming()) {
                    pipeline->set_sink(
                        [this](PlacedFrame& frame, const PlacedRecord* before) { return stream_placed(frame, before); });
                }
            } catch (const std::bad_alloc&) {
                fail("为位图分配内存失败");
            }
        }
        OptimizingPipeline::Job& job = pipeline->take();
        std::string comment;
        try {
            take_picture(data, decoded, job.picture);
            if (shown_only) {
                pipeline->submit_shown(job, info.Left, info.Top);
                return;
            }
            FrameRecord record;
            record.delay = info.DelayTime;
            record.comment = text_field(info.exposition, 255);
            comment = record.comment;
            records.push_back(std::move(record));
        } catch (...) {
            pipeline->give_back(job);
            throw;
        }
        if (records.size() == 1) {
            if (settings.width == 0) settings.width = static_cast<std::uint16_t>(job.picture.width);
            if (settings.height == 0) settings.height = static_cast<std::uint16_t>(job.picture.height);
            // The optimizer keeps a few pictures of the whole canvas: a logical screen of many
            // times any picture's size is refused before they are made.
            if (std::size_t{settings.width} * settings.height > kLargestOptimisedCanvas) {
                records.pop_back();
                pipeline->give_back(job);
                fail("图片尺寸超出GIF的范围");
            }
            pipeline->set_canvas(settings.width, settings.height);
        }
        pipeline->submit(job, info.Left, info.Top, static_cast<std::uint16_t>(info.DelayTime), std::move(comment));
    }

    // Empties `memory` and gives it room for the GIF of frames that take `frames` bytes, so that it
    // is written without a copy as it grows.
    void reserve_for(std::vector<std::uint8_t>& memory, std::size_t frames) const {
        memory.clear();
        // The header and tables, and per frame its extensions and descriptor, come to less.
        memory.reserve(frames + 1024 + 512 * records.size());
    }

    // The optimizing mode's SaveGif: the last frames are placed, then everything is written (into
    // `memory` when given).
    bool save_optimised(const std::filesystem::path* path, std::vector<std::uint8_t>* memory) {
        try {
            const bool streamed = streaming();
            if (streamed) check_stream_save(path);
            try {
                pipeline->finish();
                if (streaming()) {
                    stream.saved = true;
                    if (stream.file) {
                        stream.placed->add(pipeline->records().back(), stream.waiting);
                        stream.placed->finish();
                        stream.file->commit();
                        return true;
                    }
                    // A single placed frame is written as frames are without a stream.
                    pipeline->frames().push(std::move(stream.waiting));
                }
            } catch (...) {
                if (streamed) drop_stream();
                throw;
            }
            const auto frame_at = [&](std::size_t i) -> const PlacedFrame& { return pipeline->frames().at(i); };
            if (memory) {
                reserve_for(*memory, pipeline->frames().bytes());
                write_placed_gif(*memory, settings, pipeline->records(), frame_at);
            } else {
                write_to(*path, [&](platform::File& file) {
                    write_placed_gif(file, settings, pipeline->records(), frame_at);
                });
            }
            return true;
        } catch (...) {
            error = current_error_text();
        }
        return false;
    }

    // Gives back the slot a failed AddFrame took.
    void return_slot(FrameSlot& slot) { free_slots.push_back(&slot); }

    // Waits for the frames in flight and drops them.
    void drop_in_flight() {
        for (FrameSlot* slot : in_flight) {
            pool->wait(*slot, true);
            free_slots.push_back(slot);
        }
        in_flight.clear();
    }

    // Drops the scratch of a large animation; small scratch and the threads stay.
    void release_scratch() {
        drop_in_flight();
        std::size_t bytes = 0;
        for (const auto& s : slots) bytes += s->scratch_bytes();
        if (bytes <= kKeptScratch) return;
        free_slots.clear();
        slots.clear();
    }
};

GifMaker::GifMaker() = default;
GifMaker::~GifMaker() = default;

void GifMaker::SetThreads(unsigned threads) { threads_ = threads; }

void GifMaker::SetOptimization(const Optimization& optimization) {
    optimization_ = optimization;
    optimization_.quality = std::clamp(optimization.quality, 1, 100);
}

void GifMaker::SetMemoryBudget(std::size_t bytes) { memory_budget_ = bytes; }

void GifMaker::StreamTo(std::filesystem::path target) { stream_target_ = std::move(target); }

bool GifMaker::Create(const AnimationInfo& info) {
    if (state_) {
        Reset();
    } else {
        try {
            state_ = std::make_unique<State>();
        } catch (...) {
            return false;  // not created: GetError answers for a maker that does not exist
        }
        state_->optimization = optimization_;
        state_->frames.set_budget(memory_budget_);
        state_->stream.target = stream_target_;
    }
    AnimationSettings& s = state_->settings;
    s.width = static_cast<std::uint16_t>(info.Width);
    s.height = static_cast<std::uint16_t>(info.Depth);
    s.loop = info.LOOP != 0;
    s.loop_count = info.LoopCount;
    s.interlace = info.Interlace != 0;
    try {
        s.comment = text_field(info.exposition, 255);
    } catch (...) {
        s.comment.clear();
        set_error(state_->error, "内存不足");
        return false;
    }
    return true;
}

void GifMaker::Clear() { state_.reset(); }

void GifMaker::Reset() {
    if (!state_) return;
    State& st = *state_;
    st.release_scratch();
    st.records = {};
    st.frames.clear();
    st.lost_frame = false;
    st.stream = {};
    st.stream.target = stream_target_;
    st.pipeline.reset();
    st.optimization = optimization_;
    st.frames.set_budget(memory_budget_);
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
            set_error(st.error, "没有指定载入文件路径和图片数据");
            return false;
        }
        if (data.size() < 54) {
            set_error(st.error, "不是有效的图片数据");
            return false;
        }
        return add(info, data, nullptr);
    }
    std::vector<std::uint8_t> contents;
    try {
        platform::File file = platform::File::open_read(path);
        contents = read_contents(file, file.size());
    } catch (...) {
        st.error = current_error_text();
        return false;
    }
    return add(info, contents, nullptr, &contents);
}

bool GifMaker::AddFrame(const FrameInfo& info, platform::Dib24& picture) {
    return state_ && add(info, {}, &picture);
}

bool GifMaker::add(const FrameInfo& info, std::span<const std::uint8_t> data, platform::Dib24* decoded,
                   std::vector<std::uint8_t>* read) {
    State& st = *state_;
    st.error.clear();
    FrameSlot* taken = nullptr;
    try {
        const unsigned threads = threads_for(threads_);
        if (st.optimization.enabled) {
            st.add_optimised(info, data, decoded, threads);
            return true;
        }
        try {
            taken = &st.take_slot(threads);
        } catch (const std::bad_alloc&) {
            fail("为位图分配内存失败");
        }
        FrameSlot& slot = *taken;
        take_picture(data, decoded, slot.picture);
        if (read) *read = {};

        // Every buffer the frame needs on its way is allocated here, so that a shortage is reported
        // by this call and the work on a worker's thread cannot fail.
        const std::size_t pixels =
            static_cast<std::size_t>(slot.picture.width) * static_cast<std::size_t>(slot.picture.height);
        try {
            if (!slot.encoder) slot.encoder = std::make_unique<LzwEncoder>();
            if (info.Dither == 0) {
                slot.bins.reserve(pixels);
            } else {
                slot.indexed.indices.reserve(pixels);
            }
            slot.encoder->reserve(pixels);
            slot.frame.data.clear();
            slot.frame.data.reserve(LzwEncoder::max_data_size(pixels));
            st.frames.reserve(st.frames.size() + st.in_flight.size() + 1);
        } catch (const std::bad_alloc&) {
            fail("为位图分配内存失败");
        }
        FrameRecord record;
        record.delay = info.DelayTime;
        record.left = info.Left;
        record.top = info.Top;
        record.disposal = info.DisposalMethod;
        record.transparency = info.Transparency;
        try {
            record.comment = text_field(info.exposition, 255);
            st.records.push_back(std::move(record));
        } catch (const std::bad_alloc&) {
            fail("为帧图片信息分配内存时出错");
        }

        slot.dither = info.Dither != 0;
        slot.interlace = st.settings.interlace;
        slot.held = !st.streaming();
        slot.frame.width = static_cast<std::uint16_t>(slot.picture.width);
        slot.frame.height = static_cast<std::uint16_t>(slot.picture.height);
        if (st.records.size() == 1) {
            if (st.settings.width == 0) st.settings.width = slot.frame.width;
            if (st.settings.height == 0) st.settings.height = slot.frame.height;
        }
        st.in_flight.push_back(&slot);  // room reserved with the slots
        st.pool->submit(slot);
        return true;
    } catch (...) {
        if (taken) st.return_slot(*taken);
        st.error = current_error_text();
    }
    return false;
}

bool GifMaker::SaveGif(const std::filesystem::path& path) {
    return save(&path, nullptr);
}

bool GifMaker::SaveGif(std::vector<std::uint8_t>& out) {
    return save(nullptr, &out);
}

bool GifMaker::save(const std::filesystem::path* path, std::vector<std::uint8_t>* memory) {
    if (!state_) return false;
    State& st = *state_;
    if (st.records.empty()) {
        set_error(st.error, "还没有加入任何图片");
        return false;
    }
    st.error.clear();
    if (st.pipeline) return st.save_optimised(path, memory);
    try {
        if (st.streaming()) {
            st.save_streamed(path);
            if (st.stream.saved) return true;
        }
        // The first frames go to the file while the last ones are still being compressed.
        const auto frame_at = [&st](std::size_t i) -> const EncodedFrame& {
            while (st.frames.size() <= i) st.finish_oldest(true);
            return st.frames.at(i);
        };
        if (memory) {
            while (!st.in_flight.empty()) st.finish_oldest(true);
            st.reserve_for(*memory, st.frames.bytes());
            write_gif(*memory, st.settings, st.records, frame_at);
        } else {
            write_to(*path, [&](platform::File& file) { write_gif(file, st.settings, st.records, frame_at); });
        }
        return true;
    } catch (...) {
        st.error = current_error_text();
    }
    return false;
}

std::string GifMaker::GetError() const {
    try {
        return state_ ? state_->error : std::string("对象还未创建");
    } catch (...) {
        return {};
    }
}

bool GifMaker::AddShownFrame(const FrameInfo& info, std::span<const std::uint8_t> data) {
    if (state_ && data.size() < 54 && state_->optimization.enabled && !state_->records.empty()) {
        set_error(state_->error, "不是有效的图片数据");
        return false;
    }
    return add_shown(info, data, nullptr);
}

bool GifMaker::AddShownFrame(const FrameInfo& info, platform::Dib24& picture) {
    return add_shown(info, {}, &picture);
}

bool GifMaker::add_shown(const FrameInfo& info, std::span<const std::uint8_t> data, platform::Dib24* decoded) {
    if (!state_) return false;
    State& st = *state_;
    if (!st.optimization.enabled) return true;
    if (st.records.empty()) {
        set_error(st.error, "需要先加入一帧");
        return false;
    }
    st.error.clear();
    try {
        const unsigned threads = threads_for(threads_);
        st.add_optimised(info, data, decoded, threads, true);
        return true;
    } catch (...) {
        st.error = current_error_text();
    }
    return false;
}

int GifMaker::FrameCount() const { return state_ ? static_cast<int>(state_->records.size()) : 0; }

}  // namespace gifanim
