#pragma once
// The TCP listener on every interface and address family. Binding happens in the constructor,
// so a port that cannot be had is a start-up failure (std::system_error) before any banner line.

#include "core/KestroHTTPConnectionHandler.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <cstdint>

namespace kestro {

class KestroAgentListener {
  public:
    KestroAgentListener(asio::io_context& context, uint16_t port, RequestHandler handler,
                        ConnectionLimits limits = {});

    // Starts accepting; each connection is served on its own strand.
    void start();

    uint16_t port() const { return m_acceptor.local_endpoint().port(); }

  private:
    static asio::awaitable<void> acceptLoop(KestroAgentListener* self);

    asio::io_context& m_context;
    asio::ip::tcp::acceptor m_acceptor;
    RequestHandler m_handler;
    ConnectionLimits m_limits;
};

} // namespace kestro
