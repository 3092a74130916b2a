#pragma once
// Ends the runtime on SIGTERM, SIGINT or SIGHUP: no new connection is taken, every Codex run's
// process group is asked to end (and killed when it has not after a grace period), the pairing
// files (they carry the token) are removed when they are still the ones written, and the process
// then ends by that same signal, as it would have without this.

#include "platform/FileChecks.h"

#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace kestro {

class RunProcessGroups;

class RuntimeShutdown {
  public:
    // `stopAccepting` closes the listener; it runs first.
    RuntimeShutdown(asio::io_context& context, RunProcessGroups& groups, std::function<void()> stopAccepting,
                    std::chrono::milliseconds grace = std::chrono::seconds(1));

    // Files to remove on the way out, each as written now.
    void removeOnExit(const std::vector<std::string>& paths);

  private:
    void onSignal(int signalNumber);

    asio::io_context& m_context;
    asio::signal_set m_signals;
    RunProcessGroups& m_groups;
    std::function<void()> m_stopAccepting;
    std::chrono::milliseconds m_grace;
    std::mutex m_mutex;
    std::vector<std::pair<std::string, FileIdentity>> m_files;
};

} // namespace kestro
