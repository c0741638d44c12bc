#include "review/thumbnails.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "imaging/convert.h"
#include "platform/codecs.h"
#include "tests/unit/test_images.h"

namespace gifanim::review {
namespace {

using test::Rgb;

// Left half red, right half blue; the top quarter green across.
Rgb three_colours(int x, int y, int width, int height) {
    if (y < height / 4) return {0, 255, 0};
    return x < width / 2 ? Rgb{255, 0, 0} : Rgb{0, 0, 255};
}

capture::FrameImage jpeg(int width, int height) {
    const std::vector<std::uint8_t> bmp =
        test::make_bmp(width, height, [=](int x, int y) { return three_colours(x, y, width, height); });
    return std::make_shared<const std::vector<std::uint8_t>>(imaging::Convert(bmp, imaging::kJpeg));
}

// The pixel at x, y (y = 0 at the top) of a thumbnail.
Rgb pixel(const Thumbnail& t, int x, int y) {
    const std::uint8_t* p = t.bits.data() + t.stride * static_cast<std::size_t>(t.height - 1 - y) + 3 * x;
    return {p[2], p[1], p[0]};
}

bool near(Rgb a, Rgb b) {
    const auto close = [](int u, int v) { return u - v < 24 && v - u < 24; };
    return close(a.r, b.r) && close(a.g, b.g) && close(a.b, b.b);
}

// Records which thumbnails are ready; a test may hold the worker inside the callback.
struct Readiness {
    std::mutex mutex;
    std::condition_variable changed;
    std::multiset<std::uint64_t> ready;
    bool hold = false;

    void on_ready(std::uint64_t key) {
        std::unique_lock lock(mutex);
        ready.insert(key);
        changed.notify_all();
        changed.wait(lock, [this] { return !hold; });
    }
    bool wait_for(std::size_t n) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), [&] { return ready.size() >= n; });
    }
    void release() {
        {
            std::lock_guard lock(mutex);
            hold = false;
        }
        changed.notify_all();
    }
};

TEST(ThumbnailScale, AveragesBlocksAndKeepsTheRowsTheRightWayUp) {
    platform::Dib24 picture;
    ASSERT_EQ(platform::decode_image(
                  test::make_bmp(400, 300, [](int x, int y) { return three_colours(x, y, 400, 300); }), picture),
              platform::LoadResult::ok);
    const Thumbnail t = scale_picture(picture, 200, 200);
    ASSERT_EQ(t.width, 200);
    ASSERT_EQ(t.height, 200);
    EXPECT_EQ(t.stride, 600u);
    EXPECT_EQ(pixel(t, 10, 10), (Rgb{0, 255, 0}));
    EXPECT_EQ(pixel(t, 10, 190), (Rgb{255, 0, 0}));
    EXPECT_EQ(pixel(t, 190, 190), (Rgb{0, 0, 255}));
    // A target pixel over both halves takes their mean.
    platform::Dib24 two;
    ASSERT_EQ(platform::decode_image(test::make_bmp(2, 1,
                                                    [](int x, int) {
                                                        return Rgb{0, 0, static_cast<std::uint8_t>(x * 200)};
                                                    }),
                                     two),
              platform::LoadResult::ok);
    EXPECT_EQ(pixel(scale_picture(two, 1, 1), 0, 0), (Rgb{0, 0, 100}));
    // A picture smaller than the thumbnail is enlarged.
    EXPECT_EQ(pixel(scale_picture(two, 200, 200), 199, 0), (Rgb{0, 0, 200}));
}

TEST(ThumbnailCache, MakesEachThumbnailOnceOnTheWorkerAndMarksBadFramesEmpty) {
    Readiness readiness;
    ThumbnailCache cache([&](std::uint64_t key) { readiness.on_ready(key); });
    int reads = 0;
    const capture::FrameImage image = jpeg(320, 240);
    const auto read = [&] {
        ++reads;
        return image;
    };
    EXPECT_EQ(cache.Get(1, read), nullptr);
    ASSERT_TRUE(readiness.wait_for(1));
    const ThumbnailPtr t = cache.Get(1, read);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(t->width, kThumbnailSide);
    EXPECT_TRUE(near(pixel(*t, 20, 20), {0, 255, 0}));
    EXPECT_TRUE(near(pixel(*t, 20, 180), {255, 0, 0}));
    EXPECT_TRUE(near(pixel(*t, 180, 180), {0, 0, 255}));

    const auto garbage = [] { return std::make_shared<const std::vector<std::uint8_t>>(100, 0x5A); };
    const auto missing = [] { return capture::FrameImage(); };
    cache.Get(2, garbage);
    cache.Get(3, missing);
    ASSERT_TRUE(readiness.wait_for(3));
    ASSERT_NE(cache.Get(2, garbage), nullptr);
    EXPECT_TRUE(cache.Get(2, garbage)->empty());
    EXPECT_TRUE(cache.Get(3, missing)->empty());
}

TEST(ThumbnailCache, QueuedRequestsOutOfViewAreDroppedAndTheLeastRecentlyUsedGoes) {
    Readiness readiness;
    readiness.hold = true;
    ThumbnailCache cache([&](std::uint64_t key) { readiness.on_ready(key); }, 2);
    const capture::FrameImage image = jpeg(64, 48);
    const auto read = [&] { return image; };
    cache.Get(1, read);
    ASSERT_TRUE(readiness.wait_for(1));  // the worker now waits inside the callback for key 1
    int reads = 0;
    for (std::uint64_t key = 2; key <= 5; ++key) {
        cache.Get(key, [&] {
            ++reads;
            return image;
        });
    }
    cache.Get(4, [&] {
        ++reads;
        return image;
    });
    EXPECT_EQ(reads, 4);  // 4 was queued already
    const std::vector<std::uint64_t> in_view{4, 5};
    cache.KeepRequests(in_view);
    EXPECT_EQ(cache.queued(), 2u);
    readiness.release();
    ASSERT_TRUE(readiness.wait_for(3));
    while (cache.queued() != 0) std::this_thread::yield();
    EXPECT_EQ(readiness.ready, (std::multiset<std::uint64_t>{1, 4, 5}));
    // Room for two: 1 was used least recently and went.
    EXPECT_EQ(cache.size(), 2u);
    const auto none = [] { return capture::FrameImage(); };
    EXPECT_NE(cache.Get(4, none), nullptr);
    EXPECT_NE(cache.Get(5, none), nullptr);
    EXPECT_EQ(cache.Get(1, none), nullptr);
}

TEST(ThumbnailCache, ManyThreadsAskingAtOnceGetEveryThumbnailMadeOnce) {
    Readiness readiness;
    ThumbnailCache cache([&](std::uint64_t key) { readiness.on_ready(key); });
    const capture::FrameImage image = jpeg(48, 32);
    constexpr std::uint64_t kKeys = 8;
    std::vector<std::thread> askers;
    for (int t = 0; t < 4; ++t) {
        askers.emplace_back([&] {
            for (std::uint64_t made = 0; made < kKeys;) {
                made = 0;
                for (std::uint64_t key = 0; key < kKeys; ++key) made += cache.Get(key, [&] { return image; }) ? 1 : 0;
                if (made < kKeys) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    for (std::thread& t : askers) t.join();
    std::lock_guard lock(readiness.mutex);
    EXPECT_EQ(readiness.ready.size(), kKeys);
}

}  // namespace
}  // namespace gifanim::review
