#pragma once
// The files of the Codex home, the folder ".codex" in the user's home directory. The runtime
// reads them and never writes them.

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
