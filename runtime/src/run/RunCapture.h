#pragma once
// What one Codex run has said so far. Touched only from its run's strand, so it needs no lock.

#include "core/WireRecords.h"

#include <optional>
#include <string>
#include <vector>

namespace kestro {

struct RunCaptureSnapshot {
    std::string finalText; // agent messages joined with blank lines
    std::optional<KestroAgentUsagePayload> usage;
    std::string errorText; // humanized standard-error lines joined with newlines
    std::optional<std::string> threadID;
    std::optional<std::string> protocolErrorMessage;
};

class RunCapture {
  public:
    static constexpr size_t kMaximumErrorLines = 8;

    void appendFinalText(std::string text) { m_textFragments.push_back(std::move(text)); }
    void storeUsage(KestroAgentUsagePayload usage) { m_usage = std::move(usage); }
    void storeThreadID(std::string threadID) { m_threadID = std::move(threadID); }
    void storeProtocolErrorMessage(std::string message) { m_protocolErrorMessage = std::move(message); }
    // Keeps the first eight lines, humanized; later ones are dropped.
    void appendStderrLine(const std::string& line);
    bool hasAllErrorLines() const { return m_errorLines.size() >= kMaximumErrorLines; }

    RunCaptureSnapshot snapshot() const;

  private:
    std::vector<std::string> m_textFragments;
    std::optional<KestroAgentUsagePayload> m_usage;
    std::vector<std::string> m_errorLines;
    std::optional<std::string> m_threadID;
    std::optional<std::string> m_protocolErrorMessage;
};

} // namespace kestro
