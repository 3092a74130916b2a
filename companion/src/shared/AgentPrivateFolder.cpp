#include "AgentPrivateFolder.h"

#include <QDir>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestro::companion {

namespace {

const QString kFolderName = QStringLiteral("kestro-agent-companion");

QString systemError(const QString& path) {
    return path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

QString privateFolderProblem(const QString& path) {
    if (!QDir::isAbsolutePath(path)) return path + QStringLiteral(" is not an absolute path.");
    struct stat status {};
    // The folder itself, not what a link there would lead to.
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0) return systemError(path);
    if (!S_ISDIR(status.st_mode)) return path + QStringLiteral(" is not a folder.");
    if (status.st_uid != ::getuid())
        return path + QStringLiteral(" belongs to another user (%1).").arg(status.st_uid);
    if ((status.st_mode & 077) != 0)
        return path + QStringLiteral(" may be entered by other users (mode %1).")
                          .arg(status.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return {};
}

QStringList privateFolderCandidates(const QString& runtimeFolder, const QString& cacheFolder) {
    QStringList candidates;
    for (const QString& base : {runtimeFolder, cacheFolder})
        if (QDir::isAbsolutePath(base)) candidates << QDir::cleanPath(base + QLatin1Char('/') + kFolderName);
    return candidates;
}

QStringList systemPrivateFolderCandidates() {
    return privateFolderCandidates(qEnvironmentVariable("XDG_RUNTIME_DIR"),
                                   QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation));
}

std::optional<QString> preparePrivateFolder(const QStringList& candidates, QStringList* problems) {
    for (const QString& path : candidates) {
        const QByteArray name = QFile::encodeName(path);
        if (name.size() > kLongestFolderPath) {
            if (problems) *problems << path + QStringLiteral(" is too long for a socket path.");
            continue;
        }
        // The parent is made as the user's own folders are; the folder itself private from the
        // start (the umask can only take bits away).
        QDir().mkpath(QFileInfo(path).path());
        if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST) {
            if (problems) *problems << systemError(path);
            continue;
        }
        // A folder of ours that others may enter (made by an older version, or changed by hand)
        // is closed again; anything else (a link among them) is left alone and passed over.
        if (const int folder = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            folder >= 0) {
            struct stat status {};
            if (::fstat(folder, &status) == 0 && status.st_uid == ::getuid() &&
                (status.st_mode & 0777) != 0700)
                ::fchmod(folder, 0700);
            ::close(folder);
        }
        const QString problem = privateFolderProblem(path);
        if (problem.isEmpty()) return path;
        if (problems) *problems << problem;
    }
    return std::nullopt;
}

} // namespace kestro::companion
