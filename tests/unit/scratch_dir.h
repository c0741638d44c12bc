#pragma once
// A fresh folder in the temporary directory for one test, removed again afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace gifanim::test {

struct ScratchDir {
    std::filesystem::path dir;
    explicit ScratchDir(const std::string& prefix) {
        dir = std::filesystem::temp_directory_path() /
              (prefix + ::testing::UnitTest::GetInstance()->current_test_info()->name());
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
