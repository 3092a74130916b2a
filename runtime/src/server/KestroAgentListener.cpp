#include "server/KestroAgentListener.h"

#include "server/AsioSupport.h"

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/ip/v6_only.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>
#include <asio/use_awaitable.hpp>
#include <fcntl.h>
#include <stdexcept>
#include <system_error>

namespace kestro {

namespace {

template <class Socket> void markCloseOnExec(Socket& socket) {
    ::fcntl(socket.native_handle(), F_SETFD, FD_CLOEXEC);
}

void listenOn(asio::ip::tcp::acceptor& acceptor, const asio::ip::tcp::endpoint& endpoint) {
    acceptor.open(endpoint.protocol());
    markCloseOnExec(acceptor);
    acceptor.set_option(asio::socket_base::reuse_address(true));
    asio::error_code error;
    acceptor.bind(endpoint, error);
    if (error)
        throw std::system_error(
            error,
            "Could not listen on " +
                (endpoint.address().is_unspecified() ? std::string() : endpoint.address().to_string() + " ") +
                "port " + std::to_string(endpoint.port()));
    acceptor.listen(asio::socket_base::max_listen_connections);
}

asio::ip::tcp::acceptor openAcceptor(asio::io_context& context, const std::string& bindAddress,
                                     uint16_t port) {
    asio::ip::tcp::acceptor acceptor(context);
    asio::error_code error;
    if (!bindAddress.empty()) {
        const asio::ip::address address = asio::ip::make_address(bindAddress, error);
        if (error)
            throw std::invalid_argument("The bind address \"" + bindAddress +
                                        "\" is not an IP address (such as 127.0.0.1 or ::1).");
        listenOn(acceptor, {address, port});
        return acceptor;
    }
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
    listenOn(acceptor, {asio::ip::address_v4::any(), port});
    return acceptor;
}

// Has a connection that still waits for its request closed, on its own strand.
void closeWaiting(std::shared_ptr<KestroHTTPConnectionHandler> connection) {
    const auto executor = connection->executor();
    asio::post(executor, [connection = std::move(connection)] { connection->closeIfWaiting(); });
}

} // namespace

KestroAgentListener::KestroAgentListener(asio::io_context& context, const std::string& bindAddress,
                                         uint16_t port, HeadCheck checkHead, RequestHandler handler,
                                         ConnectionLimits limits, AdmissionLimits admission)
    : m_context(context), m_strand(asio::make_strand(context)),
      m_acceptor(openAcceptor(context, bindAddress, port)), m_checkHead(std::move(checkHead)),
      m_handler(std::move(handler)), m_limits(limits), m_admission(admission) {}

void KestroAgentListener::start() {
    asio::co_spawn(m_strand, acceptLoop(this), asio::detached);
}

void KestroAgentListener::stop() {
    asio::post(m_strand, [this] {
        asio::error_code ignored;
        m_acceptor.close(ignored);
    });
}

asio::awaitable<void> KestroAgentListener::acceptLoop(KestroAgentListener* self) {
    while (true) {
        auto [error, socket] =
            co_await self->m_acceptor.async_accept(asio::make_strand(self->m_context), useTupleAwaitable);
        if (error == asio::error::operation_aborted) co_return;
        if (error == asio::error::no_descriptors || error == std::errc::too_many_files_open_in_system) {
            // Out of descriptors: the oldest connection still sending its request gives up its
            // own, and the new one is taken at once.
            if (auto oldest = self->m_admission.takeOldest()) {
                closeWaiting(std::move(oldest));
                // Lets the close run before the next try, so that one connection makes room for one.
                co_await asio::post(self->m_strand, asio::use_awaitable);
                continue;
            }
        }
        if (error) {
            // Out of memory or similar with nothing to give back: pause instead of spinning.
            asio::steady_timer pause(self->m_strand, std::chrono::milliseconds(50));
            co_await pause.async_wait(useTupleAwaitable);
            continue;
        }
        markCloseOnExec(socket);
        // Events are small writes that must leave at once, not wait to be coalesced.
        asio::error_code ignored;
        socket.set_option(asio::ip::tcp::no_delay(true), ignored);
        const asio::ip::tcp::endpoint peer = socket.remote_endpoint(ignored);
        auto connection = std::make_shared<KestroHTTPConnectionHandler>(std::move(socket), self->m_limits,
                                                                        &self->m_admission);
        for (auto& crowded : self->m_admission.admit(connection, peer.address()))
            closeWaiting(std::move(crowded));
        const auto executor = connection->executor();
        asio::co_spawn(
            executor,
            KestroHTTPConnectionHandler::serve(std::move(connection), self->m_checkHead, self->m_handler),
            asio::detached);
    }
}

} // namespace kestro
