#pragma once
// Runs one prompt through `codex exec --json` and reports the run as stream events. Runs on the
// caller's executor (the connection's strand); the child's pipes are read asynchronously there.

#include "core/WireRecords.h"
#include "run/RunCapture.h"

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

// exec [resume T] --json --skip-git-repo-check [--model M] PROMPT, with the prompt already trimmed.
std::vector<std::string> codexRunArguments(const CodexRunRequest& request, const std::string& trimmedPrompt);

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
    // Once launched, the child is always waited for and its output drained, even after `send` fails.
    asio::awaitable<void> run(CodexRunRequest request, StreamSender send) const;

    const std::string& codexExecutablePath() const { return m_codexExecutablePath; }

  private:
    std::string m_codexExecutablePath;
};

} // namespace kestro
