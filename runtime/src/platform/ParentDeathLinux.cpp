#include "platform/ParentDeath.h"

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace kestro {

bool endWithParent(pid_t parent) noexcept {
    // SIGTERM, not SIGKILL: the child ends the way it ends when asked, tidying up after itself.
    return ::prctl(PR_SET_PDEATHSIG, SIGTERM) == 0 && ::getppid() == parent;
}

} // namespace kestro
