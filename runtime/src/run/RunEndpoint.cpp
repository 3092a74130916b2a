#include "run/RunEndpoint.h"

#include "core/KestroAgentError.h"
#include "core/SerialExecutor.h"
#include "run/CodexEventTranslation.h"
#include "status/KestroAgentState.h"

namespace kestro {

namespace {

constexpr std::string_view kEndMarker = "data: [DONE]\n\n";

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

asio::awaitable<void> RunEndpoint::handleRun(std::string body, KestroHTTPConnectionHandler& connection) {
    const auto request = decodeRecord<KestroAgentRunRequest>(body);
    auto makeRunner = [this] { return m_state.makeRunner(); };
    const CodexRunner runner = co_await m_serial.run(makeRunner);
    auto resolveDirectory = [this, &request] { return m_state.resolvedWorkingDirectory(request.workingDirectory); };
    const std::string workingDirectory = co_await m_serial.run(resolveDirectory);
    auto beginJob = [this] { m_state.beginJob(); };
    co_await m_serial.run(beginJob);
    const JobCount jobCount(m_state, m_serial);

    co_await connection.sendSSEHeaders();

    StreamSender send = [&connection](const KestroAgentStreamEvent& event) { return connection.sendSSE(event); };
    CodexRunRequest runRequest{.prompt = request.prompt,
                               .workingDirectory = workingDirectory,
                               .preferredModel = request.preferredModel,
                               .threadID = request.threadID,
                               .resumeExistingSession = request.resumeExistingSession};
    std::exception_ptr failure;
    try {
        co_await runner.run(std::move(runRequest), send);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure) {
        auto recordReady = [this] { m_state.recordCodexReady(); };
        co_await m_serial.run(recordReady);
        try {
            co_await connection.sendRaw(kEndMarker, true);
            co_return;
        } catch (...) {
            failure = std::current_exception();
        }
    }

    const std::string message = humanizeCodexMessage(describeFailure(failure, "The run failed."));
    auto recordFailure = [this, &message] { m_state.recordDiagnostic(message); };
    co_await m_serial.run(recordFailure);
    const KestroAgentStreamEvent errorEvent{.type = "job.error", .message = message};
    co_await connection.sendSSE(errorEvent);
    co_await connection.sendRaw(kEndMarker, true);
}

} // namespace kestro
