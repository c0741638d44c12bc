#include "platform/memory.h"

#include <sys/mman.h>

#include <cstddef>

namespace gifanim::platform {

void advise_large_pages(void* p, std::size_t bytes) noexcept {
#if defined(MADV_HUGEPAGE)
    madvise(p, bytes, MADV_HUGEPAGE);  // only a hint: small pages work as well
#else
    (void)p;
    (void)bytes;
#endif
}

}  // namespace gifanim::platform
