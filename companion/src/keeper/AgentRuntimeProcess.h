#pragma once
// The runtime as a child process: one at a time, its two output streams read as lines (in the
// order they arrive), a stop remembered as asked for, and its end. The runtime ends with this
// process however it ends: it watches a pipe whose only write end is held here ("--supervisor-fd",
// added to the arguments), and on Linux the system also sends it SIGTERM when this process goes.
// GUI thread only (the thread that starts it must live as long as the runtime); QProcess
// delivers output and the end there.

#include "AgentOutputReader.h"
#include "AgentProcessEnd.h"
#include "platform/FileDescriptor.h"

#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTimer>
#include <memory>

namespace kestro::companion {

class AgentRuntimeProcess : public QObject {
    Q_OBJECT

  public:
    // What is started: the program, its arguments, the folder it runs in and its environment.
    struct Launch {
        QString program;
        QStringList arguments;
        QString workingDirectory;
        QProcessEnvironment environment;
    };

    // How long a process asked to end may take before it is killed.
    static constexpr int kEndGraceMilliseconds = 2000;

    explicit AgentRuntimeProcess(QObject* parent = nullptr);
    // A process that still runs is asked to end, given its grace, then killed, and reaped.
    ~AgentRuntimeProcess() override;

    bool exists() const { return m_process != nullptr; }
    // The process's id while it exists, else 0.
    qint64 processId() const { return m_process ? m_process->processId() : 0; }

    // Launches the runtime unless a process exists (then nothing happens and the answer is false).
    // Returns at once: a launch the system refuses is reported by `launchFailed`, maybe before
    // this returns.
    bool start(const Launch& launch);
    // Asks the process to end (a termination signal), and kills it when it has not ended within
    // its grace; `ended` follows, marked as requested.
    void stop();
    // At quit: no more output is read, and the process is asked to end.
    void shutdown();

  signals:
    // A process came to be, or is gone.
    void existsChanged();
    // One complete, trimmed, non-blank line of standard output or (isError) standard error.
    void line(const QString& text, bool isError);
    // The process has ended and is gone. `requested`: after `stop` or `shutdown`.
    void ended(const kestro::companion::AgentProcessEnd& end, bool requested);
    // The system could not launch the program; nothing runs.
    void launchFailed(const QString& reason);

  private:
    void read(bool isError);
    void handleFinished(int exitCode, QProcess::ExitStatus status);
    void handleLaunchFailure();

    std::unique_ptr<QProcess> m_process;
    // The write end of the runtime's supervisor pipe, held while the process exists.
    kestro::FileDescriptor m_supervisorPipe;
    AgentOutputReader m_standardOutput;
    AgentOutputReader m_standardError;
    bool m_reading = true;
    bool m_stopRequested = false;
    QString m_lastError;   // this process's last line on standard error
    QString m_launchError; // why it could not be launched, when that was found here
    QTimer m_endGrace;
};

} // namespace kestro::companion
