#include "KestroAgentApp.h"

namespace kestro::companion {

// No dock to bring a closed window back: closing it ends the application (and the runtime),
// unless a tray icon can bring it back.
bool quitsWhenTheWindowCloses() {
    return true;
}

bool showsTheWindowWhenActivated() {
    return false;
}

} // namespace kestro::companion
