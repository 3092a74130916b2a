#include "AgentQuitSignals.h"

#include "platform/FileDescriptor.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace kestro::companion {

namespace {

// Written by the signal handler (only async-signal-safe calls there), read on the GUI thread.
int g_signalWriteEnd = -1;

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(g_signalWriteEnd, &byte, 1);
}

// The handler must never block on a full pipe, nor the reader on an empty one.
bool makeNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

} // namespace

void quitOnTerminationSignals(QCoreApplication& application) {
    std::optional<kestro::Pipe> pipe = kestro::closeOnExecPipe();
    if (!pipe || !makeNonBlocking(pipe->readEnd.get()) || !makeNonBlocking(pipe->writeEnd.get())) return;
    auto readEnd = std::make_shared<kestro::FileDescriptor>(std::move(pipe->readEnd));
    g_signalWriteEnd = pipe->writeEnd.release(); // lives as long as the process

    auto* notifier = new QSocketNotifier(readEnd->get(), QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &application, [readEnd] {
        char drained[16];
        while (::read(readEnd->get(), drained, sizeof drained) > 0) {
        }
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

} // namespace kestro::companion
