#include "gif/optimizing_pipeline.h"

#include <algorithm>

#include "gif/failure.h"
#include "platform/thread.h"

namespace gifanim {

namespace {

// Throws a copy of what a frame failed with: the same failure is reported to every later call,
// and whoever catches it may take its text.
[[noreturn]] void rethrow_copy(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const Failure& f) {
        throw Failure(f);
    } catch (const platform::FileError& e) {
        throw platform::FileError(e);
    }
}

}  // namespace

OptimizingPipeline::OptimizingPipeline(int quality, bool interlace, unsigned threads, std::size_t memory_budget)
    : interlace_(interlace), max_jobs_(std::size_t{std::max(1u, threads)} + 1), quality_(quality) {
    frames_.set_budget(memory_budget);
    jobs_.reserve(max_jobs_);
    free_.reserve(max_jobs_);
    queue_.reserve(max_jobs_);
    batches_.reserve(2);
    if (threads <= 1) return;
    threads_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) {
        try {
            threads_.emplace_back([this] { worker(); });
        } catch (...) {
            break;  // the threads there are do the work
        }
    }
}

OptimizingPipeline::~OptimizingPipeline() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    work_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void OptimizingPipeline::set_canvas(int width, int height) {
    width_ = width;
    height_ = height;
}

OptimizingPipeline::Job& OptimizingPipeline::take() {
    std::unique_lock lock(mutex_);
    if (error_) rethrow_copy(error_);
    for (;;) {
        if (!free_.empty()) {
            Job* job = free_.back();
            free_.pop_back();
            return *job;
        }
        if (jobs_.size() < max_jobs_) {
            jobs_.push_back(std::make_unique<Job>());
            return *jobs_.back();
        }
        collect_oldest(lock);
    }
}

void OptimizingPipeline::give_back(Job& job) {
    std::lock_guard lock(mutex_);
    job.stage = Job::Stage::free;
    free_.push_back(&job);
}

void OptimizingPipeline::submit_shown(Job& job, int left, int top) {
    job.shown_only = true;
    hand_over(job, left, top, 0, {});
}

void OptimizingPipeline::submit(Job& job, int left, int top, std::uint16_t delay, std::string comment) {
    job.shown_only = false;
    hand_over(job, left, top, delay, std::move(comment));
}

void OptimizingPipeline::hand_over(Job& job, int left, int top, std::uint16_t delay, std::string comment) {
    job.left = left;
    job.top = top;
    job.delay = delay;
    job.comment = std::move(comment);
    job.error = nullptr;
    {
        std::lock_guard lock(mutex_);
        job.stage = Job::Stage::waiting;
        queue_.push_back(&job);  // room for every job was reserved
    }
    if (threads_.empty()) {
        run(job, false);
        if (job.stage != Job::Stage::done) run(job, true);
        std::unique_lock lock(mutex_);
        collect_oldest(lock);
        return;
    }
    work_.notify_all();
}

void OptimizingPipeline::finish() {
    std::unique_lock lock(mutex_);
    while (!queue_.empty()) collect_oldest(lock);
    if (error_) rethrow_copy(error_);
}

void OptimizingPipeline::collect_oldest(std::unique_lock<std::mutex>& lock) {
    Job* job = queue_.front();
    done_.wait(lock, [job] { return job->stage == Job::Stage::done; });
    queue_.erase(queue_.begin());
    --next_to_find_;
    if (next_to_draw_ > 0) --next_to_draw_;
    if (!error_ && job->error) error_ = job->error;
    const bool keep = !error_ && job->stored;
    lock.unlock();
    try {
        if (keep && !(sink_ && sink_(job->placed, job->has_before ? &job->before : nullptr)))
            frames_.push(std::move(job->placed));
    } catch (...) {
        lock.lock();
        error_ = std::current_exception();
        job->stage = Job::Stage::free;
        free_.push_back(job);
        rethrow_copy(error_);
    }
    lock.lock();
    job->stage = Job::Stage::free;
    free_.push_back(job);
    if (error_) rethrow_copy(error_);
}

OptimizingPipeline::Job* OptimizingPipeline::pick(bool& draw) {
    // A frame whose plan failed is done already: the drawer passes it by.
    while (!drawer_busy_ && next_to_draw_ < queue_.size() && queue_[next_to_draw_]->stage == Job::Stage::done)
        ++next_to_draw_;
    // Drawing is the longer half: it goes first whenever its next frame is planned, once the
    // drawer is started.
    if (!drawer_busy_ && drawer_start_ == DrawerStart::done && next_to_draw_ < queue_.size() &&
        queue_[next_to_draw_]->stage == Job::Stage::planned) {
        Job* job = queue_[next_to_draw_];
        drawer_busy_ = true;
        job->stage = Job::Stage::drawing;
        draw = true;
        return job;
    }
    if (!finder_busy_ && next_to_find_ < queue_.size()) {
        Job* job = queue_[next_to_find_];
        finder_busy_ = true;
        job->stage = Job::Stage::planning;
        draw = false;
        return job;
    }
    return nullptr;
}

void OptimizingPipeline::worker() {
    platform::lower_thread_priority();
    std::unique_lock lock(mutex_);
    for (;;) {
        Job* job = nullptr;
        bool draw = false;
        // A part of either half goes first: the half waits for it; then the drawer's start.
        work_.wait(lock, [&] {
            return stop_ || open_batch() != nullptr || drawer_start_ == DrawerStart::waiting ||
                   (job = pick(draw)) != nullptr;
        });
        if (!job && take_part(lock)) continue;
        if (!job && drawer_start_ == DrawerStart::waiting) {
            drawer_start_ = DrawerStart::running;
            lock.unlock();
            std::exception_ptr error;
            try {
                start_drawer();
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            drawer_start_ = DrawerStart::done;
            drawer_start_error_ = error;
            work_.notify_all();
            continue;
        }
        if (stop_ && !job) return;
        lock.unlock();
        run(*job, draw);
        lock.lock();
    }
}

OptimizingPipeline::Batch* OptimizingPipeline::open_batch() const {
    for (Batch* batch : batches_)
        if (batch->next < batch->count) return batch;
    return nullptr;
}

bool OptimizingPipeline::take_part(std::unique_lock<std::mutex>& lock, Batch* batch) {
    if (!batch) batch = open_batch();
    if (!batch || batch->next >= batch->count) return false;
    const std::size_t k = batch->next++;
    const std::function<void(std::size_t)>& work = *batch->work;
    lock.unlock();
    std::exception_ptr error;
    try {
        work(k);
    } catch (...) {
        error = std::current_exception();
    }
    lock.lock();
    if (error && !batch->error) batch->error = error;
    if (++batch->done == batch->count) parts_.notify_all();
    return true;
}

void OptimizingPipeline::run_parts(std::size_t count, const std::function<void(std::size_t)>& work) {
    Batch batch;
    batch.work = &work;
    batch.count = count;
    std::unique_lock lock(mutex_);
    batches_.push_back(&batch);  // room for one batch a half was reserved
    work_.notify_all();
    while (take_part(lock, &batch)) {
    }
    parts_.wait(lock, [&] { return batch.done == batch.count; });
    batches_.erase(std::find(batches_.begin(), batches_.end(), &batch));
    if (batch.error) std::rethrow_exception(batch.error);
}

void OptimizingPipeline::run(Job& job, bool draw) {
    bool failed = false;
    {
        std::lock_guard lock(mutex_);
        failed = broken_;
    }
    if (!failed) {
        try {
            if (draw) {
                this->draw(job);
            } else {
                plan(job);
            }
        } catch (...) {
            job.error = std::current_exception();
            failed = true;
        }
    }
    {
        std::lock_guard lock(mutex_);
        if (failed) {
            broken_ = true;
            if (!job.error) job.error = std::make_exception_ptr(Failure{kLibraryError, "内存不足"});
        }
        if (draw) {
            drawer_busy_ = false;
            ++next_to_draw_;
            job.stage = Job::Stage::done;
        } else {
            finder_busy_ = false;
            ++next_to_find_;
            // A frame that failed is done: the frames after it fail too.
            job.stage = failed ? Job::Stage::done : Job::Stage::planned;
        }
    }
    work_.notify_all();
    done_.notify_all();
}

void OptimizingPipeline::start_halves() {
    if (started_) return;
    finder_.start(width_, height_, quality_bounds(quality_));
    started_ = true;
    if (threads_.empty()) {
        start_drawer();
        drawer_start_ = DrawerStart::done;
        return;
    }
    // A free worker makes the drawer's canvas while the first frame is planned.
    {
        std::lock_guard lock(mutex_);
        drawer_start_ = DrawerStart::waiting;
    }
    work_.notify_all();
}

void OptimizingPipeline::start_drawer() {
    drawer_.start(width_, height_, quality_bounds(quality_), interlace_);
}

void OptimizingPipeline::plan(Job& job) {
    start_halves();
    finder_.find(job.picture, job.left, job.top, job.plan, !job.shown_only, part_runner());
}

PartRunner OptimizingPipeline::part_runner() {
    if (threads_.empty()) return {};
    return [this](std::size_t count, const std::function<void(std::size_t)>& work) { run_parts(count, work); };
}

void OptimizingPipeline::draw(Job& job) {
    if (drawer_start_error_) std::rethrow_exception(drawer_start_error_);
    if (job.shown_only) {
        drawer_.take_as_shown(job.plan);
        job.stored = false;
        return;
    }
    const bool changed = drawer_.draw(job.plan, job.frame, part_runner());
    if (!changed && !records_.empty() && records_.back().delay + std::uint32_t{job.delay} <= 0xFFFF) {
        records_.back().delay = static_cast<std::uint16_t>(records_.back().delay + job.delay);
        job.stored = false;
        return;
    }
    // A frame too long to merge still carries its time, in a rectangle that changes nothing.
    if (!changed) job.frame = empty_frame();
    job.has_before = !records_.empty();
    if (job.has_before) job.before = records_.back();
    records_.push_back({job.delay, std::move(job.comment)});
    job.stored = true;
    place(job);
}

void OptimizingPipeline::place(Job& job) {
    OptimizedFrame& f = job.frame;
    PlacedFrame& p = job.placed;
    p.left = static_cast<std::uint16_t>(f.left);
    p.top = static_cast<std::uint16_t>(f.top);
    p.width = static_cast<std::uint16_t>(f.width);
    p.height = static_cast<std::uint16_t>(f.height);
    p.transparent = f.transparent;
    p.transparent_index = static_cast<std::uint8_t>(f.transparent ? f.palette.size() - 1 : 0);
    p.table.assign(std::size_t{3} << f.bits, 0);
    for (std::size_t i = 0; i < f.palette.size(); ++i) {
        p.table[3 * i] = static_cast<std::uint8_t>(red_of(f.palette[i]));
        p.table[3 * i + 1] = static_cast<std::uint8_t>(green_of(f.palette[i]));
        p.table[3 * i + 2] = static_cast<std::uint8_t>(blue_of(f.palette[i]));
    }
    p.data = std::move(job.frame.data);
}

}  // namespace gifanim
