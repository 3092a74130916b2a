#pragma once
// One accepted TCP connection: reads one request, hands it to the request handler, writes the
// answer or the bytes of an event stream, lingers 0.5 s and closes. All of it runs on the connection's
// strand.

#include "core/HTTPMessage.h"

#include <asio/awaitable.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace kestro {

class ConnectionAdmission;
class KestroHTTPConnectionHandler;

// Answers one parsed request on its connection, finishing the connection when done.
using RequestHandler = std::function<asio::awaitable<void>(HTTPRequest, KestroHTTPConnectionHandler&)>;

// Looks at a request's head before its body is read: an answer that needs no body (a request
// nobody may make, or to nowhere), or nothing to go on reading. Never blocks.
using HeadCheck = std::function<std::optional<HTTPResponse>(const HTTPRequest&)>;

struct ConnectionLimits {
    std::chrono::milliseconds requestTimeout{30'000};
    std::chrono::milliseconds linger{500};
    std::chrono::milliseconds writeTimeout{30'000};
};

class KestroHTTPConnectionHandler {
  public:
    // While its request is still coming in, the connection is listed in `admission` (if any),
    // which may have it closed to make room for others.
    KestroHTTPConnectionHandler(asio::ip::tcp::socket socket, ConnectionLimits limits,
                                ConnectionAdmission* admission = nullptr);
    ~KestroHTTPConnectionHandler();
    KestroHTTPConnectionHandler(const KestroHTTPConnectionHandler&) = delete;
    KestroHTTPConnectionHandler& operator=(const KestroHTTPConnectionHandler&) = delete;

    // Serves the connection to its end; `self` keeps the handler alive meanwhile. The head is read
    // and checked first; only a request that passes has its body read.
    static asio::awaitable<void> serve(std::shared_ptr<KestroHTTPConnectionHandler> self, HeadCheck checkHead,
                                       RequestHandler handler);

    // Writers: each suspends until the bytes are handed to the transport; failures throw.
    asio::awaitable<void> send(const HTTPResponse& response);
    asio::awaitable<void> sendRaw(std::string_view bytes);

    // Waits the linger time on a timer, then closes the connection.
    asio::awaitable<void> finishConnection();

    asio::any_io_executor executor() { return m_socket.get_executor(); }

    // Closes the connection if its request is still coming in; run on its executor. A request
    // that has arrived meanwhile is answered as usual.
    void closeIfWaiting();

  private:
    void close();
    void stopWaiting();
    // Answers without reading on, then finishes the connection.
    asio::awaitable<void> answerAndFinish(const HTTPResponse& answer);

    asio::ip::tcp::socket m_socket;
    ConnectionLimits m_limits;
    ConnectionAdmission* m_admission;
    bool m_waiting = true;
    std::string m_buffer;
    asio::error_code m_writeFailure;
};

} // namespace kestro
