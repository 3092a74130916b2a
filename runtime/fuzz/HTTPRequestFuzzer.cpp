// Request heads and bodies as a peer may send them, in one piece, in growing prefixes, or in two
// pieces.
#include "core/HTTPMessage.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const kestro::ParseResult whole = kestro::parseRequest(bytes);
    if (whole.outcome == kestro::ParseOutcome::complete) {
        // A complete request stays complete, with the same parse, whatever follows it.
        std::string longer(bytes);
        longer += "GET / HTTP/1.1\r\n\r\n";
        const kestro::ParseResult again = kestro::parseRequest(longer);
        if (again.outcome != kestro::ParseOutcome::complete || !(again.request == whole.request))
            __builtin_trap();
        // A transfer coding is never taken for a Content-Length body.
        if (whole.request.headers.contains("transfer-encoding")) __builtin_trap();
        kestro::serializedResponse({.status = 400,
                                    .contentType = "application/json",
                                    .body = kestro::errorBody(whole.request.path)});
    }
    if (whole.outcome == kestro::ParseOutcome::refused) {
        // Refused as soon as the head shows why, whatever follows it.
        std::string longer(bytes);
        longer += "\r\n\r\nmore";
        const kestro::ParseResult again = kestro::parseRequest(longer);
        if (again.outcome != kestro::ParseOutcome::refused || again.refusal.status != whole.refusal.status ||
            again.refusal.body != whole.refusal.body)
            __builtin_trap();
    }
    // A head read in pieces, searched from where the last piece ended, reads as the whole.
    const size_t split = size == 0 ? 0 : data[0] % (size + 1);
    if (kestro::parseHead(bytes.substr(0, split)).outcome == kestro::ParseOutcome::incomplete) {
        const kestro::HeadResult once = kestro::parseHead(bytes);
        const kestro::HeadResult pieces = kestro::parseHead(bytes, split);
        if (once.outcome != pieces.outcome || !(once.head.request == pieces.head.request) ||
            once.head.bodyStart != pieces.head.bodyStart || once.head.bodyLength != pieces.head.bodyLength ||
            once.refusal.status != pieces.refusal.status || once.refusal.body != pieces.refusal.body)
            __builtin_trap();
    }
    return 0;
}
