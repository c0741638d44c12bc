#pragma once
// A frame window that answers the recording session with fixed settings and keeps only the last
// caption: for tests and benchmarks that drive a session without looking at its windows.
#include <cstdint>
#include <string>
#include <vector>

#include "capture/session.h"

namespace gifanim::test {

struct QuietRecordingShell : capture::RecordingShell {
    std::string caption;
    std::int64_t budget = 1ll << 30;
    bool disk = false;

    void SetCaption(const std::string& gbk) override { caption = gbk; }
    void SetRecordButtonCaption(const std::string&) override {}
    void RefreshToolbar() override {}
    void MinimizeFrameWindow() override {}
    void Warn(const std::string&) override {}
    void StartTimer(int, std::int32_t) override {}
    void StopTimer(int) override {}
    bool FullScreenChecked() const override { return false; }
    platform::ScreenRect CapturePanelRect() const override { return {0, 0, 12, 8}; }
    Size ScreenSize() const override { return {12, 8}; }
    std::int32_t FrameRate() const override { return 10; }
    std::int64_t MemoryBudgetBytes() const override { return budget; }
    bool DiskStorage() const override { return disk; }
    bool FullScreenHide() const override { return false; }
    bool RecordCursor() const override { return false; }
};

// A screen that cannot be read: for sessions whose frames are appended to the store directly.
struct NoScreenGrabber : capture::FrameGrabber {
    bool Grab(const platform::ScreenRect&, bool, platform::ScreenPixels&) override { return false; }
    std::vector<std::uint8_t> Encode(platform::ScreenPixels&) override { return {}; }
};

}  // namespace gifanim::test
