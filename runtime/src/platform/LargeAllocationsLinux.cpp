#include "platform/LargeAllocations.h"

#include <malloc.h>

namespace kestro {

void returnLargeAllocationsWhenFreed() {
    // glibc raises its threshold for mapping a block on its own after a large block is freed,
    // and then keeps later ones of that size in its heaps, where freed memory may stay. A fixed
    // threshold keeps every block of this size or more mapped, and unmapped when freed.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
}

} // namespace kestro
