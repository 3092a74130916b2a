#include "run/CodexRunner.h"

#include "core/KestroAgentError.h"
#include "platform/ChildProcess.h"
#include "run/CodexEventTranslation.h"
#include "run/RunProcessGroups.h"
#include "server/AsioSupport.h"
#include "text/LineSplitter.h"
#include "text/Text.h"

#include <array>
#include <asio/buffer.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <chrono>
#include <csignal>

using namespace asio::experimental::awaitable_operators;

namespace kestro {

namespace {

constexpr size_t kReadChunk = 64 * 1024;

// How long what a finished Codex left in its process group has to end after SIGTERM, and then
// after SIGKILL, before its pipes are given up.
constexpr auto kGroupGracePeriod = std::chrono::seconds(2);
constexpr auto kGroupKillPeriod = std::chrono::seconds(1);

// Both pipe readers have reached their end; the end of the run waits on it with a deadline.
class PipesDrained {
  public:
    explicit PipesDrained(const asio::any_io_executor& executor) : m_signal(executor) {}
    void readerFinished() {
        if (--m_readers == 0) m_signal.cancel();
    }
    // True when both readers finished within `period`.
    asio::awaitable<bool> waitFor(std::chrono::steady_clock::duration period) {
        if (m_readers > 0) {
            m_signal.expires_after(period);
            co_await m_signal.async_wait(useTupleAwaitable);
        }
        co_return m_readers == 0;
    }

  private:
    asio::steady_timer m_signal;
    int m_readers = 2;
};

// The run ends with Codex itself, the direct child: once it has ended, what it left running in its
// group (a program whose launcher was killed, a command in the background) is ended too, and
// pipes such a program still holds are given up, so the stream always ends. Returns the child's
// exit status; also when it ended before the wait began.
asio::awaitable<int> endWithChild(ChildProcess& child, RunProcessGroups& groups,
                                  asio::posix::stream_descriptor& output,
                                  asio::posix::stream_descriptor& errors, PipesDrained& drained) {
    asio::posix::stream_descriptor notice(co_await asio::this_coro::executor, child.exitNotice().release());
    co_await notice.async_wait(asio::posix::stream_descriptor::wait_read, useTupleAwaitable);
    // The child has ended but is not reaped yet, so its group's number is still its own.
    child.signalGroup(SIGTERM);
    if (!co_await drained.waitFor(kGroupGracePeriod)) {
        child.signalGroup(SIGKILL);
        if (!co_await drained.waitFor(kGroupKillPeriod)) {
            // Something that left the group holds the pipes: stop reading them.
            asio::error_code ignored;
            output.close(ignored);
            errors.close(ignored);
        }
    }
    groups.remove(child.pid());
    co_return child.wait();
}

// Sends the line's events with the pacing pause after each chunk; the send failure's text, if any.
asio::awaitable<std::optional<std::string>> deliverLine(const std::string& line, RunCapture& capture,
                                                        const StreamSender& send) {
    const auto event = decodeCodexEvent(line);
    if (!event) co_return std::nullopt;
    const std::vector<KestroAgentStreamEvent> events = translateCodexEvent(*event, capture);
    asio::steady_timer pause(co_await asio::this_coro::executor);
    for (const auto& streamEvent : events) {
        std::exception_ptr failure;
        try {
            co_await send(streamEvent);
        } catch (...) {
            failure = std::current_exception();
        }
        if (failure) co_return describeFailure(failure, "The event could not be sent.");
        if (pausesAfter(streamEvent)) {
            pause.expires_after(std::chrono::milliseconds(kChunkPauseMilliseconds));
            co_await pause.async_wait(useTupleAwaitable);
        }
    }
    co_return std::nullopt;
}

// Reads standard output to its end. After a failed send the rest is drained and discarded.
asio::awaitable<std::optional<std::string>> readOutput(asio::posix::stream_descriptor& pipe,
                                                       RunCapture& capture, const StreamSender& send,
                                                       PipesDrained& drained) {
    LineSplitter splitter(LineBreaks::json);
    std::optional<std::string> failure;
    std::array<char, kReadChunk> chunk;
    while (true) {
        auto [error, received] = co_await pipe.async_read_some(asio::buffer(chunk), useTupleAwaitable);
        if (received > 0 && !failure) {
            for (const auto& line : splitter.feed(std::string_view(chunk.data(), received))) {
                failure = co_await deliverLine(line, capture, send);
                if (failure) break;
            }
        }
        if (error) break;
    }
    drained.readerFinished();
    if (!failure)
        for (const auto& line : splitter.finish())
            if (!failure) failure = co_await deliverLine(line, capture, send);
    co_return failure;
}

// Reads standard error to its end, keeping the first lines the capture wants.
asio::awaitable<void> readErrors(asio::posix::stream_descriptor& pipe, RunCapture& capture,
                                 PipesDrained& drained) {
    LineSplitter splitter;
    std::array<char, kReadChunk> chunk;
    while (true) {
        auto [error, received] = co_await pipe.async_read_some(asio::buffer(chunk), useTupleAwaitable);
        if (received > 0 && !capture.hasAllErrorLines())
            for (const auto& line : splitter.feed(std::string_view(chunk.data(), received)))
                capture.appendStderrLine(line);
        if (error) break;
    }
    drained.readerFinished();
    for (const auto& line : splitter.finish())
        capture.appendStderrLine(line);
}

} // namespace

std::vector<std::string> codexRunArguments(const CodexRunRequest& request, const std::string& trimmedPrompt) {
    std::vector<std::string> arguments{"exec"};
    const bool resumes =
        request.resumeExistingSession && request.threadID && !trimmed(*request.threadID).empty();
    if (resumes) arguments.push_back("resume");
    arguments.push_back("--json");
    arguments.push_back("--skip-git-repo-check");
    if (request.preferredModel && !request.preferredModel->empty() &&
        lowercased(*request.preferredModel) != "codex") {
        arguments.push_back("--model");
        arguments.push_back(*request.preferredModel);
    }
    // The phone's texts follow the end of the options, so none is read as one ("--last").
    arguments.push_back("--");
    if (resumes) arguments.push_back(*request.threadID);
    arguments.push_back(trimmedPrompt);
    return arguments;
}

bool isRefusedThreadID(const CodexRunRequest& request) {
    return request.resumeExistingSession && request.threadID && startsWith(trimmed(*request.threadID), "-");
}

std::string codexStartMessage(const CodexRunRequest& request) {
    return (request.resumeExistingSession ? "Resuming Codex session in " : "Launching Codex in ") +
           request.workingDirectory;
}

std::optional<std::string> codexRunFailure(int status, const RunCaptureSnapshot& snapshot) {
    if (status == 0) {
        if (trimmed(snapshot.finalText).empty() && snapshot.protocolErrorMessage)
            return snapshot.protocolErrorMessage;
        return std::nullopt;
    }
    if (snapshot.protocolErrorMessage) return snapshot.protocolErrorMessage;
    if (!snapshot.errorText.empty()) return snapshot.errorText;
    return "Codex exited with status " + std::to_string(status) + ".";
}

asio::awaitable<void> CodexRunner::run(CodexRunRequest request, StreamSender send,
                                       RunProcessGroups& groups) const {
    const std::string prompt = trimmed(request.prompt);
    if (prompt.empty()) throw KestroAgentError::invalidPrompt();
    // Its own group, so that everything the run starts ends with it.
    const ProcessOptions options{.executable = m_codexExecutablePath,
                                 .arguments = codexRunArguments(request, prompt),
                                 .currentDirectory = request.workingDirectory,
                                 .watchExit = true,
                                 .ownProcessGroup = true,
                                 .endsWithParent = true};

    const KestroAgentStreamEvent started{.type = "job.started", .message = codexStartMessage(request)};
    co_await send(started);

    SpawnResult spawned = ChildProcess::spawn(options);
    if (!spawned.child) throw KestroAgentError::processFailed(spawned.error);
    ChildProcess& child = *spawned.child;
    groups.add(child.pid());
    // Unlisted before the child is reaped, also when the phone's task is torn down midway.
    struct Unlist {
        RunProcessGroups& groups;
        pid_t group;
        ~Unlist() { groups.remove(group); }
    } const unlist{groups, child.pid()};

    const auto executor = co_await asio::this_coro::executor;
    asio::posix::stream_descriptor output(executor, child.standardOutput().release());
    asio::posix::stream_descriptor errors(executor, child.standardError().release());
    RunCapture capture;
    PipesDrained drained(executor);
    auto [outputFailure, status] =
        co_await (readOutput(output, capture, send, drained) && readErrors(errors, capture, drained) &&
                  endWithChild(child, groups, output, errors, drained));
    if (outputFailure) throw KestroAgentError::processFailed(*outputFailure);

    const RunCaptureSnapshot snapshot = capture.snapshot();
    if (auto failure = codexRunFailure(status, snapshot)) throw KestroAgentError::processFailed(*failure);
    const KestroAgentStreamEvent completed{
        .type = "job.completed", .message = "Codex run complete", .usage = snapshot.usage};
    co_await send(completed);
}

} // namespace kestro
