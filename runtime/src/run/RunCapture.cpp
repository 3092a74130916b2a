#include "run/RunCapture.h"

#include "run/CodexEventTranslation.h"

namespace kestro {

namespace {

std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) out += separator;
        out += parts[i];
    }
    return out;
}

} // namespace

void RunCapture::appendStderrLine(const std::string& line) {
    if (m_errorLines.size() < kMaximumErrorLines) m_errorLines.push_back(humanizeCodexMessage(line));
}

RunCaptureSnapshot RunCapture::snapshot() const {
    return {.finalText = joined(m_textFragments, "\n\n"),
            .usage = m_usage,
            .errorText = joined(m_errorLines, "\n"),
            .threadID = m_threadID,
            .protocolErrorMessage = m_protocolErrorMessage};
}

} // namespace kestro
