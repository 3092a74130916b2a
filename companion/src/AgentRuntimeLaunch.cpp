#include "AgentRuntimeLaunch.h"

#include "platform/FileChecks.h"
#include "platform/Host.h"

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
    if (QCoreApplication::instance() != nullptr)
        search.resourceFolder = bundledResourceFolder(QCoreApplication::applicationDirPath());
    search.installedRuntimes = installedRuntimes();
    if (qEnvironmentVariableIsSet("KESTRO_AGENT_RUNTIME"))
        search.runtimeVariable = qEnvironmentVariable("KESTRO_AGENT_RUNTIME");
    search.currentDirectory = QDir::currentPath();
    search.homeDirectory = QString::fromStdString(kestro::homeDirectory());
    return search;
}

QStringList runtimeCandidates(const RuntimeSearch& search) {
    QStringList candidates;
    if (search.resourceFolder) candidates << QDir(*search.resourceFolder).filePath(kRuntimeInResources);
    candidates << search.installedRuntimes;
    if (search.runtimeVariable) candidates << *search.runtimeVariable;
    const QDir current(search.currentDirectory);
    for (const char* relative :
         {"kestro-runtime/.build/release/kestro-agent", "kestro-runtime/.build/debug/kestro-agent",
          "kestro-runtime/.build/arm64-apple-macosx/debug/kestro-agent"})
        candidates << current.filePath(relative);
    const QDir home(search.homeDirectory);
    for (const char* relative :
         {"Desktop/kestro/kestro-runtime/.build/release/kestro-agent",
          "Desktop/kestro/kestro-runtime/.build/debug/kestro-agent",
          "Desktop/kestro/kestro-runtime/.build/arm64-apple-macosx/debug/kestro-agent"})
        candidates << home.filePath(relative);
    // This repository's own build folders, so a checkout's scripts just work.
    for (const char* relative : {"build/release/runtime/kestro-agent", "build/ci/runtime/kestro-agent",
                                 "build/debug/runtime/kestro-agent"})
        candidates << current.filePath(relative);
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

QProcessEnvironment launchEnvironment(const QProcessEnvironment& inherited, const QString& workingDirectory) {
    QProcessEnvironment environment = inherited;
    environment.insert(QStringLiteral("PATH"), QLatin1String(kSearchPath) + QLatin1Char(':') +
                                                   inherited.value(QStringLiteral("PATH")));
    environment.insert(QStringLiteral("PWD"), workingDirectory);
    return environment;
}

} // namespace kestro::companion
