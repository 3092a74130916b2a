#include "AgentRuntimeProcess.h"

#include "platform/ParentDeath.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kestro::companion {

AgentRuntimeProcess::AgentRuntimeProcess(QObject* parent) : QObject(parent) {
    m_endGrace.setSingleShot(true);
    m_endGrace.setInterval(kEndGraceMilliseconds);
    connect(&m_endGrace, &QTimer::timeout, this, [this] {
        if (m_process) m_process->kill();
    });
}

AgentRuntimeProcess::~AgentRuntimeProcess() {
    if (!m_process) return;
    // Nothing the process reports from here on may reach this half-destroyed object.
    m_process->disconnect(this);
    endWithin(*m_process, kEndGraceMilliseconds);
}

bool AgentRuntimeProcess::start(const Launch& launch) {
    if (m_process) return false;
    std::optional<kestro::Pipe> supervisor = kestro::closeOnExecPipe();
    // A read end among the standard descriptors (a keeper started with one of them closed) would
    // be replaced in the child by its standard streams.
    while (supervisor && supervisor->readEnd.get() < 3) {
        const int moved = ::fcntl(supervisor->readEnd.get(), F_DUPFD_CLOEXEC, 3);
        if (moved < 0)
            supervisor.reset();
        else
            supervisor->readEnd = kestro::FileDescriptor(moved);
    }
    if (!supervisor) m_launchError = QString::fromLocal8Bit(std::strerror(errno));
    m_process = std::make_unique<QProcess>();
    m_process->setProgram(launch.program);
    QStringList arguments = launch.arguments;
    if (supervisor) {
        const int readEnd = supervisor->readEnd.get();
        arguments << QStringLiteral("--supervisor-fd") << QString::number(readEnd);
        const pid_t parent = ::getpid();
        // In the child, before the runtime starts: only it keeps the read end across exec.
        m_process->setChildProcessModifier([readEnd, parent] {
            if (::fcntl(readEnd, F_SETFD, 0) != 0 || !kestro::endWithParent(parent)) ::_exit(127);
        });
    }
    m_process->setArguments(arguments);
    m_process->setWorkingDirectory(launch.workingDirectory);
    m_process->setProcessEnvironment(launch.environment);
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_standardOutput.reset();
    m_standardError.reset();
    m_reading = true;
    m_stopRequested = false;
    m_lastError.clear();

    connect(m_process.get(), &QProcess::readyReadStandardOutput, this, [this] { read(false); });
    connect(m_process.get(), &QProcess::readyReadStandardError, this, [this] { read(true); });
    connect(m_process.get(), &QProcess::finished, this,
            [this](int exitCode, QProcess::ExitStatus status) { handleFinished(exitCode, status); });

    // A program the system cannot start never runs: no end follows, only the error.
    connect(m_process.get(), &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) handleLaunchFailure();
    });

    emit existsChanged();
    if (!supervisor) {
        // Without the pipe the runtime could outlive this process: it is not started.
        QMetaObject::invokeMethod(
            this, [this] { handleLaunchFailure(); }, Qt::QueuedConnection);
        return true;
    }
    m_process->start();
    // The child has its copy; the read end here would keep the pipe open after it ends.
    supervisor->readEnd.reset();
    if (m_process) m_supervisorPipe = std::move(supervisor->writeEnd);
    return true;
}

void AgentRuntimeProcess::handleLaunchFailure() {
    if (!m_process) return;
    const QString reason = m_launchError.isEmpty() ? m_process->errorString() : m_launchError;
    m_launchError.clear();
    m_supervisorPipe.reset();
    m_process->disconnect(this);
    m_process.release()->deleteLater();
    m_stopRequested = false;
    emit existsChanged();
    emit launchFailed(reason);
}

void AgentRuntimeProcess::stop() {
    if (!m_process) return;
    m_stopRequested = true;
    // Output written while the runtime ends is still read.
    m_process->terminate();
    if (!m_endGrace.isActive()) m_endGrace.start();
}

void AgentRuntimeProcess::shutdown() {
    m_reading = false;
    stop();
}

void AgentRuntimeProcess::read(bool isError) {
    if (!m_process || !m_reading) return;
    const QByteArray chunk = isError ? m_process->readAllStandardError() : m_process->readAllStandardOutput();
    if (chunk.isEmpty()) return;
    for (const QString& text : (isError ? m_standardError : m_standardOutput).feed(chunk)) {
        if (isError) m_lastError = text;
        emit line(text, isError);
    }
}

void AgentRuntimeProcess::handleFinished(int exitCode, QProcess::ExitStatus status) {
    // Output still buffered is read first: it was written before the end.
    read(false);
    read(true);
    m_process->disconnect(this);
    // Deleted once control is back in the event loop: this runs inside the object's own signal.
    m_process.release()->deleteLater();
    m_supervisorPipe.reset();
    m_endGrace.stop();
    const bool requested = m_stopRequested;
    m_stopRequested = false;
    emit existsChanged();
    // For a process a signal ended, QProcess gives the signal's number as the code.
    emit ended({.bySignal = status == QProcess::CrashExit, .code = exitCode, .lastError = m_lastError},
               requested);
}

} // namespace kestro::companion
