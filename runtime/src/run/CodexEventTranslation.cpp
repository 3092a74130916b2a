#include "run/CodexEventTranslation.h"

#include "core/LenientJSON.h"
#include "text/Text.h"

namespace kestro {

namespace {

KestroAgentUsagePayload usagePayload(const std::optional<CodexJSONEvent::Usage>& usage) {
    if (!usage) return {};
    return {.inputTokens = usage->inputTokens,
            .cachedInputTokens = usage->cachedInputTokens,
            .outputTokens = usage->outputTokens};
}

} // namespace

std::optional<std::string> CodexJSONEvent::Item::agentText() const {
    if (text && !text->empty()) return text;
    if (!content) return std::nullopt;
    std::string joined;
    for (const auto& part : *content)
        if (part.text) joined += *part.text;
    joined = trimmed(joined);
    if (joined.empty()) return std::nullopt;
    return joined;
}

std::optional<std::string> CodexJSONEvent::readableMessage() const {
    if (errorMessage) return errorMessage;
    return message;
}

std::optional<CodexJSONEvent> decodeCodexEvent(std::string_view line) {
    const auto document = parseJSONObject(line);
    if (!document) return std::nullopt;
    JSONMembers members(*document);
    CodexJSONEvent event;
    const auto type = members.string("type");
    if (!type) return std::nullopt;
    event.type = *type;
    if (const JSON* item = members.object("item")) {
        JSONMembers itemMembers(*item);
        CodexJSONEvent::Item decoded{.type = itemMembers.string("type"), .text = itemMembers.string("text")};
        if (const JSON* content = itemMembers.array("content")) {
            decoded.content.emplace();
            for (const auto& part : *content) {
                if (!part.is_object()) return std::nullopt;
                JSONMembers partMembers(part);
                decoded.content->push_back({partMembers.string("type"), partMembers.string("text")});
                if (partMembers.sawWrongType()) return std::nullopt;
            }
        }
        if (itemMembers.sawWrongType()) return std::nullopt;
        event.item = std::move(decoded);
    }
    if (const JSON* usage = members.object("usage")) {
        JSONMembers usageMembers(*usage);
        event.usage = CodexJSONEvent::Usage{usageMembers.integer("input_tokens"),
                                            usageMembers.integer("cached_input_tokens"),
                                            usageMembers.integer("output_tokens")};
        if (usageMembers.sawWrongType()) return std::nullopt;
    }
    event.threadID = members.string("thread_id");
    if (const JSON* error = members.object("error")) {
        JSONMembers errorMembers(*error);
        event.hasError = true;
        event.errorMessage = errorMembers.string("message");
        if (errorMembers.sawWrongType()) return std::nullopt;
    }
    event.message = members.string("message");
    if (members.sawWrongType()) return std::nullopt;
    return event;
}

std::vector<KestroAgentStreamEvent> translateCodexEvent(const CodexJSONEvent& event, RunCapture& capture) {
    std::vector<KestroAgentStreamEvent> events;
    if (event.type == "thread.started") {
        if (event.threadID && !event.threadID->empty()) {
            capture.storeThreadID(*event.threadID);
            events.push_back(
                {.type = "thread.started", .message = "Codex session linked", .threadID = event.threadID});
        } else {
            events.push_back({.type = "job.progress", .message = "Codex session started"});
        }
    } else if (event.type == "turn.started") {
        events.push_back({.type = "job.progress", .message = "Codex is reasoning"});
    } else if (event.type == "item.completed") {
        if (!event.item || event.item->type != "agent_message") return events;
        const auto text = event.item->agentText();
        if (!text || text->empty()) return events;
        capture.appendFinalText(*text);
        events.push_back({.type = "job.progress", .message = "Streaming response"});
        for (auto& chunk : kestroStreamingChunks(*text))
            events.push_back({.type = "assistant.delta", .text = std::move(chunk)});
    } else if (event.type == "error" || event.type == "turn.failed") {
        capture.storeProtocolErrorMessage(
            event.readableMessage().value_or("Codex reported an unknown error."));
    } else if (event.type == "turn.completed") {
        const KestroAgentUsagePayload usage = usagePayload(event.usage);
        capture.storeUsage(usage);
        events.push_back({.type = "job.progress", .message = "Codex finished generating", .usage = usage});
    }
    return events;
}

std::vector<std::string> kestroStreamingChunks(std::string_view text) {
    std::vector<std::string> words;
    for (auto& piece : splitOn(text, " "))
        if (!piece.empty()) words.push_back(std::move(piece));
    std::vector<std::string> chunks;
    for (size_t start = 0; start < words.size(); start += 3) {
        std::string chunk;
        for (size_t i = start; i < std::min(start + 3, words.size()); ++i) {
            if (i > start) chunk += " ";
            chunk += words[i];
        }
        if (start + 3 < words.size()) chunk += " ";
        chunks.push_back(std::move(chunk));
    }
    return chunks;
}

std::string humanizeCodexMessage(std::string_view text) {
    const std::string trimmedText = trimmed(text);
    const auto document = parseJSONObject(trimmedText);
    if (!document) return trimmedText;
    JSONMembers members(*document);
    std::optional<std::string> nested;
    if (const JSON* error = members.object("error")) {
        JSONMembers errorMembers(*error);
        nested = errorMembers.string("message");
        if (errorMembers.sawWrongType()) return trimmedText;
    }
    const auto topLevel = members.string("message");
    if (members.sawWrongType()) return trimmedText;
    if (nested) return *nested;
    if (topLevel) return *topLevel;
    return trimmedText;
}

} // namespace kestro
