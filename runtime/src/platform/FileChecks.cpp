#include "platform/FileChecks.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace kestro {

bool pathExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::optional<FileIdentity> fileIdentity(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return std::nullopt;
    return FileIdentity{info.st_dev, info.st_ino};
}

bool removeIfUnchanged(const std::string& path, const FileIdentity& identity) {
    return fileIdentity(path) == identity && std::remove(path.c_str()) == 0;
}

bool isOwnFolder(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid();
}

bool isPrivateFolder(const std::string& path) {
    struct stat info {};
    return isOwnFolder(path) && ::lstat(path.c_str(), &info) == 0 &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace kestro
