#pragma once
// Ends the runtime on SIGTERM, SIGINT or SIGHUP: no new connection is taken, every Codex run's
// process group is asked to end (and killed when it has not after a grace period), the pairing
// files (they carry the token) are removed when they are still the ones written, and the process
// then ends by that same signal, as it would have without this. A supervisor's pipe closing ends
// it the same way, as SIGTERM.

#include "platform/FileChecks.h"

#include <array>
#include <asio/io_context.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/signal_set.hpp>
#include <atomic>
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

    // Ends the runtime as SIGTERM does once every write end of the pipe whose read end is
    // `descriptor` is closed (whoever held it ended, however). Takes the descriptor over and makes
    // it close-on-exec, so no child holds it. Throws std::runtime_error when it is not an open pipe.
    void endWhenClosed(int descriptor);

  private:
    void onSignal(int signalNumber);
    void watchSupervisor();

    asio::io_context& m_context;
    asio::signal_set m_signals;
    RunProcessGroups& m_groups;
    std::function<void()> m_stopAccepting;
    std::chrono::milliseconds m_grace;
    asio::posix::stream_descriptor m_supervisor;
    std::array<char, 64> m_supervisorBytes{};
    // A signal and the pipe may both ask; the first one ends the process.
    std::atomic<bool> m_ending = false;
    std::mutex m_mutex;
    std::vector<std::pair<std::string, FileIdentity>> m_files;
};

} // namespace kestro
