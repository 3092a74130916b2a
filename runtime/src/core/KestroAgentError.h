#pragma once
// The runtime's request-path error. Its message is exactly what the phone sees.

#include <exception>
#include <stdexcept>
#include <string>

namespace kestro {

class KestroAgentError : public std::runtime_error {
  public:
    enum class Case {
        processFailed,
        malformedRequest,
        unauthorized,
        codexUnavailable,
        invalidPrompt,
        invalidWorktreeName
    };

    static KestroAgentError processFailed(std::string message) {
        return KestroAgentError(Case::processFailed, std::move(message));
    }
    static KestroAgentError malformedRequest() {
        return KestroAgentError(Case::malformedRequest, "Malformed request.");
    }
    static KestroAgentError unauthorized() {
        return KestroAgentError(Case::unauthorized, "Unauthorized request.");
    }
    static KestroAgentError codexUnavailable() {
        return KestroAgentError(Case::codexUnavailable,
                                "Codex CLI is not installed or not available on this machine.");
    }
    static KestroAgentError invalidPrompt() {
        return KestroAgentError(Case::invalidPrompt, "Prompt was empty.");
    }
    static KestroAgentError invalidWorktreeName() {
        return KestroAgentError(Case::invalidWorktreeName, "Worktree name was empty.");
    }

    Case errorCase() const { return m_case; }
    // 401 for unauthorized, 400 for every other case.
    int httpStatus() const { return m_case == Case::unauthorized ? 401 : 400; }

  private:
    KestroAgentError(Case errorCase, std::string message)
        : std::runtime_error(std::move(message)), m_case(errorCase) {}
    Case m_case;
};

// A request body that could not be read as its record; answered 400 with this message.
class DecodingError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A record that could not be written as JSON (a non-finite double); answered 400.
class EncodingError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The message of a caught failure: the error's own text, or a fixed fallback.
inline std::string describeFailure(const std::exception_ptr& failure, const char* fallback) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return fallback;
    }
}

} // namespace kestro
