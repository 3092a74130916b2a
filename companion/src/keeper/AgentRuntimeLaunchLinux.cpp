#include "AgentRuntimeLaunch.h"

#include <QDir>

namespace kestro::companion {

// An installed tree: the companion in <prefix>/bin, the runtime's folder <prefix>/share/kestro-agent.
std::optional<QString> bundledResourceFolder(const QString& executableFolder) {
    QDir folder(executableFolder);
    if (!folder.cdUp()) return std::nullopt;
    return folder.filePath(QStringLiteral("share/kestro-agent"));
}

// The Debian package's runtime.
QStringList installedRuntimes() {
    return {QStringLiteral("/usr/bin/kestro-agent")};
}

} // namespace kestro::companion
