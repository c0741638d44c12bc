#pragma once
// The gifanim command line, independent of how the platform hands over its arguments.
#include <filesystem>
#include <string>
#include <vector>

namespace gifanim::tool {

// One command-line argument, as a path and as a GBK text.
struct Argument {
    std::filesystem::path path;
    std::string text;
};

// Runs the tool; returns the exit status (0 success, 1 failure, 2 usage error).
int run(const std::vector<Argument>& args);

}  // namespace gifanim::tool
