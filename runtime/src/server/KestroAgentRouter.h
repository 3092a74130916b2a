#pragma once
// Matches a request to its route, checks the token, asks the state for the answer, writes it,
// turns every failure into one {"error":…} answer and finishes the connection.

#include "core/WireRecords.h"
#include "server/KestroHTTPConnectionHandler.h"

#include <asio/awaitable.hpp>
#include <optional>

namespace kestro {

class KestroAgentService;
class SerialExecutor;

// The "/run" route: writes its own event stream (or throws before opening it).
class RunRequestHandler {
  public:
    virtual ~RunRequestHandler() = default;
    virtual asio::awaitable<void> handleRun(KestroAgentRunRequest request,
                                            KestroHTTPConnectionHandler& connection) = 0;
};

class KestroAgentRouter {
  public:
    // `bodyReader` decodes large request bodies, away from the threads that serve connections.
    KestroAgentRouter(KestroAgentService& service, SerialExecutor& bodyReader, RunRequestHandler& runHandler);

    asio::awaitable<void> handle(HTTPRequest request, KestroHTTPConnectionHandler& connection);

    // The answer a request's head alone decides: 404 for a route that does not exist, 401 for a
    // token that does not match; nothing otherwise. Reads only the configuration.
    std::optional<HTTPResponse> answerBeforeBody(const HTTPRequest& head) const;

  private:
    asio::awaitable<void> route(const HTTPRequest& request, KestroHTTPConnectionHandler& connection);
    template <class Record> asio::awaitable<Record> decoded(const std::string& body);

    KestroAgentService& m_service;
    SerialExecutor& m_bodyReader;
    RunRequestHandler& m_runHandler;
};

} // namespace kestro
