#include "workspace/StateDatabase.h"

#include "platform/ProcessRunner.h"

#include <chrono>
#include <thread>

namespace kestro {

namespace {
constexpr int kAttempts = 5;
}

std::string queryStateDatabase(const std::string& database, const char* query, const SystemTools& tools) {
    ProcessRunResult result;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        result =
            // Read-only: a plain open would fold a log left beside the database into it.
            runProcess({.executable = tools.sqlite3,
                        .arguments = {"-readonly", "-separator", "\t", database, query}});
        const bool busy =
            result.status != 0 && result.standardError.find("database is locked") != std::string::npos;
        if (!busy) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2 * attempt));
    }
    return result.standardOutput.empty() ? result.standardError : result.standardOutput;
}

} // namespace kestro
