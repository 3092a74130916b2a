#include "platform/FileChecks.h"
#include "platform/FileDescriptor.h"
#include "platform/SecureRandom.h"
#include "surfaces/PNGPicture.h"
#include "surfaces/ScreenshotPortal.h"
#include "text/Text.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

namespace kestro {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kScreenshot = "org.freedesktop.portal.Screenshot";
constexpr const char* kRequest = "org.freedesktop.portal.Request";
// A PNG of the largest screens is a few tens of megabytes.
constexpr size_t kLargestPicture = 128 << 20;
// Part of the budget kept for closing a request given up.
constexpr auto kCloseReserve = 300ms;
// How much earlier than the request a picture's file may have changed (coarse file-system clocks).
constexpr time_t kClockSlackSeconds = 2;

uint64_t remainingMicroseconds(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now()).count();
    return static_cast<uint64_t>(std::max<long long>(left, 1));
}

// A connection to the session bus, closed (without waiting to send what is left) when it goes.
class SessionBus {
  public:
    SessionBus() = default;
    ~SessionBus() {
        if (m_bus != nullptr) sd_bus_close_unref(m_bus);
    }
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    // Connects and says hello, by the deadline; noService or timedOut when it could not.
    PortalAnswer open(const EnvironmentLookup& environment, Clock::time_point deadline) {
        const auto address = sessionBusAddress(environment);
        if (!address || sd_bus_new(&m_bus) < 0) return PortalAnswer::noService;
        // The portal passes no descriptors: none are taken from a peer.
        if (sd_bus_set_address(m_bus, address->c_str()) < 0 || sd_bus_set_bus_client(m_bus, 1) < 0 ||
            sd_bus_negotiate_fds(m_bus, 0) < 0 || sd_bus_start(m_bus) < 0)
            return PortalAnswer::noService;
        return processUntil([this] { return sd_bus_is_ready(m_bus) > 0; }, deadline);
    }

    // Handles what arrives until `done` holds; timedOut at the deadline, noService when the bus
    // connection broke.
    template <class Done> PortalAnswer processUntil(Done done, Clock::time_point deadline) {
        while (!done()) {
            const int processed = sd_bus_process(m_bus, nullptr);
            if (processed < 0) return PortalAnswer::noService;
            if (processed > 0) continue;
            if (Clock::now() >= deadline) return PortalAnswer::timedOut;
            const int waited = sd_bus_wait(m_bus, remainingMicroseconds(deadline));
            if (waited < 0 && waited != -EINTR) return PortalAnswer::noService;
        }
        return PortalAnswer::answered;
    }

    sd_bus* get() const { return m_bus; }

  private:
    sd_bus* m_bus = nullptr;
};

// What an error answer means to the caller.
PortalAnswer answerOfError(const sd_bus_error* error) {
    if (sd_bus_error_has_names(error, SD_BUS_ERROR_TIMEOUT, SD_BUS_ERROR_NO_REPLY))
        return PortalAnswer::timedOut;
    if (sd_bus_error_has_names(error, SD_BUS_ERROR_ACCESS_DENIED, "org.freedesktop.portal.Error.NotAllowed"))
        return PortalAnswer::refused;
    // No portal, one without the screenshot service, or one that could not be started.
    return PortalAnswer::noService;
}

struct VersionQuestion {
    bool finished = false;
    PortalAnswer answer = PortalAnswer::noService;
};

int onVersion(sd_bus_message* reply, void* data, sd_bus_error*) {
    auto* question = static_cast<VersionQuestion*>(data);
    question->finished = true;
    uint32_t version = 0;
    if (sd_bus_message_is_method_error(reply, nullptr))
        question->answer = answerOfError(sd_bus_message_get_error(reply));
    else if (sd_bus_message_read(reply, "v", "u", &version) > 0)
        question->answer = PortalAnswer::answered;
    return 0;
}

// One screenshot request, from the call to its Response signal.
struct ScreenshotRequest {
    std::string handle; // the Request object's path, as the portal will name it
    bool finished = false;
    PortalAnswer answer = PortalAnswer::failed;
    std::optional<std::string> uri;
};

int onResponse(sd_bus_message* signal, void* data, sd_bus_error*) {
    auto* request = static_cast<ScreenshotRequest*>(data);
    if (request->finished) return 0;
    request->finished = true;
    uint32_t response = 0;
    if (sd_bus_message_read(signal, "u", &response) <= 0) return 0;
    // Non-interactive requests answer 1 when the person cancelled the desktop's question and 2
    // when permission was refused before or now (or the service failed, which it does not tell
    // apart from a refusal).
    if (response == 1 || response == 2) {
        request->answer = PortalAnswer::refused;
        return 0;
    }
    if (response != 0 || sd_bus_message_enter_container(signal, 'a', "{sv}") <= 0) return 0;
    while (sd_bus_message_enter_container(signal, 'e', "sv") > 0) {
        const char* key = nullptr;
        const char* uri = nullptr;
        if (sd_bus_message_read(signal, "s", &key) <= 0) return 0;
        if (std::string_view(key) == "uri" && sd_bus_message_read(signal, "v", "s", &uri) > 0)
            request->uri = uri;
        else if (sd_bus_message_skip(signal, "v") < 0)
            return 0;
        if (sd_bus_message_exit_container(signal) < 0) return 0;
    }
    request->answer = request->uri ? PortalAnswer::answered : PortalAnswer::failed;
    return 0;
}

int onScreenshotCalled(sd_bus_message* reply, void* data, sd_bus_error*) {
    auto* request = static_cast<ScreenshotRequest*>(data);
    if (!sd_bus_message_is_method_error(reply, nullptr) || request->finished) return 0;
    request->finished = true;
    request->answer = answerOfError(sd_bus_message_get_error(reply));
    return 0;
}

// The element of a request's path that stands for this connection: its unique name without the
// leading colon, dots as underscores.
std::string senderElement(const char* uniqueName) {
    std::string element(uniqueName);
    if (element.starts_with(':')) element.erase(0, 1);
    std::replace(element.begin(), element.end(), '.', '_');
    return element;
}

// Sends the screenshot call with `token` as its handle token.
bool callScreenshot(sd_bus* bus, const std::string& token, ScreenshotRequest& request,
                    Clock::time_point deadline) {
    sd_bus_message* call = nullptr;
    if (sd_bus_message_new_method_call(bus, &call, kPortal, kPortalPath, kScreenshot, "Screenshot") < 0)
        return false;
    const bool built = sd_bus_message_append(call, "s", "") >= 0 &&
                       sd_bus_message_open_container(call, 'a', "{sv}") >= 0 &&
                       sd_bus_message_append(call, "{sv}", "handle_token", "s", token.c_str()) >= 0 &&
                       sd_bus_message_append(call, "{sv}", "interactive", "b", 0) >= 0 &&
                       sd_bus_message_close_container(call) >= 0;
    const bool sent = built && sd_bus_call_async(bus, nullptr, call, onScreenshotCalled, &request,
                                                 remainingMicroseconds(deadline)) >= 0;
    sd_bus_message_unref(call);
    return sent;
}

// Asks the portal to drop a request given up, so that a late "Allow" takes no picture, and waits
// for it to be taken in, by the deadline.
void closeRequest(SessionBus& bus, const std::string& handle, Clock::time_point deadline) {
    bool closed = false;
    const auto onClosed = [](sd_bus_message*, void* data, sd_bus_error*) {
        *static_cast<bool*>(data) = true;
        return 0;
    };
    if (sd_bus_call_method_async(bus.get(), nullptr, kPortal, handle.c_str(), kRequest, "Close", onClosed,
                                 &closed, "") >= 0)
        bus.processUntil([&] { return closed; }, deadline);
}

// The file the portal wrote, open, when it is a fresh regular file of this user's: anything else
// at the path is neither read nor removed, as the path comes from another program.
struct PortalFile {
    FileDescriptor descriptor;
    FileIdentity identity;
};
std::optional<PortalFile> openedPortalFile(const std::string& uri, time_t requestedAt) {
    const auto path = localPathOfFileURI(uri);
    if (!path) return std::nullopt;
    FileDescriptor file(::open(path->c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    struct stat info {};
    if (!file.isOpen() || ::fstat(file.get(), &info) != 0) return std::nullopt;
    const bool ours = S_ISREG(info.st_mode) && info.st_uid == ::geteuid() && info.st_nlink == 1 &&
                      info.st_ctim.tv_sec >= requestedAt - kClockSlackSeconds &&
                      info.st_size <= static_cast<off_t>(kLargestPicture);
    if (!ours) return std::nullopt;
    return PortalFile{std::move(file), FileIdentity{info.st_dev, info.st_ino}};
}

void removePortalFile(const std::string& uri, const PortalFile& file) {
    removeIfUnchanged(*localPathOfFileURI(uri), file.identity);
}

} // namespace

std::optional<std::string> sessionBusAddress(const EnvironmentLookup& environment) {
    const std::string addresses = environment("DBUS_SESSION_BUS_ADDRESS").value_or("");
    if (trimmed(addresses).empty()) {
        const std::string runtimeDirectory = environment("XDG_RUNTIME_DIR").value_or("");
        if (!runtimeDirectory.starts_with('/') ||
            runtimeDirectory.find_first_of(",;%=") != std::string::npos ||
            runtimeDirectory.find('\0') != std::string::npos)
            return std::nullopt;
        return "unix:path=" + runtimeDirectory + "/bus";
    }
    size_t start = 0;
    while (start <= addresses.size()) {
        const size_t end = std::min(addresses.find(';', start), addresses.size());
        const std::string address = addresses.substr(start, end - start);
        if ((address.starts_with("unix:path=") || address.starts_with("unix:abstract=")) &&
            address.find('\0') == std::string::npos)
            return address;
        start = end + 1;
    }
    return std::nullopt;
}

std::optional<std::string> localPathOfFileURI(const std::string& uri) {
    constexpr std::string_view kScheme = "file://";
    if (uri.size() < kScheme.size() || lowercased(uri.substr(0, kScheme.size())) != kScheme)
        return std::nullopt;
    std::string_view rest = std::string_view(uri).substr(kScheme.size());
    const size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const std::string_view host = rest.substr(0, slash);
    if (!host.empty() && lowercased(std::string(host)) != "localhost") return std::nullopt;
    rest = rest.substr(slash);
    std::string path;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '?' || rest[i] == '#') return std::nullopt;
        if (rest[i] != '%') {
            path.push_back(rest[i]);
            continue;
        }
        const auto digit = [](char c) -> int {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            if (c >= 'A' && c <= 'F') return c - 'A' + 10;
            return -1;
        };
        if (i + 2 >= rest.size() || digit(rest[i + 1]) < 0 || digit(rest[i + 2]) < 0) return std::nullopt;
        path.push_back(static_cast<char>(digit(rest[i + 1]) * 16 + digit(rest[i + 2])));
        i += 2;
    }
    if (path.find('\0') != std::string::npos) return std::nullopt;
    return path;
}

PortalAnswer screenshotPortalOffered(const EnvironmentLookup& environment, Clock::time_point deadline) {
    SessionBus bus;
    if (const PortalAnswer opened = bus.open(environment, deadline); opened != PortalAnswer::answered)
        return opened;
    VersionQuestion question;
    if (sd_bus_call_method_async(bus.get(), nullptr, kPortal, kPortalPath, "org.freedesktop.DBus.Properties",
                                 "Get", onVersion, &question, "ss", kScreenshot, "version") < 0)
        return PortalAnswer::noService;
    if (const PortalAnswer waited = bus.processUntil([&] { return question.finished; }, deadline);
        waited != PortalAnswer::answered)
        return waited;
    return question.answer;
}

PortalScreenshot takePortalScreenshot(const EnvironmentLookup& environment, Clock::time_point deadline,
                                      uint32_t maxSide) {
    const time_t requestedAt = ::time(nullptr);
    SessionBus bus;
    if (const PortalAnswer opened = bus.open(environment, deadline); opened != PortalAnswer::answered)
        return {.answer = opened};
    const char* uniqueName = nullptr;
    if (sd_bus_get_unique_name(bus.get(), &uniqueName) < 0) return {.answer = PortalAnswer::noService};
    const std::string token = "kestro" + randomToken();
    ScreenshotRequest request{.handle = std::string(kPortalPath) + "/request/" + senderElement(uniqueName) +
                                        "/" + token};
    // Listening before asking: the answer may come as soon as the call is taken.
    if (sd_bus_match_signal_async(bus.get(), nullptr, kPortal, request.handle.c_str(), kRequest, "Response",
                                  onResponse, nullptr, &request) < 0 ||
        !callScreenshot(bus.get(), token, request, deadline))
        return {.answer = PortalAnswer::noService};
    const PortalAnswer waited = bus.processUntil([&] { return request.finished; }, deadline - kCloseReserve);
    if (waited == PortalAnswer::timedOut) {
        closeRequest(bus, request.handle, deadline);
        // A picture that came while the request was being closed is of no use any more.
        if (request.uri)
            if (const auto late = openedPortalFile(*request.uri, requestedAt))
                removePortalFile(*request.uri, *late);
        return {.answer = PortalAnswer::timedOut};
    }
    if (waited != PortalAnswer::answered) return {.answer = waited};
    if (request.answer != PortalAnswer::answered) return {.answer = request.answer};
    const auto file = openedPortalFile(*request.uri, requestedAt);
    if (!file) return {.answer = PortalAnswer::failed};
    auto picture = shrunkPNG(file->descriptor.get(), kLargestPicture, maxSide, deadline);
    removePortalFile(*request.uri, *file);
    if (!picture) return {.answer = PortalAnswer::failed};
    return {.answer = PortalAnswer::answered, .image = std::move(picture)};
}

} // namespace kestro
