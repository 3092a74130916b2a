#include "KestroAgentApp.h"

// A Mac application outlives its closed window; the Dock icon shows it again.
bool quitsWhenTheWindowCloses() {
    return false;
}
