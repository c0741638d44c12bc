#include "platform/memory.h"

namespace gifanim::platform {

// Large pages need a privilege that users do not have: buffers take the small ones.
void advise_large_pages(void*, std::size_t) noexcept {}

}  // namespace gifanim::platform
