#pragma once
// The "/run" route: opens a run on the state, runs the prompt through Codex and streams the run
// as server-sent events.

#include "server/KestroAgentRouter.h"

namespace kestro {

class KestroAgentState;
class RunProcessGroups;

class RunEndpoint final : public RunRequestHandler {
  public:
    // Every run's process group is listed in `groups` while it runs.
    RunEndpoint(KestroAgentState& state, RunProcessGroups& groups) : m_state(state), m_groups(groups) {}
    asio::awaitable<void> handleRun(KestroAgentRunRequest request,
                                    KestroHTTPConnectionHandler& connection) override;

  private:
    KestroAgentState& m_state;
    RunProcessGroups& m_groups;
};

} // namespace kestro
