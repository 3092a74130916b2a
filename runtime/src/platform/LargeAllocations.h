#pragma once
// Large blocks (request buffers of megabytes) go back to the system as soon as they are freed,
// so that the runtime returns to its idle size after a burst of large or hostile requests. One
// implementation file per operating system.

namespace kestro {

// Call once at start-up, before any thread starts.
void returnLargeAllocationsWhenFreed();

} // namespace kestro
