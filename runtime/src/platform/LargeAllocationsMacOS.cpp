#include "platform/LargeAllocations.h"

namespace kestro {

void returnLargeAllocationsWhenFreed() {
    // The system allocator already gives large blocks back when they are freed.
}

} // namespace kestro
