#include "core/KestroAgentListener.h"

#include "core/AsioSupport.h"

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/ip/v6_only.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>
#include <asio/use_awaitable.hpp>
#include <fcntl.h>
#include <system_error>

namespace kestro {

namespace {

template <class Socket> void markCloseOnExec(Socket& socket) {
    ::fcntl(socket.native_handle(), F_SETFD, FD_CLOEXEC);
}

asio::ip::tcp::acceptor openAcceptor(asio::io_context& context, uint16_t port) {
    asio::ip::tcp::acceptor acceptor(context);
    asio::error_code error;
    // One IPv6 socket that also accepts IPv4; a system without IPv6 gets a plain IPv4 socket.
    acceptor.open(asio::ip::tcp::v6(), error);
    if (!error) {
        markCloseOnExec(acceptor);
        acceptor.set_option(asio::ip::v6_only(false), error);
        acceptor.set_option(asio::socket_base::reuse_address(true));
        acceptor.bind({asio::ip::address_v6::any(), port}, error);
        if (!error) {
            acceptor.listen(asio::socket_base::max_listen_connections);
            return acceptor;
        }
        if (error != asio::error::address_family_not_supported && error != std::errc::address_not_available)
            throw std::system_error(error, "Could not listen on port " + std::to_string(port));
        acceptor.close();
    }
    acceptor.open(asio::ip::tcp::v4());
    markCloseOnExec(acceptor);
    acceptor.set_option(asio::socket_base::reuse_address(true));
    acceptor.bind({asio::ip::address_v4::any(), port}, error);
    if (error) throw std::system_error(error, "Could not listen on port " + std::to_string(port));
    acceptor.listen(asio::socket_base::max_listen_connections);
    return acceptor;
}

} // namespace

KestroAgentListener::KestroAgentListener(asio::io_context& context, uint16_t port, RequestHandler handler,
                                         ConnectionLimits limits)
    : m_context(context), m_acceptor(openAcceptor(context, port)), m_handler(std::move(handler)),
      m_limits(limits) {}

void KestroAgentListener::start() {
    asio::co_spawn(m_context, acceptLoop(this), asio::detached);
}

asio::awaitable<void> KestroAgentListener::acceptLoop(KestroAgentListener* self) {
    while (true) {
        auto [error, socket] =
            co_await self->m_acceptor.async_accept(asio::make_strand(self->m_context), useTupleAwaitable);
        if (error == asio::error::operation_aborted) co_return;
        if (error) {
            // Out of descriptors or similar: pause briefly instead of spinning, then go on.
            asio::steady_timer pause(self->m_context, std::chrono::milliseconds(50));
            co_await pause.async_wait(useTupleAwaitable);
            continue;
        }
        markCloseOnExec(socket);
        // Events are small writes that must leave at once, not wait to be coalesced.
        asio::error_code ignored;
        socket.set_option(asio::ip::tcp::no_delay(true), ignored);
        auto connection = std::make_shared<KestroHTTPConnectionHandler>(std::move(socket), self->m_limits);
        const auto executor = connection->executor();
        asio::co_spawn(executor, KestroHTTPConnectionHandler::serve(std::move(connection), self->m_handler),
                       asio::detached);
    }
}

} // namespace kestro
