#pragma once
// How the companion launches the runtime: where the executable is found, its argument list, its
// environment and its working directory. Pure functions over plain values.

#include "AgentLaunchConfiguration.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <optional>

namespace kestro::companion {

// Where to look, as this process sees it, in the order tried.
struct RuntimeSearch {
    std::optional<QString> runtimeVariable;  // KESTRO_AGENT_RUNTIME, when set
    std::optional<QString> resourceFolder;   // the bundle's resources (macOS) or <prefix>/share/kestro-agent
    std::optional<QString> buildTreeRuntime; // the runtime built beside a companion run from its build folder
    QStringList installedRuntimes;           // where the system's packages put the runtime
};

// The folder that holds the runtime beside the companion whose executable is in
// `executableFolder` (one implementation file per operating system).
std::optional<QString> bundledResourceFolder(const QString& executableFolder);

// The runtime of the build folder that holds the companion's `executableFolder`, when the
// companion runs from there (a CMake build folder: <build>/companion and <build>/runtime).
std::optional<QString> buildTreeRuntime(const QString& executableFolder);

// Where this operating system's packages install the runtime (one implementation file per system).
QStringList installedRuntimes();

// The search of this process: its environment, its bundle, install prefix or build folder, and
// the system's packages. Nothing relative to the current folder: whatever folder the companion
// was started in cannot choose the program it runs.
RuntimeSearch currentRuntimeSearch();

// Every candidate path, in the order they are tried.
QStringList runtimeCandidates(const RuntimeSearch& search);

// The first candidate that is an executable file.
std::optional<QString> locateRuntime(const RuntimeSearch& search);

// The folder the runtime works in: the setting as a path (trimmed, relative to the current
// directory), links resolved, "." and ".." removed.
QString launchWorkingDirectory(const QString& workingDirectory);

// --host H --port P --token T --name N --working-dir D --no-open-pair-page [--advertise-host A]
QStringList launchArguments(const AgentLaunchConfiguration& configuration, const QString& token,
                            const QString& workingDirectory);

// `inherited` with the fixed search path put in front of PATH and PWD set to the working folder;
// KESTRO_CODEX_PATH names `codexPath` (trimmed) when one is set, else it is passed on as inherited.
QProcessEnvironment launchEnvironment(const QProcessEnvironment& inherited, const QString& workingDirectory,
                                      const QString& codexPath = QString());

} // namespace kestro::companion
