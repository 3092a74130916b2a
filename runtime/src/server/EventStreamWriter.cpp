#include "server/EventStreamWriter.h"

#include "core/HTTPMessage.h"

namespace kestro {

asio::awaitable<void> EventStreamWriter::open() {
    const std::string head = eventStreamHead();
    co_await m_connection.sendRaw(head);
}

asio::awaitable<void> EventStreamWriter::send(const KestroAgentStreamEvent& event) {
    const std::string frame = "data: " + encodeRecord(event) + "\n\n";
    co_await m_connection.sendRaw(frame);
}

asio::awaitable<void> EventStreamWriter::finish() {
    co_await m_connection.sendRaw("data: [DONE]\n\n");
}

} // namespace kestro
