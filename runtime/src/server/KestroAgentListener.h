#pragma once
// The TCP listener: on every interface and address family, or on one local address. Binding
// happens in the constructor, so an address or port that cannot be had is a start-up failure
// (std::system_error, or std::invalid_argument for a text that is no address) before any banner
// line.

#include "server/ConnectionAdmission.h"
#include "server/KestroHTTPConnectionHandler.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/strand.hpp>
#include <cstdint>
#include <string>

namespace kestro {

class KestroAgentListener {
  public:
    // `bindAddress` empty: every interface.
    KestroAgentListener(asio::io_context& context, const std::string& bindAddress, uint16_t port,
                        HeadCheck checkHead, RequestHandler handler, ConnectionLimits limits = {},
                        AdmissionLimits admission = {});

    // Starts accepting; each connection is served on its own strand.
    void start();
    // Stops accepting new connections; those already taken go on. From any thread.
    void stop();

    uint16_t port() const { return m_acceptor.local_endpoint().port(); }

  private:
    static asio::awaitable<void> acceptLoop(KestroAgentListener* self);

    asio::io_context& m_context;
    // The accepting coroutine and stop() take turns on it.
    asio::strand<asio::io_context::executor_type> m_strand;
    asio::ip::tcp::acceptor m_acceptor;
    HeadCheck m_checkHead;
    RequestHandler m_handler;
    ConnectionLimits m_limits;
    ConnectionAdmission m_admission;
};

} // namespace kestro
