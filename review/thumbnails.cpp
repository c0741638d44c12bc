#include "review/thumbnails.h"

#include <algorithm>
#include <new>
#include <utility>

#include "platform/codecs.h"
#include "platform/thread.h"

namespace gifanim::review {

namespace {

// The source range [first, end) that target index i of n covers in a source of `size`: at least
// one, so that a picture smaller than the thumbnail is enlarged.
struct Span {
    int first;
    int end;
};
Span source_span(int i, int n, int size) {
    const auto first = static_cast<int>(std::int64_t{i} * size / n);
    const auto end = static_cast<int>(std::int64_t{i + 1} * size / n);
    return {std::min(first, size - 1), std::max(end, first + 1)};
}

}  // namespace

Thumbnail scale_picture(const platform::Dib24& picture, int width, int height) {
    Thumbnail out;
    if (picture.width <= 0 || picture.height <= 0 || width <= 0 || height <= 0) return out;
    out.width = width;
    out.height = height;
    out.stride = platform::Dib24::stride_for(width);
    out.bits.assign(out.stride * static_cast<std::size_t>(height), 0);
    std::vector<Span> columns(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x) columns[static_cast<std::size_t>(x)] = source_span(x, width, picture.width);
    std::vector<std::uint32_t> sums(static_cast<std::size_t>(width) * 3);
    // Both are bottom-up, so target row y takes source rows counted from the bottom as well.
    for (int y = 0; y < height; ++y) {
        const Span rows = source_span(y, height, picture.height);
        std::fill(sums.begin(), sums.end(), 0u);
        for (int sy = rows.first; sy < rows.end; ++sy) {
            const std::uint8_t* src = picture.row(sy);
            for (std::size_t x = 0; x < columns.size(); ++x) {
                std::uint32_t b = 0, g = 0, r = 0;
                for (int sx = columns[x].first; sx < columns[x].end; ++sx) {
                    const std::uint8_t* p = src + 3 * static_cast<std::size_t>(sx);
                    b += p[0];
                    g += p[1];
                    r += p[2];
                }
                sums[3 * x] += b;
                sums[3 * x + 1] += g;
                sums[3 * x + 2] += r;
            }
        }
        std::uint8_t* dst = out.bits.data() + out.stride * static_cast<std::size_t>(y);
        const auto row_count = static_cast<std::uint32_t>(rows.end - rows.first);
        for (std::size_t x = 0; x < columns.size(); ++x) {
            const std::uint32_t n = row_count * static_cast<std::uint32_t>(columns[x].end - columns[x].first);
            for (std::size_t c = 0; c < 3; ++c)
                dst[3 * x + c] = static_cast<std::uint8_t>((sums[3 * x + c] + n / 2) / n);
        }
    }
    return out;
}

ThumbnailCache::ThumbnailCache(Ready ready, std::size_t capacity)
    : ready_(std::move(ready)), capacity_(std::max<std::size_t>(capacity, 1)) {
    worker_ = std::thread([this] { run(); });
}

ThumbnailCache::~ThumbnailCache() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    worker_.join();
}

ThumbnailPtr ThumbnailCache::Get(Key key, const Reader& read) {
    {
        std::lock_guard lock(mutex_);
        if (const auto it = entries_.find(key); it != entries_.end()) {
            uses_.splice(uses_.begin(), uses_, it->second.use);
            return it->second.thumbnail;
        }
        if (pending(key)) return nullptr;
    }
    // Read without the lock: it may go to disk.
    capture::FrameImage image = read();
    {
        std::lock_guard lock(mutex_);
        // Another thread may have asked for the same key meanwhile: it is made once.
        if (entries_.contains(key) || pending(key)) return nullptr;
        queue_.push_back({key, std::move(image)});
    }
    wake_.notify_one();
    return nullptr;
}

bool ThumbnailCache::pending(Key key) const {
    return (making_ && making_key_ == key) ||
           std::any_of(queue_.begin(), queue_.end(), [key](const Request& r) { return r.key == key; });
}

void ThumbnailCache::KeepRequests(std::span<const Key> wanted) {
    std::lock_guard lock(mutex_);
    std::erase_if(
        queue_, [wanted](const Request& r) { return std::find(wanted.begin(), wanted.end(), r.key) == wanted.end(); });
}

void ThumbnailCache::Clear() {
    std::lock_guard lock(mutex_);
    queue_.clear();
    entries_.clear();
    uses_.clear();
}

std::size_t ThumbnailCache::size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

std::size_t ThumbnailCache::queued() const {
    std::lock_guard lock(mutex_);
    return queue_.size() + (making_ ? 1 : 0);
}

void ThumbnailCache::store(Key key, ThumbnailPtr thumbnail) {
    std::lock_guard lock(mutex_);
    making_ = false;
    if (const auto it = entries_.find(key); it != entries_.end()) {
        it->second.thumbnail = std::move(thumbnail);
        uses_.splice(uses_.begin(), uses_, it->second.use);
    } else {
        try {
            uses_.push_front(key);
        } catch (const std::bad_alloc&) {
            return;  // not kept: asked for again at the next paint
        }
        try {
            entries_.emplace(key, Entry{std::move(thumbnail), uses_.begin()});
        } catch (const std::bad_alloc&) {
            uses_.pop_front();
            return;
        }
    }
    while (entries_.size() > capacity_) {
        entries_.erase(uses_.back());
        uses_.pop_back();
    }
}

void ThumbnailCache::run() {
    platform::lower_thread_priority();
    platform::Dib24 picture;
    for (;;) {
        Request request;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            request = std::move(queue_.front());
            queue_.pop_front();
            making_ = true;
            making_key_ = request.key;
        }
        ThumbnailPtr thumbnail;
        try {
            Thumbnail made;
            if (request.image && platform::decode_image(*request.image, picture) == platform::LoadResult::ok) {
                made = scale_picture(picture, kThumbnailSide, kThumbnailSide);
            }
            thumbnail = std::make_shared<const Thumbnail>(std::move(made));
        } catch (const std::bad_alloc&) {
            // Shown as a blank thumbnail rather than asked for again and again.
            thumbnail = blank_;
        }
        // Frees the frame's bytes before the wait for the next request.
        request.image.reset();
        // A big picture's buffer is not kept for the rest of the editor's life.
        if (picture.capacity > platform::kKeptScratchBytes) picture = platform::Dib24();
        store(request.key, std::move(thumbnail));
        try {
            if (ready_) ready_(request.key);
        } catch (...) {
            // The window learns of the thumbnail at its next paint instead.
        }
    }
}

}  // namespace gifanim::review
