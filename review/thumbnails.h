#pragma once
// Thumbnails of frame images for the frame editor's strip, made on a thread of their own: the
// editor draws only the thumbnails in view and asks for each one it has not got yet.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <unordered_map>
#include <vector>

#include "capture/frame_record_file.h"
#include "platform/picture.h"

namespace gifanim::review {

inline constexpr int kThumbnailSide = 200;

// One frame scaled to 200 x 200: 24-bit pixels, rows bottom-up, blue, green, red, each row padded
// to a multiple of 4 bytes (ready for a DIB). Empty (0 x 0) when the frame could not be decoded.
struct Thumbnail {
    int width = 0;
    int height = 0;
    std::size_t stride = 0;
    std::vector<std::uint8_t> bits;
    bool empty() const { return width == 0; }
};
using ThumbnailPtr = std::shared_ptr<const Thumbnail>;

// `picture` scaled to width x height, each target pixel the mean of the source pixels it covers
// (at least one). Throws std::bad_alloc.
Thumbnail scale_picture(const platform::Dib24& picture, int width, int height);

// A cache of the most recently used thumbnails, made by one worker thread. Every member may be
// called from any thread; `ready` is called on the worker thread, without a lock held, once a
// thumbnail was stored (a window posts it on to its own thread).
class ThumbnailCache {
public:
    using Key = std::uint64_t;
    using Ready = std::function<void(Key)>;
    using Reader = std::function<capture::FrameImage()>;

    explicit ThumbnailCache(Ready ready, std::size_t capacity = 64);
    ThumbnailCache(const ThumbnailCache&) = delete;
    ThumbnailCache& operator=(const ThumbnailCache&) = delete;
    // Drops the queue and waits for the thumbnail in the making.
    ~ThumbnailCache();

    // The thumbnail of `key` when it is made (it becomes the most recently used). Otherwise null,
    // and unless it is queued or in the making already, `read` is called on the caller's thread
    // for the frame image, which is queued to be made.
    ThumbnailPtr Get(Key key, const Reader& read);
    // Drops the queued requests whose keys are not in `wanted`: places no longer in view.
    void KeepRequests(std::span<const Key> wanted);
    // Drops every thumbnail and every queued request.
    void Clear();

    std::size_t size() const;
    std::size_t queued() const;

private:
    struct Entry {
        ThumbnailPtr thumbnail;
        std::list<Key>::iterator use;
    };
    struct Request {
        Key key = 0;
        capture::FrameImage image;
    };
    void run();
    // Whether `key` is queued or in the making; the caller holds mutex_.
    bool pending(Key key) const;
    void store(Key key, ThumbnailPtr thumbnail);

    const Ready ready_;
    // Stands for a frame that could not be made into a thumbnail, made up front so that running
    // out of memory while making one still leaves something to store.
    const ThumbnailPtr blank_ = std::make_shared<const Thumbnail>();
    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::unordered_map<Key, Entry> entries_;
    // Most recently used first.
    std::list<Key> uses_;
    std::deque<Request> queue_;
    bool making_ = false;
    Key making_key_ = 0;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace gifanim::review
