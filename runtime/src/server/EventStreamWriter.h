#pragma once
// One server-sent-event stream on a connection: the stream head, one "data: {json}" frame per
// event, and the closing "data: [DONE]". Runs on the connection's strand; each call suspends
// until the bytes are handed to the transport and throws when they cannot be.

#include "core/WireRecords.h"
#include "server/KestroHTTPConnectionHandler.h"

#include <asio/awaitable.hpp>

namespace kestro {

class EventStreamWriter {
  public:
    explicit EventStreamWriter(KestroHTTPConnectionHandler& connection) : m_connection(connection) {}

    asio::awaitable<void> open();
    asio::awaitable<void> send(const KestroAgentStreamEvent& event);
    asio::awaitable<void> finish();

  private:
    KestroHTTPConnectionHandler& m_connection;
};

} // namespace kestro
