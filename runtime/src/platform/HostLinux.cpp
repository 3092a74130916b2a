#include "platform/ChildProcess.h"
#include "platform/FileChecks.h"
#include "platform/FileReading.h"
#include "platform/Host.h"
#include "text/Text.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace kestro {

namespace {

// /proc files report no size: each is read up to a cap suited to it. /proc/stat grows with the
// number of processors and interrupts.
constexpr size_t kSmallSystemFileCap = 64 << 10;
constexpr size_t kProcStatCap = 4 << 20;

// Values in /etc/machine-info follow shell quoting: strip one level of quotes and backslashes.
std::string unquotedShellValue(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        const char quote = value.front();
        value = value.substr(1, value.size() - 2);
        if (quote == '\'') return std::string(value);
    }
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) ++i;
        out.push_back(value[i]);
    }
    return out;
}

std::optional<std::string> prettyHostName() {
    std::istringstream file(readWholeFile("/etc/machine-info", kSmallSystemFileCap).value_or(""));
    std::string line;
    while (std::getline(file, line)) {
        if (!startsWith(line, "PRETTY_HOSTNAME=")) continue;
        std::string value = trimmed(unquotedShellValue(trimmed(line.substr(16))));
        if (!value.empty()) return value;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> computerName() {
    if (auto pretty = prettyHostName()) return pretty;
    char buffer[HOST_NAME_MAX + 1] = {};
    if (gethostname(buffer, sizeof buffer - 1) == 0) {
        std::string name = trimmed(buffer);
        if (!name.empty()) return name;
    }
    return std::nullopt;
}

std::optional<CPUTickSample> cpuTickSample() {
    std::istringstream stat(readWholeFile("/proc/stat", kProcStatCap).value_or(""));
    std::string label;
    unsigned long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0;
    if (!(stat >> label >> user >> nice >> system >> idle >> iowait >> irq >> softirq) || label != "cpu")
        return std::nullopt;
    // The counters are presented as 32-bit values that wrap, as on the Mac.
    auto wrap = [](unsigned long long value) { return static_cast<uint32_t>(value & 0xFFFFFFFFull); };
    return CPUTickSample{.user = wrap(user),
                         .system = wrap(system + irq + softirq),
                         .idle = wrap(idle + iowait),
                         .nice = wrap(nice)};
}

std::optional<MemorySample> memorySample() {
    std::istringstream meminfo(readWholeFile("/proc/meminfo", kSmallSystemFileCap).value_or(""));
    std::string line;
    std::optional<double> total, available;
    while (std::getline(meminfo, line)) {
        std::istringstream fields(line);
        std::string key;
        double kibibytes = 0;
        if (!(fields >> key >> kibibytes)) continue;
        if (key == "MemTotal:") total = kibibytes * 1024.0;
        if (key == "MemAvailable:") available = kibibytes * 1024.0;
    }
    if (!total || !available) return std::nullopt;
    return MemorySample{.usedBytes = *total - *available, .physicalBytes = *total};
}

std::optional<std::vector<InterfaceAddress>> interfaceAddresses() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return std::nullopt;
    std::vector<InterfaceAddress> out;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        InterfaceAddress address;
        address.name = entry->ifa_name != nullptr ? entry->ifa_name : "";
        address.isUp = (entry->ifa_flags & IFF_UP) != 0;
        address.isLoopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
        if (entry->ifa_addr != nullptr) {
            address.isIPv4 = entry->ifa_addr->sa_family == AF_INET;
            const socklen_t length = address.isIPv4 ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
            char host[NI_MAXHOST] = {};
            if ((entry->ifa_addr->sa_family == AF_INET || entry->ifa_addr->sa_family == AF_INET6) &&
                getnameinfo(entry->ifa_addr, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) == 0)
                address.numericAddress = std::string(host);
        }
        out.push_back(std::move(address));
    }
    freeifaddrs(list);
    return out;
}

std::optional<std::string> privateTemporaryDirectory() {
    // Only a runtime folder nobody else can change: another user could otherwise swap the page and
    // the QR code for their own.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        runtime != nullptr && *runtime != '\0' && isPrivateFolder(runtime))
        return std::string(runtime);
    const char* tmp = std::getenv("TMPDIR");
    std::string base = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    const std::string folder = base + "/kestro-" + std::to_string(getuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
    struct stat info {};
    // lstat: a link planted by someone else must not redirect the token files.
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid())
        return std::nullopt;
    if ((info.st_mode & 0077) != 0 && chmod(folder.c_str(), 0700) != 0) return std::nullopt;
    return folder;
}

void openWithDefaultApplication(const std::string& location) {
    static constexpr const char* kOpener = "/usr/bin/xdg-open";
    if (!isExecutableFile(kOpener)) return;
    // Its own process group, so a terminal's signals for us do not reach the browser it starts.
    spawnDetached({.executable = kOpener, .arguments = {location}, .ownProcessGroup = true});
}

} // namespace kestro
