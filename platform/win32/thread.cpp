#include "platform/thread.h"

#include <windows.h>

namespace gifanim::platform {

void lower_thread_priority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL); }

}  // namespace gifanim::platform
