#include "AgentRuntimeLaunch.h"

#include "platform/FileChecks.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace kestro::companion {

namespace {

constexpr const char* kRuntimeInResources = "Runtime/kestro-agent";
constexpr const char* kSearchPath = "/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin";

} // namespace

RuntimeSearch currentRuntimeSearch() {
    RuntimeSearch search;
    if (qEnvironmentVariableIsSet("KESTRO_AGENT_RUNTIME"))
        search.runtimeVariable = qEnvironmentVariable("KESTRO_AGENT_RUNTIME");
    if (QCoreApplication::instance() != nullptr) {
        search.resourceFolder = bundledResourceFolder(QCoreApplication::applicationDirPath());
        search.buildTreeRuntime = buildTreeRuntime(QCoreApplication::applicationDirPath());
    }
    search.installedRuntimes = installedRuntimes();
    return search;
}

std::optional<QString> buildTreeRuntime(const QString& executableFolder) {
    QDir build(executableFolder);
    if (!build.cdUp() || !build.exists(QStringLiteral("CMakeCache.txt"))) return std::nullopt;
    return build.filePath(QStringLiteral("runtime/kestro-agent"));
}

QStringList runtimeCandidates(const RuntimeSearch& search) {
    QStringList candidates;
    if (search.runtimeVariable) candidates << *search.runtimeVariable;
    if (search.resourceFolder) candidates << QDir(*search.resourceFolder).filePath(kRuntimeInResources);
    if (search.buildTreeRuntime) candidates << *search.buildTreeRuntime;
    candidates << search.installedRuntimes;
    return candidates;
}

std::optional<QString> locateRuntime(const RuntimeSearch& search) {
    for (const QString& candidate : runtimeCandidates(search))
        if (kestro::isExecutableFile(candidate.toStdString())) return candidate;
    return std::nullopt;
}

QString launchWorkingDirectory(const QString& workingDirectory) {
    const QString absolute = QDir::current().absoluteFilePath(workingDirectory.trimmed());
    const QString canonical = QFileInfo(absolute).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(absolute) : canonical;
}

QStringList launchArguments(const AgentLaunchConfiguration& configuration, const QString& token,
                            const QString& workingDirectory) {
    QStringList arguments{QStringLiteral("--host"),
                          configuration.host,
                          QStringLiteral("--port"),
                          configuration.port,
                          QStringLiteral("--token"),
                          token,
                          QStringLiteral("--name"),
                          configuration.machineName,
                          QStringLiteral("--working-dir"),
                          workingDirectory,
                          QStringLiteral("--no-open-pair-page")};
    const QString advertised = configuration.advertisedHost.trimmed();
    if (!advertised.isEmpty()) arguments << QStringLiteral("--advertise-host") << advertised;
    return arguments;
}

QProcessEnvironment launchEnvironment(const QProcessEnvironment& inherited, const QString& workingDirectory,
                                      const QString& codexPath) {
    QProcessEnvironment environment = inherited;
    if (const QString codex = codexPath.trimmed(); !codex.isEmpty())
        environment.insert(QStringLiteral("KESTRO_CODEX_PATH"), codex);
    environment.insert(QStringLiteral("PATH"), QLatin1String(kSearchPath) + QLatin1Char(':') +
                                                   inherited.value(QStringLiteral("PATH")));
    environment.insert(QStringLiteral("PWD"), workingDirectory);
    return environment;
}

} // namespace kestro::companion
