#pragma once
// A plain HTTP/1.1 client over loopback for black-box tests: raw exchanges, one-shot requests
// and run streams, plus waiting on a condition with a deadline.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kestro::testing {

// A free TCP port on this machine at the time of the call.
uint16_t freePort();

// A connected loopback socket to `port`, or -1.
int connectLoopback(uint16_t port);

// Reads one answer with a Content-Length from `fd` up to its last byte, without waiting for the
// server to close (it may linger); what came before the peer closed or failed, if sooner.
std::string readAnswer(int fd);

struct RawExchange {
    std::string received;                  // everything the server sent before closing
    std::chrono::milliseconds closedAfter; // time from the last byte written by the server to its close
};

// Sends the given pieces (with a pause between them), then reads until the server closes.
RawExchange exchange(uint16_t port, const std::vector<std::string>& pieces,
                     std::chrono::milliseconds pauseBetween = std::chrono::milliseconds(0),
                     std::chrono::milliseconds readTimeout = std::chrono::seconds(30));

struct HTTPAnswer {
    int status = 0;
    std::map<std::string, std::string> headers; // lower-case names
    std::string body;
};
HTTPAnswer parseAnswer(const std::string& raw);

// One request with the given method, path, headers and body.
HTTPAnswer request(uint16_t port, const std::string& method, const std::string& path,
                   const std::map<std::string, std::string>& headers = {}, const std::string& body = "");

// The events of a run stream ("data: " lines, JSON decoded) and whether it ended with [DONE].
struct RunStream {
    int status = 0;
    std::vector<std::string> events; // JSON texts, in order
    bool done = false;
};
RunStream parseRunStream(const HTTPAnswer& answer);
RunStream run(uint16_t port, const std::string& token, const std::string& body);

// Polls `condition` until it holds or the deadline passes; the last value.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::seconds(10));

} // namespace kestro::testing
