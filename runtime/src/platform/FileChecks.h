#pragma once
// Existence and kind tests on paths. Each looks at the file system afresh and never throws.

#include <optional>
#include <string>
#include <sys/types.h>

namespace kestro {

// Something is at the path: a file, a folder, or a link (even one that leads nowhere).
bool pathExists(const std::string& path);

// A folder is at the path, following links.
bool isDirectory(const std::string& path);

// A regular file, following links, that this process may execute.
bool isExecutableFile(const std::string& path);

// Which file is at a path (not following a link), to tell later whether it is still the same.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> fileIdentity(const std::string& path);

// Removes the file at `path` if it is still the one `identity` names (not one written over it
// since, say by another program); false otherwise.
bool removeIfUnchanged(const std::string& path, const FileIdentity& identity);

// A folder that only this user can change: a real folder (not a link), owned by this user,
// writable by nobody else.
bool isPrivateFolder(const std::string& path);

// A real folder (not a link) owned by this user.
bool isOwnFolder(const std::string& path);

} // namespace kestro
