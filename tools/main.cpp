// Entry point: hands the arguments to the tool as paths and GBK texts.
#include <vector>

#include "platform/text.h"
#include "tools/gifanim_tool.h"

#ifdef _WIN32
#include "platform/win32/gbk.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<gifanim::tool::Argument> args;
    for (int i = 1; i < argc; ++i) args.push_back({argv[i], gifanim::platform::wide_to_gbk(argv[i])});
    return gifanim::tool::run(args);
}
#else
int main(int argc, char** argv) {
    std::vector<gifanim::tool::Argument> args;
    for (int i = 1; i < argc; ++i) args.push_back({argv[i], gifanim::platform::utf8_to_gbk(argv[i])});
    return gifanim::tool::run(args);
}
#endif
