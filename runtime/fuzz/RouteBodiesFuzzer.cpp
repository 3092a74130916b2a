// Every route's request body: decoded strictly; whatever decodes encodes again.
#include "core/KestroAgentError.h"
#include "core/WireRecords.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

template <class Record> void roundTrip(std::string_view body) {
    try {
        const Record record = kestro::decodeRecord<Record>(body);
        const Record again = kestro::decodeRecord<Record>(kestro::encodeRecord(record));
        if (kestro::encodeRecord(again) != kestro::encodeRecord(record)) __builtin_trap();
    } catch (const kestro::DecodingError&) {
    } catch (const kestro::EncodingError&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    roundTrip<kestro::KestroAgentStatusRequest>(body);
    roundTrip<kestro::KestroAgentThreadHistoryRequest>(body);
    roundTrip<kestro::KestroAgentSurfacePreviewRequest>(body);
    roundTrip<kestro::KestroAgentWorktreeRequest>(body);
    roundTrip<kestro::KestroAgentRunRequest>(body);
    return 0;
}
