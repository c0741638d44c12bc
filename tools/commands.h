#pragma once
// The gifanim commands. Each takes the whole argument list, its own name first, and answers the
// exit status; usage errors and --help leave it as UsageError and HelpRequested (tools/options.h).
#include <vector>

#include "tools/gifanim_tool.h"

namespace gifanim::tool {

int run_make(const std::vector<Argument>& args);
int run_info(const std::vector<Argument>& args);
int run_extract(const std::vector<Argument>& args);
int run_set(const std::vector<Argument>& args);
int run_convert(const std::vector<Argument>& args);
int run_grab(const std::vector<Argument>& args);
int run_record(const std::vector<Argument>& args);
int run_recover(const std::vector<Argument>& args);

}  // namespace gifanim::tool
