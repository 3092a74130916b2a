#include "core/HTTPMessage.h"

#include "text/Numbers.h"
#include "text/Text.h"

#include <nlohmann/json.hpp>

namespace kestro {

namespace {

constexpr std::string_view kHeadEnd = "\r\n\r\n";

// A decimal integer as a whole; anything else counts as no body. Negative counts as 0.
size_t contentLength(const std::map<std::string, std::string>& headers) {
    const auto found = headers.find("content-length");
    if (found == headers.end()) return 0;
    const auto decimal = parseDecimal(found->second, true);
    if (!decimal || decimal->negative) return 0;
    if (decimal->overflowed || decimal->magnitude > kMaximumBodyBytes) return kMaximumBodyBytes + 1;
    return static_cast<size_t>(decimal->magnitude);
}

HeadResult refused(int status, std::string_view message) {
    return {ParseOutcome::refused,
            {},
            {.status = status, .contentType = "application/json", .body = errorBody(message)}};
}

HeadResult tooLarge() {
    return refused(400, "Request too large.");
}

} // namespace

HeadResult parseHead(std::string_view buffer, size_t searchFrom) {
    // The end of a head may straddle the bytes already searched.
    const size_t headEnd =
        buffer.find(kHeadEnd, searchFrom < kHeadEnd.size() ? 0 : searchFrom - kHeadEnd.size() + 1);
    if (headEnd == std::string_view::npos)
        return buffer.size() > kMaximumHeadBytes + kHeadEnd.size() ? tooLarge() : HeadResult{};
    if (headEnd > kMaximumHeadBytes) return tooLarge();

    const std::string head = decodeUTF8Lossy(buffer.substr(0, headEnd));
    const std::vector<std::string> lines = splitOn(head, "\r\n");
    std::vector<std::string> words;
    for (auto& word : splitOn(lines.front(), " "))
        if (!word.empty()) words.push_back(std::move(word));
    // Such a head never becomes a request: waiting on would only let the peer fill the buffer.
    if (words.size() < 2) return refused(400, "Malformed request.");

    HTTPRequest request;
    request.method = words[0];
    request.path = words[1];
    for (size_t i = 1; i < lines.size(); ++i) {
        if (startsWith(lines[i], " ") || startsWith(lines[i], "\t"))
            return refused(400, "Malformed request.");
        const size_t colon = lines[i].find(':');
        if (colon == std::string::npos) continue;
        request.headers[lowercased(trimmed(std::string_view(lines[i]).substr(0, colon)))] =
            trimmed(std::string_view(lines[i]).substr(colon + 1));
    }
    if (request.headers.contains("transfer-encoding"))
        return refused(501, "Transfer-Encoding is not supported; send a Content-Length body.");
    const size_t length = contentLength(request.headers);
    if (length > kMaximumBodyBytes) return tooLarge();
    return {ParseOutcome::complete, {std::move(request), headEnd + kHeadEnd.size(), length}, {}};
}

ParseResult parseRequest(std::string_view buffer) {
    HeadResult parsed = parseHead(buffer);
    if (parsed.outcome == ParseOutcome::refused)
        return {ParseOutcome::refused, {}, std::move(parsed.refusal)};
    if (parsed.outcome == ParseOutcome::incomplete) return {};
    RequestHead& head = parsed.head;
    if (buffer.size() < head.bodyStart + head.bodyLength) return {};
    head.request.body = std::string(buffer.substr(head.bodyStart, head.bodyLength));
    return {ParseOutcome::complete, std::move(head.request), {}};
}

std::string reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    default:
        return "Error";
    }
}

std::string serializedResponse(const HTTPResponse& response) {
    std::string out =
        "HTTP/1.1 " + std::to_string(response.status) + " " + reasonPhrase(response.status) + "\r\n";
    out += "Content-Type: " + response.contentType + "\r\n";
    out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    out += "Connection: close\r\n";
    out += "Access-Control-Allow-Origin: *\r\n\r\n";
    out += response.body;
    return out;
}

std::string eventStreamHead() {
    return "HTTP/1.1 200 OK\r\n"
           "Content-Type: text/event-stream\r\n"
           "Cache-Control: no-cache\r\n"
           "Connection: close\r\n"
           "Access-Control-Allow-Origin: *\r\n\r\n";
}

std::string errorBody(std::string_view message) {
    const std::string quoted =
        nlohmann::json(std::string(message)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return "{\"error\":" + quoted + "}";
}

} // namespace kestro
