#pragma once
// Codex's --json event lines turned into the phone's stream events, the three-word chunker and
// the humanizer for Codex error texts. Pure apart from the RunCapture it updates.

#include "core/WireRecords.h"
#include "run/RunCapture.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestro {

struct CodexJSONEvent {
    struct ItemContent {
        std::optional<std::string> type;
        std::optional<std::string> text;
    };
    struct Item {
        std::optional<std::string> type;
        std::optional<std::string> text;
        std::optional<std::vector<ItemContent>> content;
        // `text` when not empty, else the content parts joined and trimmed; absent when empty.
        std::optional<std::string> agentText() const;
    };
    struct Usage {
        std::optional<int64_t> inputTokens;
        std::optional<int64_t> cachedInputTokens;
        std::optional<int64_t> outputTokens;
    };

    std::string type;
    std::optional<Item> item;
    std::optional<Usage> usage;
    std::optional<std::string> threadID;
    std::optional<std::string> errorMessage; // error.message
    bool hasError = false;
    std::optional<std::string> message;

    // error.message, else message.
    std::optional<std::string> readableMessage() const;
};

// Absent for a line that is not a JSON object with a string `type`, or has a member of the wrong type.
std::optional<CodexJSONEvent> decodeCodexEvent(std::string_view line);

// Updates the capture and returns the events to send, in order. Each "assistant.delta" is
// followed by the pacing pause (kChunkPause) when sent.
std::vector<KestroAgentStreamEvent> translateCodexEvent(const CodexJSONEvent& event, RunCapture& capture);
inline constexpr int kChunkPauseMilliseconds = 35;
inline bool pausesAfter(const KestroAgentStreamEvent& event) {
    return event.type == "assistant.delta";
}

// Words split at U+0020 only, in groups of three; every chunk but the last ends with a space.
std::vector<std::string> kestroStreamingChunks(std::string_view text);

// error.message, else message, of a JSON envelope; else the trimmed text.
std::string humanizeCodexMessage(std::string_view text);

} // namespace kestro
