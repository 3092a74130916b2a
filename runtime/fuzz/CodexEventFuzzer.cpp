// What `codex exec --json` prints, in arbitrary chunks: line splitting, event decoding,
// translation into stream events (which must encode) and the error humanizer.
#include "core/WireRecords.h"
#include "run/CodexEventTranslation.h"
#include "run/RunCapture.h"
#include "text/LineSplitter.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte chooses where the chunks break.
    const size_t step = 1 + data[0] % 61;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    kestro::LineSplitter splitter(kestro::LineBreaks::json);
    kestro::RunCapture capture;
    const auto deliver = [&](const std::vector<std::string>& lines) {
        for (const auto& line : lines) {
            kestro::humanizeCodexMessage(line);
            const auto event = kestro::decodeCodexEvent(line);
            if (!event) continue;
            for (const auto& streamEvent : kestro::translateCodexEvent(*event, capture)) {
                try {
                    kestro::encodeRecord(streamEvent);
                } catch (const std::exception&) {
                    __builtin_trap(); // every event the phone is sent must encode
                }
            }
        }
    };
    for (size_t at = 0; at < bytes.size(); at += step)
        deliver(splitter.feed(bytes.substr(at, step)));
    deliver(splitter.finish());
    capture.snapshot();
    return 0;
}
