#include "run/ChildProcess.h"

#include "platform/SystemError.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kestro {

namespace {

std::string launchError(const ProcessOptions& options, int error) {
    if (options.currentDirectory) {
        struct stat info{};
        if (::stat(options.currentDirectory->c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
            return "The folder " + *options.currentDirectory + " does not exist or is not a folder.";
    }
    return "Could not start " + options.executable + ": " + errnoText(error);
}

} // namespace

SpawnResult spawnWithPipes(const ProcessOptions& options) {
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        const int error = errno;
        for (const int fd : {out[0], out[1], err[0], err[1]})
            if (fd >= 0) ::close(fd);
        return {std::nullopt, "Could not create pipes: " + errnoText(error)};
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (options.currentDirectory) posix_spawn_file_actions_addchdir_np(&actions, options.currentDirectory->c_str());

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(options.executable.c_str()));
    for (const auto& argument : options.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int failure = ::posix_spawn(&pid, options.executable.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    if (failure != 0) {
        ::close(out[0]);
        ::close(err[0]);
        return {std::nullopt, launchError(options, failure)};
    }
    return {SpawnedChild{.pid = pid, .standardOutput = out[0], .standardError = err[0]}, ""};
}

int exitStatusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return 1;
}

} // namespace kestro
