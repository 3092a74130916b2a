#include "run/RunEndpoint.h"

#include "core/KestroAgentError.h"
#include "core/SerialExecutor.h"
#include "status/KestroAgentState.h"

namespace kestro {

asio::awaitable<void> RunEndpoint::handleRun(std::string body, KestroHTTPConnectionHandler& connection) {
    const auto request = decodeRecord<KestroAgentRunRequest>(body);
    (void)request;
    (void)connection;
    auto readPath = [this] { return m_state.codexPath(); };
    const auto codexPath = co_await m_serial.run(readPath);
    if (!codexPath) throw KestroAgentError::codexUnavailable();
    throw KestroAgentError::processFailed("Codex runs are not available in this build.");
}

} // namespace kestro
