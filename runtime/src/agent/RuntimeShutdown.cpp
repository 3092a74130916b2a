#include "agent/RuntimeShutdown.h"

#include "run/RunProcessGroups.h"
#include "server/AsioSupport.h"

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/steady_timer.hpp>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace kestro {

namespace {

asio::awaitable<void> endRuns(RunProcessGroups& groups, std::chrono::milliseconds grace) {
    groups.signalAll(SIGTERM);
    // Each run lists its group until Codex has ended and what it left behind is gone.
    asio::steady_timer step(co_await asio::this_coro::executor);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (!groups.empty() && std::chrono::steady_clock::now() < deadline) {
        step.expires_after(std::chrono::milliseconds(20));
        co_await step.async_wait(useTupleAwaitable);
    }
    groups.signalAll(SIGKILL);
}

} // namespace

RuntimeShutdown::RuntimeShutdown(asio::io_context& context, RunProcessGroups& groups,
                                 std::function<void()> stopAccepting, std::chrono::milliseconds grace)
    : m_context(context), m_signals(context, SIGTERM, SIGINT, SIGHUP), m_groups(groups),
      m_stopAccepting(std::move(stopAccepting)), m_grace(grace), m_supervisor(context) {
    m_signals.async_wait([this](const asio::error_code& error, int signalNumber) {
        if (!error) onSignal(signalNumber);
    });
}

void RuntimeShutdown::removeOnExit(const std::vector<std::string>& paths) {
    const std::lock_guard lock(m_mutex);
    for (const auto& path : paths)
        if (auto identity = fileIdentity(path)) m_files.emplace_back(path, *identity);
}

void RuntimeShutdown::endWhenClosed(int descriptor) {
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !(S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)))
        throw std::runtime_error("The supervisor descriptor " + std::to_string(descriptor) +
                                 " is not an open pipe.");
    const int flags = ::fcntl(descriptor, F_GETFD);
    if (flags < 0 || ::fcntl(descriptor, F_SETFD, flags | FD_CLOEXEC) != 0)
        throw std::runtime_error("The supervisor descriptor " + std::to_string(descriptor) +
                                 " cannot be made close-on-exec.");
    m_supervisor.assign(descriptor);
    watchSupervisor();
}

void RuntimeShutdown::watchSupervisor() {
    // Whatever the supervisor writes means nothing; only the end of the pipe does.
    m_supervisor.async_read_some(asio::buffer(m_supervisorBytes),
                                 [this](const asio::error_code& error, size_t) {
                                     if (error == asio::error::operation_aborted) return;
                                     if (error)
                                         onSignal(SIGTERM);
                                     else
                                         watchSupervisor();
                                 });
}

void RuntimeShutdown::onSignal(int signalNumber) {
    if (m_ending.exchange(true)) return;
    m_stopAccepting();
    asio::co_spawn(m_context, endRuns(m_groups, m_grace), [this, signalNumber](const std::exception_ptr&) {
        {
            const std::lock_guard lock(m_mutex);
            for (const auto& [path, identity] : m_files)
                removeIfUnchanged(path, identity);
        }
        // The default action ends the process, as the signal would have.
        std::signal(signalNumber, SIG_DFL);
        std::raise(signalNumber);
        ::_exit(128 + signalNumber);
    });
}

} // namespace kestro
