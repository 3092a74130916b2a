#include "platform/ParentDeath.h"

namespace kestro {

// macOS has no such request.
bool endWithParent(pid_t) noexcept {
    return true;
}

} // namespace kestro
