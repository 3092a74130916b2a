#include "AgentWindowProcess.h"

#include "AgentChannel.h"
#include "AgentProcessEnd.h"
#include "platform/ParentDeath.h"

#include <QDir>
#include <QFileInfo>
#include <unistd.h>

namespace kestro::companion {

namespace {

constexpr int kEndMilliseconds = 2000;

} // namespace

QStringList AgentWindowProcess::programCandidates(const QString& executableFolder) {
    const QDir folder(executableFolder);
    return {folder.filePath(QLatin1String(kProgramName)),
            QDir::cleanPath(folder.filePath(QStringLiteral("../libexec/kestro-agent/")) + QLatin1Char('/') +
                            QLatin1String(kProgramName))};
}

std::optional<QString> AgentWindowProcess::locateProgram(const QString& executableFolder) {
    for (const QString& candidate : programCandidates(executableFolder))
        if (const QFileInfo file(candidate); file.isFile() && file.isExecutable()) return candidate;
    return std::nullopt;
}

AgentWindowProcess::AgentWindowProcess(QString program, QString channelPath, QProcessEnvironment environment,
                                       QObject* parent)
    : QObject(parent), m_program(std::move(program)), m_channelPath(std::move(channelPath)),
      m_environment(std::move(environment)) {}

AgentWindowProcess::~AgentWindowProcess() {
    if (!m_process) return;
    m_process->disconnect(this);
    endWithin(*m_process, kEndMilliseconds);
}

void AgentWindowProcess::start() {
    if (m_process) return;
    QProcessEnvironment environment = m_environment;
    if (::geteuid() == 0) {
        // The web engine refuses to run as root with its sandbox: the window's only, then.
        environment.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
        if (!std::exchange(m_toldOfTheSandbox, true))
            emit note(QStringLiteral("running as root, the pairing preview's web engine runs without its "
                                     "sandbox."));
    }
    m_process = std::make_unique<QProcess>();
    m_process->setProgram(m_program);
    m_process->setArguments({QStringLiteral("--channel"), m_channelPath});
    m_process->setProcessEnvironment(environment);
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_process->setProcessChannelMode(QProcess::ForwardedChannels);
    const pid_t parent = ::getpid();
    m_process->setChildProcessModifier([parent] {
        if (!kestro::endWithParent(parent)) ::_exit(127);
    });
    connect(m_process.get(), &QProcess::finished, this, &AgentWindowProcess::handleFinished);
    connect(m_process.get(), &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart || !m_process) return;
        emit note(QStringLiteral("the window could not start: ") + m_process->errorString());
        m_process->disconnect(this);
        m_process.release()->deleteLater();
        emit ended(false);
    });
    m_process->start();
}

void AgentWindowProcess::stop() {
    if (m_process) m_process->terminate();
}

void AgentWindowProcess::handleFinished(int exitCode, QProcess::ExitStatus status) {
    m_process->disconnect(this);
    // Deleted once control is back in the event loop: this runs inside the object's own signal.
    m_process.release()->deleteLater();
    const bool closed = status == QProcess::NormalExit && exitCode == 0;
    if (status == QProcess::NormalExit && exitCode == channel::kOtherVersionExit) {
        emit note(QStringLiteral("the window program is of another version than this kestro Agent (updated "
                                 "while it ran?). Quit kestro Agent and start it again."));
    } else if (!closed) {
        QString how = QStringLiteral("with exit code %1").arg(exitCode);
        if (status == QProcess::CrashExit) {
            const QString name = signalName(exitCode);
            how = name.isEmpty() ? QStringLiteral("by signal %1").arg(exitCode)
                                 : QStringLiteral("by signal %1 (%2)").arg(exitCode).arg(name);
        }
        emit note(QStringLiteral("the window ended unexpectedly %1; the bridge keeps serving.").arg(how));
    }
    emit ended(closed);
}

} // namespace kestro::companion
