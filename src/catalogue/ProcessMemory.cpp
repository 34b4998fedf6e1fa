#include "ProcessMemory.h"

#include <cstdlib>   // the C library's own macros

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vrindel {

void giveLargeBlocksBack() {
#if defined(__GLIBC__)
    // Fixed: setting it also stops glibc from moving it.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
}

}  // namespace vrindel
