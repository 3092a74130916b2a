// Stands in for the Codex CLI in the streaming benchmark: each event line carries the moment it
// was written (CLOCK_MONOTONIC nanoseconds) as its thread identifier.
//
// Environment: BENCH_EVENTS (default 1000), BENCH_INTERVAL_US (default 1000).

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>

namespace {

long long monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec;
}

long environmentNumber(const char* name, long fallback) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::strtol(value, nullptr, 10) : fallback;
}

} // namespace

int main(int argc, char** argv) {
    bool isRun = false;
    for (int i = 1; i < argc; ++i)
        isRun = isRun || std::strcmp(argv[i], "--json") == 0;
    if (!isRun) {
        std::puts("codex-cli bench");
        return 0;
    }
    const long events = environmentNumber("BENCH_EVENTS", 1000);
    const long interval = environmentNumber("BENCH_INTERVAL_US", 1000);
    for (long i = 0; i < events; ++i) {
        const std::string line = "{\"type\":\"thread.started\",\"thread_id\":\"" +
                                 std::to_string(monotonicNanoseconds()) + "\"}\n";
        if (::write(1, line.data(), line.size()) < 0) return 1;
        ::usleep(static_cast<useconds_t>(interval));
    }
    const char done[] =
        "{\"type\":\"item.completed\",\"item\":{\"type\":\"agent_message\",\"text\":\"done\"}}\n";
    if (::write(1, done, sizeof done - 1) < 0) return 1;
    return 0;
}
