#include "app/export_estimate.h"

#include <new>
#include <utility>

#include "review/size_fit.h"

namespace gifanim::app {

std::optional<EstimateRequest> estimate_request(const capture::FrameStore& store, const ExportPlan& plan,
                                                const Optimization& optimization) {
    if (store.count() == 0) return std::nullopt;
    try {
        return EstimateRequest{std::make_shared<const capture::FrameStoreSnapshot>(store.Snapshot()), plan.shape,
                               optimization};
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

std::uint64_t estimate_bytes(const EstimateRequest& request) {
    return review::EstimateSize(review::source_of(*request.frames), review::ExportDirection::forward, request.shape,
                                request.optimization);
}

SizeEstimator::SizeEstimator(std::function<void()> ready, Compute compute)
    : ready_(std::move(ready)), compute_(std::move(compute)), thread_([this] { run(); }) {}

SizeEstimator::~SizeEstimator() {
    Stop();
}

void SizeEstimator::Ask(EstimateRequest request) {
    std::lock_guard lock(mutex_);
    ++asked_;
    pending_ = std::move(request);
    wake_.notify_one();
}

void SizeEstimator::Drop() {
    std::lock_guard lock(mutex_);
    ++asked_;
    pending_.reset();
}

std::optional<SizeEstimator::Result> SizeEstimator::Latest() const {
    std::lock_guard lock(mutex_);
    if (done_ != asked_) return std::nullopt;
    return latest_;
}

void SizeEstimator::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        pending_.reset();
        wake_.notify_one();
    }
    if (thread_.joinable()) thread_.join();
}

void SizeEstimator::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || pending_.has_value(); });
        if (stop_) return;
        // Taken out, so that the snapshot goes as soon as its estimate is made.
        EstimateRequest request = std::move(*pending_);
        pending_.reset();
        const std::uint64_t number = asked_;
        lock.unlock();
        Result result;
        try {
            result.bytes = compute_(request);
        } catch (const std::bad_alloc&) {
            // No estimate: the dialog shows none rather than an old one.
        }
        request = {};
        lock.lock();
        if (number != asked_) continue;
        done_ = number;
        latest_ = result;
        lock.unlock();
        ready_();
        lock.lock();
    }
}

}  // namespace gifanim::app
