#include "agent/RunEndpoint.h"

#include "agent/KestroAgentState.h"
#include "core/KestroAgentError.h"
#include "run/CodexEventTranslation.h"
#include "server/EventStreamWriter.h"
#include "server/SerialExecutor.h"

namespace kestro {

namespace {

// Lowers the job count exactly once, however the stream ends; the caller does not wait for it.
class JobCount {
  public:
    JobCount(KestroAgentState& state, SerialExecutor& serial) : m_state(state), m_serial(serial) {}
    ~JobCount() {
        KestroAgentState& state = m_state;
        m_serial.post([&state] { state.endJob(); });
    }
    JobCount(const JobCount&) = delete;
    JobCount& operator=(const JobCount&) = delete;

  private:
    KestroAgentState& m_state;
    SerialExecutor& m_serial;
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
    auto openRun = [this, &request] { return m_state.openRun(request.workingDirectory); };
    const KestroAgentState::RunStart start = co_await m_serial.run(openRun);
    const JobCount jobCount(m_state, m_serial);

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
        auto recordReady = [this] { m_state.recordCodexReady(); };
        co_await m_serial.run(recordReady);
        try {
            co_await stream.finish();
            co_return;
        } catch (...) {
            failure = std::current_exception();
        }
    }

    const std::string message = humanizeCodexMessage(describeFailure(failure, "The run failed."));
    auto recordFailure = [this, &message] { m_state.recordDiagnostic(message); };
    co_await m_serial.run(recordFailure);
    const KestroAgentStreamEvent errorEvent{.type = "job.error", .message = message};
    co_await stream.send(errorEvent);
    co_await stream.finish();
}

} // namespace kestro
