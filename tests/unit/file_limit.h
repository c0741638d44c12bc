#pragma once
// Makes writes past a point fail, as a full disk does (POSIX only).
#ifndef _WIN32
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <filesystem>

namespace gifanim::test {

// A file size limit `slack` bytes past the file's current end: a write that crosses it is cut off
// midway.
// (Wine does not let another handle's byte-range lock refuse a write, so Windows has no such case.)
struct WritesRefusedPastEnd {
    rlimit old{};
    void (*old_handler)(int);
    explicit WritesRefusedPastEnd(const std::filesystem::path& path, std::uintmax_t slack = 40) {
        getrlimit(RLIMIT_FSIZE, &old);
        old_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old;
        limit.rlim_cur = static_cast<rlim_t>(std::filesystem::file_size(path) + slack);
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    ~WritesRefusedPastEnd() {
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, old_handler);
    }
};

}  // namespace gifanim::test
#endif
