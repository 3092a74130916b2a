#pragma once
// The window as a program of its own, started on demand with the path of the keeper's channel
// ("--channel PATH") and ending when it is closed, so its memory (the QML engine, the web
// engine and its helpers) goes back to the system. It ends with the keeper (the channel closing;
// on Linux also SIGTERM when the keeper goes). GUI thread only (the thread that starts it must
// live as long as the window).

#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <memory>
#include <optional>

namespace kestro::companion {

class AgentWindowProcess : public QObject {
    Q_OBJECT

  public:
    static constexpr char kProgramName[] = "kestro-agent-window";

    // Where the window program may be, in this order: beside the keeper in `executableFolder` (a
    // build folder, the macOS bundle), then the installation's libexec/kestro-agent.
    static QStringList programCandidates(const QString& executableFolder);
    static std::optional<QString> locateProgram(const QString& executableFolder);

    // `program` is started with `channelPath` in `environment`.
    AgentWindowProcess(QString program, QString channelPath, QProcessEnvironment environment,
                       QObject* parent = nullptr);
    // A window that still runs is asked to end, then killed.
    ~AgentWindowProcess() override;

    bool isRunning() const { return m_process != nullptr; }
    qint64 processId() const { return m_process ? m_process->processId() : 0; }

    // Starts the window unless one runs.
    void start();
    // Asks a running window to end.
    void stop();

  signals:
    // A line for the session log (without its "window: " prefix).
    void note(const QString& line);
    // The window has ended: `closed` when it ended the normal way (the user closed it).
    void ended(bool closed);

  private:
    void handleFinished(int exitCode, QProcess::ExitStatus status);

    QString m_program;
    QString m_channelPath;
    QProcessEnvironment m_environment;
    bool m_toldOfTheSandbox = false;
    std::unique_ptr<QProcess> m_process;
};

} // namespace kestro::companion
