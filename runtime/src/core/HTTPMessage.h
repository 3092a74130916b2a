#pragma once
// HTTP/1.1 request parsing and response framing. Pure functions over bytes.

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kestro {

struct HTTPRequest {
    std::string method;
    std::string path;                           // raw request target, query included
    std::map<std::string, std::string> headers; // lower-case names, trimmed names and values
    std::string body;
    bool operator==(const HTTPRequest&) const = default;
};

struct HTTPResponse {
    int status = 200;
    std::string contentType;
    std::string body;
};

inline constexpr size_t kMaximumHeadBytes = 64 * 1024;
inline constexpr size_t kMaximumBodyBytes = 8 * 1024 * 1024;
// The most a connection ever holds: a full head, its end and a full body.
inline constexpr size_t kMaximumRequestBytes = kMaximumHeadBytes + 4 + kMaximumBodyBytes;

enum class ParseOutcome { incomplete, complete, refused };

struct ParseResult {
    ParseOutcome outcome = ParseOutcome::incomplete;
    HTTPRequest request;  // set when complete
    HTTPResponse refusal; // set when refused: the answer before the connection closes
};

// Looks for one complete request at the start of `buffer`; bytes after it are ignored.
// Refused, as soon as the head shows it: a head or body over the limits above (400), a header
// continuation line (400: it could smuggle a header past a reader that folds lines), and any
// Transfer-Encoding (501: only Content-Length bodies are read).
ParseResult parseRequest(std::string_view buffer);

std::string reasonPhrase(int status);

// Head and body of a complete response.
std::string serializedResponse(const HTTPResponse& response);

// The head that opens a server-sent-event stream.
std::string eventStreamHead();

// {"error":"…"} with the message escaped as a JSON string.
std::string errorBody(std::string_view message);

} // namespace kestro
