// Every route's request body: decoded strictly; whatever decodes encodes again, and holds no NUL
// in any text.
#include "core/KestroAgentError.h"
#include "core/WireRecords.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace {

// True when a text member of the record holds a NUL.
template <class Record> bool holdsNUL(const Record& record) {
    bool found = false;
    Record::visitFields(record, [&found](const char*, const auto& member) {
        using Member = std::decay_t<decltype(member)>;
        if constexpr (std::is_same_v<Member, std::string>)
            found = found || member.find('\0') != std::string::npos;
        else if constexpr (std::is_same_v<Member, std::optional<std::string>>)
            found = found || (member && member->find('\0') != std::string::npos);
    });
    return found;
}

template <class Record> void roundTrip(std::string_view body) {
    try {
        const Record record = kestro::decodeRecord<Record>(body);
        const Record again = kestro::decodeRecord<Record>(kestro::encodeRecord(record));
        if (kestro::encodeRecord(again) != kestro::encodeRecord(record)) __builtin_trap();
        if (holdsNUL(record)) __builtin_trap();
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
