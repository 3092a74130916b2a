#include "support/ProcessFacts.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>

namespace kestro::testing {

size_t openDescriptorCount(pid_t pid) {
    size_t count = 0;
    std::error_code error;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error))
        ++count;
    return count;
}

std::vector<pid_t> childProcesses(pid_t pid) {
    std::vector<pid_t> children;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        // pid (comm) state ppid ...: the command may hold spaces, so read after the last ')'.
        const size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        std::string state;
        pid_t parent = 0;
        rest >> state >> parent;
        if (parent == pid) children.push_back(static_cast<pid_t>(std::stoi(name)));
    }
    return children;
}

namespace {

long statusKilobytes(pid_t pid, const std::string& key) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(key.size()));
    return 0;
}

} // namespace

long residentKilobytes(pid_t pid) {
    return statusKilobytes(pid, "VmRSS:");
}

long peakResidentKilobytes(pid_t pid) {
    return statusKilobytes(pid, "VmHWM:");
}

double cpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return 0;
    // pid (comm) state ... : fields after the command; utime and stime are the 14th and 15th.
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    std::string field;
    unsigned long long user = 0, system = 0;
    for (int index = 3; index <= 15 && rest >> field; ++index) {
        if (index == 14) user = std::stoull(field);
        if (index == 15) system = std::stoull(field);
    }
    return double(user + system) / double(::sysconf(_SC_CLK_TCK));
}

bool isRunning(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    const size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z' &&
           line[close + 2] != 'X';
}

std::vector<std::string> environmentOf(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
    std::vector<std::string> entries;
    std::string entry;
    while (std::getline(file, entry, '\0'))
        entries.push_back(entry);
    return entries;
}

std::string commandLineOf(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::replace(text.begin(), text.end(), '\0', ' ');
    return text;
}

long softDescriptorLimit(pid_t pid) {
    std::ifstream limits("/proc/" + std::to_string(pid) + "/limits");
    std::string line;
    while (std::getline(limits, line))
        if (line.rfind("Max open files", 0) == 0) {
            std::istringstream fields(line.substr(14));
            std::string soft;
            fields >> soft;
            return soft == "unlimited" ? -1 : std::stol(soft);
        }
    return -1;
}

} // namespace kestro::testing
