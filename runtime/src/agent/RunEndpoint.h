#pragma once
// The "/run" route: opens a run on the state, runs the prompt through Codex and streams the run
// as server-sent events.

#include "core/KestroAgentRouter.h"

namespace kestro {

class KestroAgentState;
class SerialExecutor;

class RunEndpoint final : public RunRequestHandler {
  public:
    RunEndpoint(KestroAgentState& state, SerialExecutor& serial) : m_state(state), m_serial(serial) {}
    asio::awaitable<void> handleRun(std::string body, KestroHTTPConnectionHandler& connection) override;

  private:
    KestroAgentState& m_state;
    SerialExecutor& m_serial;
};

} // namespace kestro
