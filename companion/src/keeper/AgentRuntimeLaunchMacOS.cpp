#include "AgentRuntimeLaunch.h"

#include <QDir>

namespace kestro::companion {

// An application bundle: the companion in Contents/MacOS, the resources in Contents/Resources.
std::optional<QString> bundledResourceFolder(const QString& executableFolder) {
    QDir folder(executableFolder);
    if (folder.dirName() != QLatin1String("MacOS") || !folder.cdUp()) return std::nullopt;
    return folder.filePath(QStringLiteral("Resources"));
}

// The runtime ships inside the application bundle only.
QStringList installedRuntimes() {
    return {};
}

} // namespace kestro::companion
