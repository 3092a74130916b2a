#pragma once
// The keeper's folder for its lock and sockets: a real folder (not a link), owned by this user,
// that nobody else may enter (no group or other permission bits). The keeper makes it; both
// programs check it before they listen or connect, since whoever could plant a socket there
// could show a window their pairing code or read the session log (which carries the token).
// Plain functions; any thread.

#include <QString>
#include <QStringList>
#include <optional>

namespace kestro::companion {

// Empty when `path` is such a folder, else what is wrong with it.
QString privateFolderProblem(const QString& path);

// Where the keeper may keep its folder, best first: "kestro-agent-companion" in the per-user
// runtime folder (`runtimeFolder`, $XDG_RUNTIME_DIR, when it is an absolute path), then
// "kestro-agent-companion" in the user's cache folder (`cacheFolder`), which survives a runtime
// folder that is missing or taken by someone else.
QStringList privateFolderCandidates(const QString& runtimeFolder, const QString& cacheFolder);

// The candidates of this process's environment.
QStringList systemPrivateFolderCandidates();

// The first candidate that is, or can be made (mode 0700), a private folder with room for a
// socket path; absent when none can, with each candidate's problem in `problems`.
std::optional<QString> preparePrivateFolder(const QStringList& candidates, QStringList* problems = nullptr);

// The longest socket path the system takes (sun_path), with room for the names used inside.
inline constexpr int kLongestFolderPath = 90;

} // namespace kestro::companion
