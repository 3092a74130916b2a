#pragma once
// Facts about this computer, one implementation file per operating system.
// Every function answers from the system at the time of the call and never throws.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestro {

// The computer's user-visible name; absent when the system gives none.
std::optional<std::string> computerName();

// $HOME when set and non-empty, else the password database, else "/".
std::string homeDirectory();

// The process's current directory ("/" when it cannot be read).
std::string currentDirectory();

// Cumulative CPU ticks over all processors since boot.
struct CPUTickSample {
    uint32_t user = 0;
    uint32_t system = 0;
    uint32_t idle = 0;
    uint32_t nice = 0;
    bool operator==(const CPUTickSample&) const = default;
};
std::optional<CPUTickSample> cpuTickSample();

// Physical memory and the part of it in use, in bytes.
struct MemorySample {
    double usedBytes = 0;
    double physicalBytes = 0;
};
std::optional<MemorySample> memorySample();

// One entry of the system's interface address list, in the system's order.
struct InterfaceAddress {
    std::string name;
    bool isIPv4 = false;
    bool isUp = false;
    bool isLoopback = false;
    std::optional<std::string> numericAddress; // absent when the entry has no address
};
std::optional<std::vector<InterfaceAddress>> interfaceAddresses();

// The per-user temporary directory for files that must stay private to this user: on Linux
// $XDG_RUNTIME_DIR when only this user can change it, else a private folder of this user's in
// the temporary folder. Absent when no such directory can be had safely.
std::optional<std::string> privateTemporaryDirectory();

// Asks the desktop to open a file or URL with its default application; detached, outcome ignored.
void openWithDefaultApplication(const std::string& location);

} // namespace kestro
