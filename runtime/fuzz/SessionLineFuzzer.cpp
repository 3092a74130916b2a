// Codex's session logs: the transcript reader and the usage snapshot's line reader.
#include "status/UsageSnapshot.h"
#include "workspace/Threads.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto messages = kestro::parseSessionTranscript(text);
    if (messages.size() > kestro::kTranscriptMessageLimit) __builtin_trap();
    kestro::usageSnapshotFromLine(text, "chatgpt");
    return 0;
}
