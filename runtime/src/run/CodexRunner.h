#pragma once
// Runs one prompt through `codex exec --json` and reports the run as stream events. Runs on the
// caller's executor (the connection's strand); the child's pipes are read asynchronously there.

#include "core/WireRecords.h"
#include "run/RunCapture.h"
#include "run/RunProcessGroups.h"

#include <asio/awaitable.hpp>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestro {

// Delivers one event to the phone; throws when it cannot.
using StreamSender = std::function<asio::awaitable<void>(const KestroAgentStreamEvent&)>;

struct CodexRunRequest {
    std::string prompt; // as the phone sent it; trimmed by the runner
    std::string workingDirectory;
    std::optional<std::string> preferredModel;
    std::optional<std::string> threadID;
    bool resumeExistingSession = false;
};

// exec [resume] --json --skip-git-repo-check [--model M] -- [T] PROMPT, with the prompt already
// trimmed: after "--" no text of the phone's is read as an option.
std::vector<std::string> codexRunArguments(const CodexRunRequest& request, const std::string& trimmedPrompt);

// A thread to resume whose identifier begins with "-": no Codex thread is named so.
bool isRefusedThreadID(const CodexRunRequest& request);

// "Resuming Codex session in DIR" or "Launching Codex in DIR".
std::string codexStartMessage(const CodexRunRequest& request);

// The message a finished run fails with, or absent when it completed.
std::optional<std::string> codexRunFailure(int status, const RunCaptureSnapshot& snapshot);

class CodexRunner {
  public:
    CodexRunner() = default;
    explicit CodexRunner(std::string codexExecutablePath)
        : m_codexExecutablePath(std::move(codexExecutablePath)) {}

    // Returns after "job.completed" was sent; throws with the message to show on any failure.
    // Once launched, the child is always waited for and its output drained, even after `send`
    // fails. The run's process group is listed in `groups` while it runs.
    asio::awaitable<void> run(CodexRunRequest request, StreamSender send, RunProcessGroups& groups) const;

    const std::string& codexExecutablePath() const { return m_codexExecutablePath; }

  private:
    std::string m_codexExecutablePath;
};

} // namespace kestro
