#include "AgentProcessEnd.h"

#include <QProcess>
#include <csignal>

namespace kestro::companion {

void endWithin(QProcess& process, int graceMilliseconds) {
    process.terminate();
    if (process.waitForFinished(graceMilliseconds)) return;
    process.kill();
    process.waitForFinished(graceMilliseconds);
}

QString signalName(int signal) {
    // The POSIX signals; their numbers differ between systems, their names do not.
    struct Named {
        int number;
        const char* name;
    };
    static constexpr Named kSignals[] = {
        {SIGHUP, "SIGHUP"},   {SIGINT, "SIGINT"},   {SIGQUIT, "SIGQUIT"}, {SIGILL, "SIGILL"},
        {SIGTRAP, "SIGTRAP"}, {SIGABRT, "SIGABRT"}, {SIGBUS, "SIGBUS"},   {SIGFPE, "SIGFPE"},
        {SIGKILL, "SIGKILL"}, {SIGUSR1, "SIGUSR1"}, {SIGSEGV, "SIGSEGV"}, {SIGUSR2, "SIGUSR2"},
        {SIGPIPE, "SIGPIPE"}, {SIGALRM, "SIGALRM"}, {SIGTERM, "SIGTERM"}, {SIGXCPU, "SIGXCPU"},
        {SIGXFSZ, "SIGXFSZ"}, {SIGSYS, "SIGSYS"},
    };
    for (const Named& known : kSignals)
        if (known.number == signal) return QString::fromLatin1(known.name);
    return QString();
}

QString unexpectedEndMessage(const AgentProcessEnd& end) {
    QString message;
    if (end.bySignal) {
        const QString name = signalName(end.code);
        message = name.isEmpty()
                      ? QStringLiteral("The bridge stopped unexpectedly by signal %1.").arg(end.code)
                      : QStringLiteral("The bridge stopped unexpectedly by signal %1 (%2).")
                            .arg(end.code)
                            .arg(name);
    } else {
        message = QStringLiteral("The bridge stopped unexpectedly with exit code %1.").arg(end.code);
    }
    if (!end.lastError.isEmpty()) message += QStringLiteral(" Last error: ") + end.lastError;
    return message;
}

AgentNextStep adviceForEndBeforeListening(const AgentProcessEnd& end, const QString& port) {
    const QString portField = QStringLiteral("port");
    // The runtime's own words for why it could not listen (its last error line).
    if (end.lastError.contains(QLatin1String("Address already in use")))
        return {QStringLiteral("Port %1 is taken by another program (another bridge?). Quit that "
                               "program or choose another port, then press Start.")
                    .arg(port),
                portField};
    if (end.lastError.contains(QLatin1String("Permission denied")))
        return {QStringLiteral("Port %1 needs administrator rights. Choose a port of 1024 or above, then "
                               "press Start.")
                    .arg(port),
                portField};
    return {QStringLiteral("Check the settings and the session log, then press Start."), QString()};
}

} // namespace kestro::companion
