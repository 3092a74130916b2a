#include "agent/RunEndpoint.h"

#include "agent/KestroAgentState.h"
#include "core/KestroAgentError.h"
#include "run/CodexEventTranslation.h"
#include "server/EventStreamWriter.h"

namespace kestro {

namespace {

// Closes the run on the state exactly once, however the stream ends; the caller does not wait.
class OpenRun {
  public:
    explicit OpenRun(KestroAgentState& state) : m_state(state) {}
    ~OpenRun() { m_state.closeRun(); }
    OpenRun(const OpenRun&) = delete;
    OpenRun& operator=(const OpenRun&) = delete;

  private:
    KestroAgentState& m_state;
};

} // namespace

asio::awaitable<void> RunEndpoint::handleRun(KestroAgentRunRequest request,
                                             KestroHTTPConnectionHandler& connection) {
    CodexRunRequest runRequest{.prompt = request.prompt,
                               .workingDirectory = {},
                               .preferredModel = request.preferredModel,
                               .threadID = request.threadID,
                               .resumeExistingSession = request.resumeExistingSession};
    // No thread is named so; refused like a thread that was not named at all.
    if (isRefusedThreadID(runRequest)) throw DecodingError("Missing required field 'threadID'.");
    const KestroAgentState::RunStart start = co_await m_state.openRun(request.workingDirectory);
    const OpenRun open(m_state);

    EventStreamWriter stream(connection);
    co_await stream.open();

    StreamSender send = [&stream](const KestroAgentStreamEvent& event) { return stream.send(event); };
    runRequest.workingDirectory = start.workingDirectory;
    std::exception_ptr failure;
    try {
        co_await start.runner.run(std::move(runRequest), send, m_groups);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure) {
        co_await m_state.recordRunOutcome(std::nullopt);
        try {
            co_await stream.finish();
            co_return;
        } catch (...) {
            failure = std::current_exception();
        }
    }

    const std::string message = humanizeCodexMessage(describeFailure(failure, "The run failed."));
    co_await m_state.recordRunOutcome(message);
    const KestroAgentStreamEvent errorEvent{.type = "job.error", .message = message};
    co_await stream.send(errorEvent);
    co_await stream.finish();
}

} // namespace kestro
