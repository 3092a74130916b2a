#pragma once
// The files of the Codex home, the folder ".codex" in the user's home directory. The runtime
// reads them and never writes them.

#include <cstddef>
#include <string>

namespace kestro {

struct CodexHome {
    std::string folder;        // HOME/.codex
    std::string configFile;    // config.toml
    std::string authFile;      // auth.json
    std::string stateDatabase; // state_5.sqlite
    std::string sessionsFolder;
    std::string skillsFolder;
};

// The most one read takes of these files; a file over its cap counts as unreadable. Codex
// writes both small: the caps only keep a damaged or planted file from filling memory.
inline constexpr size_t kCodexConfigFileCap = 4 << 20;
inline constexpr size_t kCodexAuthFileCap = 1 << 20;

inline CodexHome codexHome(const std::string& home) {
    const std::string folder = home + "/.codex";
    return {.folder = folder,
            .configFile = folder + "/config.toml",
            .authFile = folder + "/auth.json",
            .stateDatabase = folder + "/state_5.sqlite",
            .sessionsFolder = folder + "/sessions",
            .skillsFolder = folder + "/skills"};
}

} // namespace kestro
