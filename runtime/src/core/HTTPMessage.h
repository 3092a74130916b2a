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

// A request's head once it has arrived whole: the request without its body, and where the body
// begins and how long it is.
struct RequestHead {
    HTTPRequest request; // body empty
    size_t bodyStart = 0;
    size_t bodyLength = 0;
};

struct HeadResult {
    ParseOutcome outcome = ParseOutcome::incomplete;
    RequestHead head;     // set when complete
    HTTPResponse refusal; // set when refused: the answer before the connection closes
};

// Looks for a whole head at the start of `buffer`; the bytes before `searchFrom` are known to hold
// no end of a head (so a head arriving in pieces is searched once over). Refused, as soon as the
// head shows it: a head over the limit (400), a request line of fewer than two words (400), a
// header continuation line (400: it could smuggle a header past a reader that folds lines), any
// Transfer-Encoding (501: only Content-Length bodies are read), and a body over the limit (400).
HeadResult parseHead(std::string_view buffer, size_t searchFrom = 0);

struct ParseResult {
    ParseOutcome outcome = ParseOutcome::incomplete;
    HTTPRequest request;  // set when complete
    HTTPResponse refusal; // set when refused
};

// One complete request at the start of `buffer`, head and body; bytes after it are ignored.
ParseResult parseRequest(std::string_view buffer);

std::string reasonPhrase(int status);

// Head and body of a complete response.
std::string serializedResponse(const HTTPResponse& response);

// The head that opens a server-sent-event stream.
std::string eventStreamHead();

// {"error":"…"} with the message escaped as a JSON string.
std::string errorBody(std::string_view message);

} // namespace kestro
