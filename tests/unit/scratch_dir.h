#pragma once
// A fresh folder in the temporary directory for one test, removed again afterwards. Its name holds
// the test's name and the process id: the presets run their test programs at the same time.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace gifanim::test {

struct ScratchDir {
    std::filesystem::path dir;
    explicit ScratchDir(const std::string& prefix) {
#ifdef _WIN32
        const int pid = _getpid();
#else
        const int pid = static_cast<int>(getpid());
#endif
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : name)
            if (c == '/') c = '_';  // parameterised tests are called Name/0, Name/1, ...
        dir = std::filesystem::temp_directory_path() / (prefix + name + "-" + std::to_string(pid));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

}  // namespace gifanim::test
