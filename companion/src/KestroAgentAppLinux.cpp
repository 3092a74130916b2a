#include "KestroAgentApp.h"

namespace kestro::companion {

// No dock to bring a closed window back: closing it ends the application (and the runtime).
bool quitsWhenTheWindowCloses() {
    return true;
}

} // namespace kestro::companion
