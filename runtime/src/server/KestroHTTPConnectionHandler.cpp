#include "server/KestroHTTPConnectionHandler.h"

#include "server/AsioSupport.h"
#include "server/ConnectionAdmission.h"

#include <algorithm>
#include <array>
#include <asio/buffer.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>

using namespace asio::experimental::awaitable_operators;

namespace kestro {

namespace {
constexpr size_t kReceiveChunk = 64 * 1024;
}

KestroHTTPConnectionHandler::KestroHTTPConnectionHandler(asio::ip::tcp::socket socket,
                                                         ConnectionLimits limits,
                                                         ConnectionAdmission* admission)
    : m_socket(std::move(socket)), m_limits(limits), m_admission(admission) {}

KestroHTTPConnectionHandler::~KestroHTTPConnectionHandler() {
    stopWaiting();
}

void KestroHTTPConnectionHandler::stopWaiting() {
    if (!m_waiting) return;
    m_waiting = false;
    if (m_admission != nullptr) m_admission->leave(this);
}

void KestroHTTPConnectionHandler::closeIfWaiting() {
    if (m_waiting) close();
}

asio::awaitable<void> KestroHTTPConnectionHandler::serve(std::shared_ptr<KestroHTTPConnectionHandler> self,
                                                         HeadCheck checkHead, RequestHandler handler) {
    asio::steady_timer deadline(self->m_socket.get_executor());
    deadline.expires_after(self->m_limits.requestTimeout);
    std::string& buffer = self->m_buffer;
    std::optional<RequestHead> head;
    asio::error_code mode;
    self->m_socket.non_blocking(true, mode); // a read after the wait never holds the thread
    while (true) {
        // Waits without a buffer, so that an idle or lingering connection holds no receive
        // memory; then takes what has arrived (of the body, no more than the request holds).
        auto outcome = co_await (self->m_socket.async_wait(asio::socket_base::wait_read, useTupleAwaitable) ||
                                 deadline.async_wait(useTupleAwaitable));
        if (outcome.index() == 1) {
            // No complete request in time: close without an answer.
            self->close();
            co_return;
        }
        asio::error_code error = std::get<0>(std::get<0>(outcome));
        const size_t waiting = error ? 0 : self->m_socket.available(error);
        const size_t used = buffer.size();
        const size_t wanted = head ? head->bodyStart + head->bodyLength - used : kReceiveChunk;
        buffer.resize(used + std::clamp<size_t>(waiting, 1, std::min(wanted, kReceiveChunk)));
        const size_t received =
            error ? 0
                  : self->m_socket.read_some(asio::buffer(buffer.data() + used, buffer.size() - used), error);
        buffer.resize(used + received);
        if (error == asio::error::would_block || error == asio::error::try_again) continue;
        if (error || received == 0) {
            self->close();
            co_return;
        }
        if (!head) {
            // The head is read once, when it is whole; then only the body's bytes are counted.
            HeadResult parsed = parseHead(buffer, used);
            if (parsed.outcome == ParseOutcome::incomplete) continue;
            self->stopWaiting();
            if (parsed.outcome == ParseOutcome::refused) {
                co_await self->answerAndFinish(parsed.refusal);
                co_return;
            }
            // Nobody without the token makes the runtime hold a body.
            if (const auto answer = checkHead(parsed.head.request)) {
                co_await self->answerAndFinish(*answer);
                co_return;
            }
            head = std::move(parsed.head);
            buffer.reserve(head->bodyStart + head->bodyLength);
        }
        if (buffer.size() < head->bodyStart + head->bodyLength) continue;
        HTTPRequest request = std::move(head->request);
        request.body = buffer.substr(head->bodyStart, head->bodyLength);
        // The request is out; its bytes are not kept while it is answered and the connection lingers.
        std::string().swap(buffer);
        asio::awaitable<void> handling = handler(std::move(request), *self);
        co_await std::move(handling);
        co_return;
    }
}

asio::awaitable<void> KestroHTTPConnectionHandler::answerAndFinish(const HTTPResponse& answer) {
    std::string().swap(m_buffer);
    try {
        co_await send(answer);
    } catch (const std::exception&) {
        // The peer is gone; nothing more can be said.
    }
    co_await finishConnection();
}

asio::awaitable<void> KestroHTTPConnectionHandler::send(const HTTPResponse& response) {
    const std::string bytes = serializedResponse(response);
    co_await sendRaw(bytes);
}

asio::awaitable<void> KestroHTTPConnectionHandler::sendRaw(std::string_view text) {
    // A plain socket has no message boundaries: bytes go out in order; only finishConnection closes.
    // Once a write has failed the connection is broken for good: later writes fail at once
    // (the reactor would not report the error a second time and they would wait for ever).
    if (m_writeFailure) throw std::system_error(m_writeFailure);
    // Most writes fit in the socket buffer: hand them over at once, without waiting machinery.
    asio::error_code immediate;
    m_socket.non_blocking(true, immediate);
    const size_t written =
        immediate ? 0 : m_socket.write_some(asio::buffer(text.data(), text.size()), immediate);
    if (immediate && immediate != asio::error::would_block && immediate != asio::error::try_again) {
        m_writeFailure = immediate;
        throw std::system_error(m_writeFailure);
    }
    text.remove_prefix(written);
    if (text.empty()) co_return;
    asio::steady_timer deadline(m_socket.get_executor());
    deadline.expires_after(m_limits.writeTimeout);
    auto outcome =
        co_await (asio::async_write(m_socket, asio::buffer(text.data(), text.size()), useTupleAwaitable) ||
                  deadline.async_wait(useTupleAwaitable));
    if (outcome.index() == 1) {
        // A peer that stops reading is treated like one that has gone.
        m_writeFailure = asio::error::timed_out;
    } else if (auto [error, ignoredCount] = std::get<0>(outcome); error) {
        m_writeFailure = error;
    }
    if (m_writeFailure) throw std::system_error(m_writeFailure);
}

asio::awaitable<void> KestroHTTPConnectionHandler::finishConnection() {
    asio::steady_timer linger(m_socket.get_executor());
    linger.expires_after(m_limits.linger);
    co_await linger.async_wait(useTupleAwaitable);
    close();
}

void KestroHTTPConnectionHandler::close() {
    if (!m_socket.is_open()) return;
    asio::error_code ignored;
    // Unread bytes (a second pipelined request) would turn the close into a reset that can
    // destroy our answer before the peer reads it, so discard what has arrived first: only what
    // is there now, and no more than a request's worth, since a peer that keeps sending could
    // otherwise hold this thread for as long as it likes.
    std::array<char, 4096> sink;
    m_socket.non_blocking(true, ignored);
    size_t left = std::min(m_socket.available(ignored), kMaximumRequestBytes);
    while (left > 0 && !ignored) {
        const size_t got =
            m_socket.read_some(asio::buffer(sink.data(), std::min(left, sink.size())), ignored);
        if (got == 0) break;
        left -= got;
    }
    m_socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    m_socket.close(ignored);
}

} // namespace kestro
