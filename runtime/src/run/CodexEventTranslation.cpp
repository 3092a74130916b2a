#include "run/CodexEventTranslation.h"

#include "text/Text.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace kestro {

namespace {

using json = nlohmann::json;

// Thrown inside decoding only: a member with the wrong JSON type.
struct WrongType {};

const json* member(const json& object, const char* name) {
    const auto found = object.find(name);
    if (found == object.end() || found->is_null()) return nullptr;
    return &*found;
}

std::optional<std::string> optionalString(const json& object, const char* name) {
    const json* value = member(object, name);
    if (value == nullptr) return std::nullopt;
    if (!value->is_string()) throw WrongType{};
    return value->get<std::string>();
}

std::optional<int64_t> optionalInteger(const json& object, const char* name) {
    const json* value = member(object, name);
    if (value == nullptr) return std::nullopt;
    if (value->is_number_integer()) return value->get<int64_t>();
    if (value->is_number_float()) {
        const double number = value->get<double>();
        if (std::trunc(number) == number && std::abs(number) < 9.2e18) return static_cast<int64_t>(number);
    }
    throw WrongType{};
}

const json* optionalObject(const json& object, const char* name) {
    const json* value = member(object, name);
    if (value != nullptr && !value->is_object()) throw WrongType{};
    return value;
}

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
    const json document = json::parse(line, nullptr, false);
    if (document.is_discarded() || !document.is_object()) return std::nullopt;
    try {
        CodexJSONEvent event;
        const auto type = optionalString(document, "type");
        if (!type) return std::nullopt;
        event.type = *type;
        if (const json* item = optionalObject(document, "item")) {
            CodexJSONEvent::Item decoded;
            decoded.type = optionalString(*item, "type");
            decoded.text = optionalString(*item, "text");
            if (const json* content = member(*item, "content")) {
                if (!content->is_array()) throw WrongType{};
                decoded.content.emplace();
                for (const auto& part : *content) {
                    if (!part.is_object()) throw WrongType{};
                    decoded.content->push_back({optionalString(part, "type"), optionalString(part, "text")});
                }
            }
            event.item = std::move(decoded);
        }
        if (const json* usage = optionalObject(document, "usage")) {
            event.usage = CodexJSONEvent::Usage{optionalInteger(*usage, "input_tokens"),
                                                optionalInteger(*usage, "cached_input_tokens"),
                                                optionalInteger(*usage, "output_tokens")};
        }
        event.threadID = optionalString(document, "thread_id");
        if (const json* error = optionalObject(document, "error")) {
            event.hasError = true;
            event.errorMessage = optionalString(*error, "message");
        }
        event.message = optionalString(document, "message");
        return event;
    } catch (const WrongType&) {
        return std::nullopt;
    }
}

std::vector<KestroAgentStreamEvent> translateCodexEvent(const CodexJSONEvent& event, RunCapture& capture) {
    std::vector<KestroAgentStreamEvent> events;
    if (event.type == "thread.started") {
        if (event.threadID && !event.threadID->empty()) {
            capture.storeThreadID(*event.threadID);
            events.push_back({.type = "thread.started", .message = "Codex session linked", .threadID = event.threadID});
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
        for (auto& chunk : kestroStreamingChunks(*text)) events.push_back({.type = "assistant.delta", .text = std::move(chunk)});
    } else if (event.type == "error" || event.type == "turn.failed") {
        capture.storeProtocolErrorMessage(event.readableMessage().value_or("Codex reported an unknown error."));
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
    const json document = json::parse(trimmedText, nullptr, false);
    if (document.is_discarded() || !document.is_object()) return trimmedText;
    try {
        std::optional<std::string> nested;
        if (const json* error = optionalObject(document, "error")) nested = optionalString(*error, "message");
        const auto topLevel = optionalString(document, "message");
        if (nested) return *nested;
        if (topLevel) return *topLevel;
        return trimmedText;
    } catch (const WrongType&) {
        return trimmedText;
    }
}

} // namespace kestro
