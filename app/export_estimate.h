#pragma once
// The live size estimate of the dialog "导出选项". An estimate costs about a tenth of an export,
// far too long for the user-interface thread, so it is made on a thread of its own from a
// snapshot of the recording; the newest request supersedes the older ones.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "app/export_options.h"
#include "capture/frame_store.h"
#include "gif/gif_maker.h"
#include "review/shaping.h"

namespace gifanim::app {

struct EstimateRequest {
    std::shared_ptr<const capture::FrameStoreSnapshot> frames;
    review::ExportShape shape;
    Optimization optimization;
};

// What an estimate is asked for with: a snapshot of the store and the shape and mode the next
// export would take. Nothing when there are no frames (there is nothing to estimate) or no
// memory for the snapshot. Call it on the thread that owns the store.
std::optional<EstimateRequest> estimate_request(const capture::FrameStore& store, const ExportPlan& plan,
                                                const Optimization& optimization);

// review::EstimateSize of the request, forwards: both directions write the same frames.
std::uint64_t estimate_bytes(const EstimateRequest& request);

class SizeEstimator {
public:
    using Compute = std::function<std::uint64_t(const EstimateRequest&)>;
    // `ready` runs on the estimator's thread whenever the newest request's estimate is done (a
    // window posts itself a message there); it must not call back into the estimator.
    explicit SizeEstimator(std::function<void()> ready, Compute compute = estimate_bytes);
    SizeEstimator(const SizeEstimator&) = delete;
    SizeEstimator& operator=(const SizeEstimator&) = delete;
    // Waits for an estimate under way.
    ~SizeEstimator();

    // Supersedes every earlier request, started or not: only this one's result will be given.
    void Ask(EstimateRequest request);
    // No estimate is wanted any more (no frames): the results of earlier requests are dropped.
    void Drop();
    // The newest request's estimate (nothing when it failed for want of memory); nothing while
    // it is being made, or when none was asked since the last Drop.
    struct Result {
        std::optional<std::uint64_t> bytes;
    };
    std::optional<Result> Latest() const;
    // Ends the thread after the estimate under way; nothing is estimated after it.
    void Stop();

private:
    void run();

    std::function<void()> ready_;
    Compute compute_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::uint64_t asked_ = 0;  // the newest request's number
    std::optional<EstimateRequest> pending_;
    std::uint64_t done_ = 0;  // the number of the request `latest_` answers
    std::optional<Result> latest_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace gifanim::app
