#include "KestroAgentApp.h"

namespace kestro::companion {

// A Mac application outlives its closed window; the Dock icon shows it again.
bool quitsWhenTheWindowCloses() {
    return false;
}

bool showsTheWindowWhenActivated() {
    return true;
}

} // namespace kestro::companion
