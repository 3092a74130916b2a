#pragma once
// Absolute paths of the outside tools the runtime runs. One value, passed to the code that runs
// them, so tests can point any of them at a fake.

#include <string>

namespace kestro {

struct SystemTools {
    std::string git = "/usr/bin/git";
    std::string sqlite3 = "/usr/bin/sqlite3";
    std::string env = "/usr/bin/env";
    std::string xcrun = "/usr/bin/xcrun";
    std::string screencapture = "/usr/sbin/screencapture";
    std::string sips = "/usr/bin/sips";
    std::string osascript = "/usr/bin/osascript";
    std::string which = "/usr/bin/which";
    std::string grim = "/usr/bin/grim"; // Linux: the screen of wlroots desktops
};

} // namespace kestro
