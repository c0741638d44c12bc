#pragma once
// Frames of the optimizing mode on their way from decoded picture to placed frame, in two halves
// that each must see the frames one after another: the plan (what changed, and a colour table for
// it) and the drawing (what the viewer needs, against what the frames before left on the screen,
// and its LZW). Each runs on whichever thread is free, the next frame planned while this one is
// drawn, and the caller decodes the one after meanwhile. The bytes do not depend on the number of
// threads.
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gif/frame_optimizer.h"
#include "gif/gif_writer.h"
#include "gif/held_frames.h"
#include "gif/lzw_encoder.h"
#include "platform/picture.h"

namespace gifanim {

class OptimizingPipeline {
public:
    // One frame in the pipeline; the caller decodes into `picture` between take() and submit().
    struct Job {
        platform::Dib24 picture;

    private:
        friend class OptimizingPipeline;
        enum class Stage { free, waiting, planning, planned, drawing, done };
        Stage stage = Stage::free;
        int left = 0;
        int top = 0;
        std::uint16_t delay = 0;
        std::string comment;
        bool stored = false;      // false: merged into the frame before
        bool shown_only = false;  // taken as shown, with no frame written
        // For a stored frame after the first: the record of the stored frame before it, which no
        // later frame can be merged into any more.
        bool has_before = false;
        PlacedRecord before;
        FramePlan plan;
        OptimizedFrame frame;
        PlacedFrame placed;
        std::exception_ptr error;
    };

    // `threads` 1 does everything on the caller's thread; more start that many threads.
    OptimizingPipeline(int quality, bool interlace, unsigned threads, std::size_t memory_budget);
    ~OptimizingPipeline();
    OptimizingPipeline(const OptimizingPipeline&) = delete;
    OptimizingPipeline& operator=(const OptimizingPipeline&) = delete;

    // The canvas the frames are placed on; set before the first submit.
    void set_canvas(int width, int height);

    // A job for the next frame: a free one, or the oldest once it is done. Throws std::bad_alloc,
    // or what an earlier frame failed with.
    Job& take();
    // Hands the job over with the picture decoded into it. Allocates nothing; with one thread the
    // frame is worked here, and what it failed with is thrown.
    void submit(Job& job, int left, int top, std::uint16_t delay, std::string comment);
    // Hands the job over as a picture the viewer is taken to show, exactly, with no frame for it.
    void submit_shown(Job& job, int left, int top);
    // Gives back a job whose picture could not be decoded.
    void give_back(Job& job);

    // Waits until every frame submitted is placed. Throws what a frame failed with.
    void finish();
    // After finish: the records of the placed frames, and the frames.
    const std::vector<PlacedRecord>& records() const { return records_; }
    HeldFrames<PlacedFrame>& frames() { return frames_; }

    // Where each placed frame goes, in order, on the caller's thread, instead of to frames():
    // given the frame and, after the first, the final record of the one before; false leaves the
    // frame to frames(). What it throws fails the frame.
    using Sink = std::function<bool(PlacedFrame& frame, const PlacedRecord* before)>;
    void set_sink(Sink sink) { sink_ = std::move(sink); }

private:
    void hand_over(Job& job, int left, int top, std::uint16_t delay, std::string comment);
    void worker();
    // Runs work(0) ... work(count - 1) on this thread and on any worker free meanwhile.
    void run_parts(std::size_t count, const std::function<void(std::size_t)>& work);
    PartRunner part_runner();
    // Does one part of `batch`, or of the oldest batch with parts left, if there is one; the lock
    // is held on entry and on return.
    struct Batch;
    Batch* open_batch() const;
    bool take_part(std::unique_lock<std::mutex>& lock, Batch* batch = nullptr);
    // The next piece of work under the lock, or null; `draw` says which half.
    Job* pick(bool& draw);
    void start_halves();
    void start_drawer();
    void plan(Job& job);
    void draw(Job& job);
    // The drawn frame as it goes into the file.
    void place(Job& job);
    void run(Job& job, bool draw);
    // Takes the oldest job once it is done; the lock is held on entry and on return.
    void collect_oldest(std::unique_lock<std::mutex>& lock);

    const bool interlace_;
    const std::size_t max_jobs_;
    int width_ = 0;
    int height_ = 0;
    int quality_;
    bool started_ = false;

    // Each half is worked by one job at a time, in the frames' order: the finder plans a frame
    // while the drawer draws the one before.
    ChangeFinder finder_;
    FrameDrawer drawer_;
    std::vector<PlacedRecord> records_;  // the drawer's

    std::mutex mutex_;
    std::condition_variable work_, done_;
    std::vector<std::unique_ptr<Job>> jobs_;
    std::vector<Job*> free_;
    std::vector<Job*> queue_;       // submitted and not yet collected, oldest first
    std::size_t next_to_find_ = 0;  // places in queue_ of the next jobs of each half
    std::size_t next_to_draw_ = 0;
    bool finder_busy_ = false;
    bool drawer_busy_ = false;
    bool broken_ = false;  // a frame failed: what the halves know of the screen is lost
    // The drawer is started on a worker once the first frame is being planned; the first drawing
    // waits for it, and takes what it failed with.
    enum class DrawerStart { none, waiting, running, done };
    DrawerStart drawer_start_ = DrawerStart::none;
    std::exception_ptr drawer_start_error_;
    std::exception_ptr error_;
    bool stop_ = false;
    // The parts each half is running: the half and the free workers take them in turn.
    struct Batch {
        const std::function<void(std::size_t)>* work = nullptr;
        std::size_t count = 0, next = 0, done = 0;
        std::exception_ptr error;
    };
    std::vector<Batch*> batches_;  // oldest first
    std::condition_variable parts_;
    std::vector<std::thread> threads_;

    HeldFrames<PlacedFrame> frames_;  // the caller's thread only
    Sink sink_;
};

}  // namespace gifanim
