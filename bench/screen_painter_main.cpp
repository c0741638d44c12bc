// Keeps the screen of $DISPLAY changing until it is killed: the desktop picture with a rectangle
// that moves every period (default 1/60 s), as bench/record_bench.sh needs beside `gifanim record`.
//   screen_painter [--hz N]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/bench_support.h"
#include "bench/screen_painter.h"
#include "platform/system.h"

int main(int argc, char** argv) {
    using namespace gifanim;
    long hz = 60;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--hz") == 0 && i + 1 < argc) {
            hz = std::strtol(argv[++i], nullptr, 10);
        } else {
            std::fprintf(stderr, "usage: screen_painter [--hz N]\n");
            return 2;
        }
    }
    if (hz < 1 || hz > 1000) bench::die("--hz takes 1 to 1000");
    bench::ScreenPainter painter;
    std::string error;
    if (!painter.open(error)) bench::die(error);
    const std::uint64_t period = 1000000 / static_cast<std::uint64_t>(hz);
    const std::uint64_t start = platform::monotonic_us();
    for (std::uint64_t n = 0;; ++n) {
        painter.step(n);
        const std::uint64_t due = start + (n + 1) * period;
        const std::uint64_t now = platform::monotonic_us();
        if (now < due) platform::sleep_us(due - now);
    }
}
