#include "platform/ChildProcess.h"
#include "platform/FileChecks.h"
#include "platform/Host.h"
#include "text/Text.h"

#include <CoreFoundation/CoreFoundation.h>
#include <SystemConfiguration/SystemConfiguration.h>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <ifaddrs.h>
#include <mach/mach.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/sysctl.h>
#include <unistd.h>

namespace kestro {

std::optional<std::string> computerName() {
    CFStringRef name = SCDynamicStoreCopyComputerName(nullptr, nullptr);
    if (name == nullptr) return std::nullopt;
    char buffer[1024] = {};
    const bool ok = CFStringGetCString(name, buffer, sizeof buffer, kCFStringEncodingUTF8);
    CFRelease(name);
    if (!ok) return std::nullopt;
    std::string text = trimmed(buffer);
    if (text.empty()) return std::nullopt;
    return text;
}

std::optional<CPUTickSample> cpuTickSample() {
    host_cpu_load_info_data_t info{};
    mach_msg_type_number_t count = HOST_CPU_LOAD_INFO_COUNT;
    if (host_statistics(mach_host_self(), HOST_CPU_LOAD_INFO, reinterpret_cast<host_info_t>(&info), &count) !=
        KERN_SUCCESS)
        return std::nullopt;
    return CPUTickSample{.user = info.cpu_ticks[CPU_STATE_USER],
                         .system = info.cpu_ticks[CPU_STATE_SYSTEM],
                         .idle = info.cpu_ticks[CPU_STATE_IDLE],
                         .nice = info.cpu_ticks[CPU_STATE_NICE]};
}

std::optional<MemorySample> memorySample() {
    vm_size_t pageSize = 0;
    host_page_size(mach_host_self(), &pageSize);
    vm_statistics64_data_t info{};
    mach_msg_type_number_t count = HOST_VM_INFO64_COUNT;
    if (host_statistics64(mach_host_self(), HOST_VM_INFO64, reinterpret_cast<host_info64_t>(&info), &count) !=
        KERN_SUCCESS)
        return std::nullopt;
    const double usedPages = double(info.active_count) + double(info.inactive_count) +
                             double(info.wire_count) + double(info.compressor_page_count);
    uint64_t physical = 0;
    size_t length = sizeof physical;
    sysctlbyname("hw.memsize", &physical, &length, nullptr, 0);
    return MemorySample{.usedBytes = usedPages * double(pageSize), .physicalBytes = double(physical)};
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
            char host[NI_MAXHOST] = {};
            if (getnameinfo(entry->ifa_addr, entry->ifa_addr->sa_len, host, sizeof host, nullptr, 0,
                            NI_NUMERICHOST) == 0)
                address.numericAddress = std::string(host);
        }
        out.push_back(std::move(address));
    }
    freeifaddrs(list);
    return out;
}

std::optional<std::string> privateTemporaryDirectory() {
    // The Mac's per-user temporary folder is already private to the user.
    char buffer[PATH_MAX] = {};
    if (confstr(_CS_DARWIN_USER_TEMP_DIR, buffer, sizeof buffer) == 0) return std::nullopt;
    std::string path(buffer);
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

void openWithDefaultApplication(const std::string& location) {
    static constexpr const char* kOpener = "/usr/bin/open";
    if (!isExecutableFile(kOpener)) return;
    // Its own process group, so a terminal's signals for us do not reach the browser it starts.
    spawnDetached({.executable = kOpener, .arguments = {location}, .ownProcessGroup = true});
}

} // namespace kestro
