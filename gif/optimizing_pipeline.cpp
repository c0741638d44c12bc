#include "gif/optimizing_pipeline.h"

#include <algorithm>

#include "gif/failure.h"
#include "platform/thread.h"

namespace gifanim {

OptimizingPipeline::OptimizingPipeline(int quality, bool interlace, unsigned threads, std::size_t memory_budget)
    : interlace_(interlace), max_jobs_(std::size_t{std::max(1u, threads)} + 2), quality_(quality) {
    frames_.set_budget(memory_budget);
    jobs_.reserve(max_jobs_);
    free_.reserve(max_jobs_);
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
    if (error_) std::rethrow_exception(error_);
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

void OptimizingPipeline::submit(Job& job, int left, int top, std::uint16_t delay, std::string comment) {
    job.left = left;
    job.top = top;
    job.delay = delay;
    job.comment = std::move(comment);
    job.error = nullptr;
    {
        std::lock_guard lock(mutex_);
        job.stage = Job::Stage::waiting;
        queue_.push_back(&job);  // never more than max_jobs_, reserved by the deque's growth
    }
    if (threads_.empty()) {
        run(job, true);
        if (job.stage != Job::Stage::done) run(job, false);
        std::unique_lock lock(mutex_);
        collect_oldest(lock);
        return;
    }
    work_.notify_all();
}

void OptimizingPipeline::finish() {
    std::unique_lock lock(mutex_);
    while (!queue_.empty()) collect_oldest(lock);
    if (error_) std::rethrow_exception(error_);
}

void OptimizingPipeline::collect_oldest(std::unique_lock<std::mutex>& lock) {
    Job* job = queue_.front();
    done_.wait(lock, [job] { return job->stage == Job::Stage::done; });
    queue_.pop_front();
    --next_to_optimise_;
    if (!error_ && job->error) error_ = job->error;
    const bool keep = !error_ && job->stored;
    lock.unlock();
    try {
        if (keep) frames_.push(std::move(job->placed));
    } catch (...) {
        lock.lock();
        error_ = std::current_exception();
        job->stage = Job::Stage::free;
        free_.push_back(job);
        throw;
    }
    lock.lock();
    job->stage = Job::Stage::free;
    free_.push_back(job);
    if (error_) std::rethrow_exception(error_);
}

OptimizingPipeline::Job* OptimizingPipeline::pick(bool& optimise) {
    if (!optimiser_busy_ && next_to_optimise_ < queue_.size()) {
        Job* job = queue_[next_to_optimise_];
        optimiser_busy_ = true;
        job->stage = Job::Stage::optimising;
        optimise = true;
        return job;
    }
    for (Job* job : queue_) {
        if (job->stage != Job::Stage::optimised) continue;
        job->stage = Job::Stage::compressing;
        optimise = false;
        return job;
    }
    return nullptr;
}

void OptimizingPipeline::worker() {
    platform::lower_thread_priority();
    std::unique_lock lock(mutex_);
    for (;;) {
        Job* job = nullptr;
        bool optimise = false;
        work_.wait(lock, [&] { return stop_ || (job = pick(optimise)) != nullptr; });
        if (stop_ && !job) return;
        lock.unlock();
        run(*job, optimise);
        lock.lock();
    }
}

void OptimizingPipeline::run(Job& job, bool optimise) {
    bool failed = false;
    if (optimise) {
        {
            std::lock_guard lock(mutex_);
            failed = broken_;
        }
        if (!failed) {
            try {
                this->optimise(job);
            } catch (...) {
                job.error = std::current_exception();
                failed = true;
            }
        }
    } else {
        try {
            compress(job);
        } catch (...) {
            job.error = std::current_exception();
        }
    }
    {
        std::lock_guard lock(mutex_);
        if (optimise) {
            optimiser_busy_ = false;
            ++next_to_optimise_;
            if (failed) broken_ = true;
            // A frame merged into the one before, or one the optimizer could not take, is done.
            job.stage = failed || !job.stored ? Job::Stage::done : Job::Stage::optimised;
            if (failed && !job.error) job.error = std::make_exception_ptr(Failure{kLibraryError, "内存不足"});
        } else {
            job.stage = Job::Stage::done;
        }
    }
    work_.notify_all();
    done_.notify_all();
}

void OptimizingPipeline::optimise(Job& job) {
    if (!started_) {
        optimizer_.start(width_, height_, quality_, interlace_);
        started_ = true;
    }
    const bool changed = optimizer_.add(job.picture, job.left, job.top, job.frame);
    if (!changed && !records_.empty() && records_.back().delay + std::uint32_t{job.delay} <= 0xFFFF) {
        records_.back().delay = static_cast<std::uint16_t>(records_.back().delay + job.delay);
        job.stored = false;
        return;
    }
    // A frame too long to merge still carries its time, in a rectangle that changes nothing.
    if (!changed) job.frame = empty_frame();
    records_.push_back({job.delay, std::move(job.comment)});
    job.stored = true;
}

void OptimizingPipeline::compress(Job& job) {
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
