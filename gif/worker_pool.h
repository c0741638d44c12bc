#pragma once
// A small pool of threads that runs tasks handed to it one by one, each task an object of the
// caller's that stays where it is: the pool only holds pointers, so handing one over never
// allocates, and the caller reuses the object once the pool says it is done.
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/thread.h"

namespace gifanim {

template <class Task>
class WorkerPool {
public:
    // Up to `threads` threads (at least one), started as tasks arrive; at most `capacity` tasks
    // are handed over and not yet done at any time. `work` must not throw. Throws std::bad_alloc.
    WorkerPool(unsigned threads, std::size_t capacity, std::function<void(Task&)> work)
        : max_threads_(threads == 0 ? 1 : threads), work_(std::move(work)) {
        queue_.reserve(capacity);
        done_.reserve(capacity);
        threads_.reserve(max_threads_);
    }
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    ~WorkerPool() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_) t.join();
    }

    // Hands `task` over; it runs on a thread of the pool, or here at once when no thread could be
    // started. The caller must not touch it again until wait(task) has returned.
    void submit(Task& task) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(&task);
        }
        if (threads_.size() < max_threads_ && threads_.size() < queue_length()) start_thread();
        if (threads_.empty()) {
            run_here();
            return;
        }
        wake_.notify_one();
    }

    // Waits until `task` is done; its results are then visible to the caller. With `help`, the
    // caller runs tasks that no thread has started yet meanwhile, `task` itself included: for when
    // it has nothing else to do, as at the end of a batch.
    void wait(Task& task, bool help = false) {
        std::unique_lock lock(mutex_);
        while (!take_done(&task)) {
            if (!help || queue_.empty()) {
                finished_.wait(lock);
                continue;
            }
            Task* next = queue_.front();
            queue_.erase(queue_.begin());
            lock.unlock();
            work_(*next);
            lock.lock();
            done_.push_back(next);
        }
    }

private:
    std::size_t queue_length() {
        std::lock_guard lock(mutex_);
        return queue_.size() + running_;
    }

    // A thread that cannot be started is no failure: the tasks run on the threads there are.
    void start_thread() {
        try {
            threads_.emplace_back([this] { loop(); });
        } catch (...) {
        }
    }

    void run_here() {
        Task* task = nullptr;
        {
            std::lock_guard lock(mutex_);
            task = queue_.back();
            queue_.pop_back();
        }
        work_(*task);
        std::lock_guard lock(mutex_);
        done_.push_back(task);
    }

    bool take_done(Task* task) {
        for (std::size_t i = 0; i < done_.size(); ++i) {
            if (done_[i] != task) continue;
            done_[i] = done_.back();
            done_.pop_back();
            return true;
        }
        return false;
    }

    void loop() {
        // The owner's thread has the serial part of the work (it prepares what the pool runs):
        // the pool's threads take what CPU it leaves, so it never waits for a core.
        platform::lower_thread_priority();
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (stop_) return;
            Task* task = queue_.front();
            queue_.erase(queue_.begin());
            ++running_;
            lock.unlock();
            work_(*task);
            lock.lock();
            --running_;
            done_.push_back(task);
            finished_.notify_all();
        }
    }

    const unsigned max_threads_;
    std::function<void(Task&)> work_;
    std::vector<std::thread> threads_;  // touched by the owner's thread only
    std::mutex mutex_;
    std::condition_variable wake_, finished_;
    std::vector<Task*> queue_;  // handed over, not started; room for `capacity`, so never grows
    std::vector<Task*> done_;   // finished, not yet waited for
    std::size_t running_ = 0;
    bool stop_ = false;
};

}  // namespace gifanim
