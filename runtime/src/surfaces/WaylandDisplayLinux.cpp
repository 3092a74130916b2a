#include "platform/FileDescriptor.h"
#include "surfaces/WaylandDisplay.h"
#include "text/Text.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <vector>
#include <wayland-client.h>
#include <wlr-foreign-toplevel-management-unstable-v1-client-protocol.h>

namespace kestro {

namespace {

using Clock = std::chrono::steady_clock;

// What a compositor may announce before the session gives up on it: far more than any desktop
// has, small enough that a flood costs nothing.
constexpr size_t kMostOutputs = 32;
constexpr size_t kMostToplevels = 512;
constexpr size_t kLongestAppID = 255;
constexpr size_t kLongestOutputName = 63;
// The newest versions this client speaks: output names came with wl_output 4.
constexpr uint32_t kOutputVersion = 4;
constexpr uint32_t kToplevelListVersion = 3;

int remainingMilliseconds(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

// The library prints protocol errors on standard error by default; here they only end the
// session, which its state reports.
void silentLog(const char*, va_list) {}

enum class Wait { done, timedOut, failed };

// Waits for a non-blocking connect to finish; refused when nothing listens there.
std::pair<FileDescriptor, Wait> connectedSocket(const std::string& path, Clock::time_point deadline) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return {FileDescriptor(), Wait::failed};
    std::memcpy(address.sun_path, path.data(), path.size());
    FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket.isOpen()) return {FileDescriptor(), Wait::failed};
    if (::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return {std::move(socket), Wait::done};
    // A compositor too busy to accept leaves its backlog full: that is waiting, not refusing.
    if (errno != EINPROGRESS && errno != EAGAIN) return {FileDescriptor(), Wait::failed};
    pollfd waiting{socket.get(), POLLOUT, 0};
    int ready;
    while ((ready = ::poll(&waiting, 1, remainingMilliseconds(deadline))) < 0 && errno == EINTR) {
    }
    if (ready == 0) return {FileDescriptor(), Wait::timedOut};
    int error = 0;
    socklen_t size = sizeof error;
    if (ready < 0 || ::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
        return {FileDescriptor(), Wait::failed};
    return {std::move(socket), Wait::done};
}

// An application id or output name worth keeping: printable ASCII within `longest` bytes.
std::optional<std::string> plainName(const char* text, size_t longest) {
    if (text == nullptr) return std::nullopt;
    const std::string_view name(text, ::strnlen(text, longest + 1));
    if (name.empty() || name.size() > longest) return std::nullopt;
    if (!std::all_of(name.begin(), name.end(), [](char c) { return c > ' ' && c < 0x7F; }))
        return std::nullopt;
    return std::string(name);
}

} // namespace

bool isWaylandSession(const EnvironmentLookup& environment) {
    return !trimmed(environment("WAYLAND_DISPLAY").value_or("")).empty() ||
           lowercased(trimmed(environment("XDG_SESSION_TYPE").value_or(""))) == "wayland";
}

std::optional<std::string> waylandSocketPath(const EnvironmentLookup& environment) {
    std::string name = environment("WAYLAND_DISPLAY").value_or("");
    if (trimmed(name).empty()) name = "wayland-0";
    if (name.find('\0') != std::string::npos) return std::nullopt;
    std::string path = name;
    if (!name.starts_with('/')) {
        const std::string runtimeDirectory = environment("XDG_RUNTIME_DIR").value_or("");
        if (!runtimeDirectory.starts_with('/') || runtimeDirectory.find('\0') != std::string::npos)
            return std::nullopt;
        path = runtimeDirectory + "/" + name;
    }
    if (path.size() >= sizeof(sockaddr_un::sun_path)) return std::nullopt;
    return path;
}

struct WaylandConversation {
    struct Global {
        uint32_t name = 0;
        uint32_t version = 0;
    };
    struct Output {
        wl_output* proxy = nullptr;
        std::optional<std::string> name;
    };
    // A toplevel's properties apply together at its "done"; until then they are pending.
    struct ToplevelState {
        std::string appID;
        std::vector<wl_output*> outputs;
        bool activated = false;
    };
    struct Toplevel {
        WaylandConversation* conversation = nullptr;
        zwlr_foreign_toplevel_handle_v1* proxy = nullptr;
        ToplevelState pending;
        ToplevelState current;
        bool closed = false;
    };

    ~WaylandConversation() {
        for (const auto& toplevel : toplevels)
            wl_proxy_destroy(reinterpret_cast<wl_proxy*>(toplevel->proxy));
        if (manager != nullptr) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(manager));
        for (const auto& output : outputs)
            wl_proxy_destroy(reinterpret_cast<wl_proxy*>(output->proxy));
        if (registry != nullptr) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(registry));
        if (display != nullptr) wl_display_disconnect(display);
    }

    // Sends what is queued and dispatches what the compositor sends until it has answered
    // everything asked so far.
    Wait roundtrip() {
        wl_callback* callback = wl_display_sync(display);
        if (callback == nullptr) return Wait::failed;
        bool answered = false;
        static constexpr wl_callback_listener kListener{
            .done = [](void* data, wl_callback*, uint32_t) { *static_cast<bool*>(data) = true; }};
        wl_callback_add_listener(callback, &kListener, &answered);
        const Wait result = dispatchUntil(answered);
        wl_callback_destroy(callback);
        return result;
    }

    Wait dispatchUntil(const bool& answered) {
        const int fd = wl_display_get_fd(display);
        while (true) {
            while (wl_display_prepare_read(display) != 0)
                if (wl_display_dispatch_pending(display) < 0) return Wait::failed;
            if (answered || overflowed) {
                wl_display_cancel_read(display);
                return overflowed ? Wait::failed : Wait::done;
            }
            int flushed;
            while ((flushed = wl_display_flush(display)) < 0 && errno == EAGAIN) {
                pollfd writable{fd, POLLOUT, 0};
                if (::poll(&writable, 1, remainingMilliseconds(deadline)) == 0) {
                    wl_display_cancel_read(display);
                    return Wait::timedOut;
                }
            }
            // A compositor that hung up may still have left its last words (an error) to read.
            if (flushed < 0 && errno != EPIPE) {
                wl_display_cancel_read(display);
                return Wait::failed;
            }
            pollfd readable{fd, POLLIN, 0};
            const int ready = ::poll(&readable, 1, remainingMilliseconds(deadline));
            if (ready <= 0) {
                wl_display_cancel_read(display);
                if (ready == 0) return Wait::timedOut;
                if (errno == EINTR) continue;
                return Wait::failed;
            }
            if (wl_display_read_events(display) < 0) return Wait::failed;
            if (wl_display_dispatch_pending(display) < 0) return Wait::failed;
        }
    }

    Toplevel* adopt(zwlr_foreign_toplevel_handle_v1* proxy) {
        // Every proxy the compositor creates is ours to destroy, even past the limit.
        toplevels.push_back(std::make_unique<Toplevel>(Toplevel{.conversation = this, .proxy = proxy}));
        if (toplevels.size() > kMostToplevels) overflowed = true;
        return toplevels.back().get();
    }

    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    Clock::time_point deadline;
    bool screencopy = false;
    std::optional<Global> toplevelList;
    std::vector<Global> outputGlobals;
    std::vector<std::unique_ptr<Output>> outputs;
    zwlr_foreign_toplevel_manager_v1* manager = nullptr;
    std::vector<std::unique_ptr<Toplevel>> toplevels;
    bool overflowed = false;
};

namespace {

constexpr wl_registry_listener kRegistryListener{
    .global =
        [](void* data, wl_registry*, uint32_t name, const char* interface, uint32_t version) {
            auto* conversation = static_cast<WaylandConversation*>(data);
            const std::string_view kind(interface);
            if (version == 0) return; // nothing could be bound
            if (kind == "zwlr_screencopy_manager_v1") conversation->screencopy = true;
            if (kind == zwlr_foreign_toplevel_manager_v1_interface.name)
                conversation->toplevelList = WaylandConversation::Global{name, version};
            if (kind == wl_output_interface.name) {
                if (conversation->outputGlobals.size() < kMostOutputs)
                    conversation->outputGlobals.push_back({name, version});
            }
        },
    .global_remove = [](void*, wl_registry*, uint32_t) {},
};

constexpr wl_output_listener kOutputListener{
    .geometry = [](void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*, const char*,
                   int32_t) {},
    .mode = [](void*, wl_output*, uint32_t, int32_t, int32_t, int32_t) {},
    .done = [](void*, wl_output*) {},
    .scale = [](void*, wl_output*, int32_t) {},
    .name =
        [](void* data, wl_output*, const char* name) {
            static_cast<WaylandConversation::Output*>(data)->name = plainName(name, kLongestOutputName);
        },
    .description = [](void*, wl_output*, const char*) {},
};

WaylandConversation::Toplevel* toplevelOf(void* data) {
    return static_cast<WaylandConversation::Toplevel*>(data);
}

constexpr zwlr_foreign_toplevel_handle_v1_listener kToplevelListener{
    .title = [](void*, zwlr_foreign_toplevel_handle_v1*, const char*) {},
    .app_id =
        [](void* data, zwlr_foreign_toplevel_handle_v1*, const char* appID) {
            toplevelOf(data)->pending.appID = plainName(appID, kLongestAppID).value_or("");
        },
    .output_enter =
        [](void* data, zwlr_foreign_toplevel_handle_v1*, wl_output* output) {
            auto& outputs = toplevelOf(data)->pending.outputs;
            if (output == nullptr || std::find(outputs.begin(), outputs.end(), output) != outputs.end())
                return;
            if (outputs.size() < kMostOutputs) outputs.push_back(output);
        },
    .output_leave =
        [](void* data, zwlr_foreign_toplevel_handle_v1*, wl_output* output) {
            auto& outputs = toplevelOf(data)->pending.outputs;
            outputs.erase(std::remove(outputs.begin(), outputs.end(), output), outputs.end());
        },
    .state =
        [](void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
            const auto* begin = static_cast<const uint32_t*>(states->data);
            const auto* end = begin + states->size / sizeof(uint32_t);
            toplevelOf(data)->pending.activated =
                std::find(begin, end, uint32_t(ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED)) != end;
        },
    .done = [](void* data,
               zwlr_foreign_toplevel_handle_v1*) { toplevelOf(data)->current = toplevelOf(data)->pending; },
    .closed = [](void* data, zwlr_foreign_toplevel_handle_v1*) { toplevelOf(data)->closed = true; },
    .parent = [](void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {},
};

constexpr zwlr_foreign_toplevel_manager_v1_listener kToplevelListListener{
    .toplevel =
        [](void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* handle) {
            WaylandConversation::Toplevel* toplevel = static_cast<WaylandConversation*>(data)->adopt(handle);
            zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kToplevelListener, toplevel);
        },
    .finished = [](void*, zwlr_foreign_toplevel_manager_v1*) {},
};

WaylandDisplaySession::State stateAfter(Wait wait) {
    switch (wait) {
    case Wait::done:
        return WaylandDisplaySession::State::connected;
    case Wait::timedOut:
        return WaylandDisplaySession::State::timedOut;
    case Wait::failed:
        break;
    }
    return WaylandDisplaySession::State::refused;
}

} // namespace

WaylandDisplaySession::WaylandDisplaySession(const EnvironmentLookup& environment,
                                             std::chrono::milliseconds budget) {
    const auto deadline = Clock::now() + budget;
    if (!isWaylandSession(environment)) return;
    m_state = State::refused;
    const auto path = waylandSocketPath(environment);
    if (!path) return;
    static std::once_flag silenced;
    std::call_once(silenced, [] { wl_log_set_handler_client(silentLog); });
    auto [socket, connecting] = connectedSocket(*path, deadline);
    if (connecting != Wait::done) {
        m_state = stateAfter(connecting);
        return;
    }
    auto conversation = std::make_unique<WaylandConversation>();
    conversation->deadline = deadline;
    // The display owns the socket from here on, connected or not.
    conversation->display = wl_display_connect_to_fd(socket.release());
    if (conversation->display == nullptr) return;
    conversation->registry = wl_display_get_registry(conversation->display);
    if (conversation->registry == nullptr) return;
    wl_registry_add_listener(conversation->registry, &kRegistryListener, conversation.get());
    m_state = stateAfter(conversation->roundtrip());
    if (m_state == State::connected) m_conversation = std::move(conversation);
}

WaylandDisplaySession::~WaylandDisplaySession() = default;

bool WaylandDisplaySession::offersScreencopy() const {
    return m_conversation && m_conversation->screencopy;
}

bool WaylandDisplaySession::offersToplevelList() const {
    return m_conversation && m_conversation->toplevelList.has_value();
}

size_t WaylandDisplaySession::outputCount() const {
    return m_conversation ? m_conversation->outputGlobals.size() : 0;
}

std::optional<FrontWindow> WaylandDisplaySession::frontWindow() {
    if (!offersToplevelList()) return std::nullopt;
    WaylandConversation& conversation = *m_conversation;
    if (conversation.manager == nullptr) {
        // Outputs first: a toplevel is said to enter only the outputs this client has bound.
        for (const auto& global : conversation.outputGlobals) {
            auto* proxy = static_cast<wl_output*>(wl_registry_bind(conversation.registry, global.name,
                                                                   &wl_output_interface,
                                                                   std::min(global.version, kOutputVersion)));
            if (proxy == nullptr) continue;
            conversation.outputs.push_back(
                std::make_unique<WaylandConversation::Output>(WaylandConversation::Output{proxy}));
            wl_output_add_listener(proxy, &kOutputListener, conversation.outputs.back().get());
        }
        conversation.manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(
            wl_registry_bind(conversation.registry, conversation.toplevelList->name,
                             &zwlr_foreign_toplevel_manager_v1_interface,
                             std::min(conversation.toplevelList->version, kToplevelListVersion)));
        if (conversation.manager == nullptr) return std::nullopt;
        zwlr_foreign_toplevel_manager_v1_add_listener(conversation.manager, &kToplevelListListener,
                                                      &conversation);
    }
    // The list and every toplevel's first state come in the answer to the binding.
    m_state = stateAfter(conversation.roundtrip());
    if (m_state != State::connected) {
        m_conversation.reset();
        return std::nullopt;
    }
    for (const auto& toplevel : conversation.toplevels) {
        const WaylandConversation::ToplevelState& state = toplevel->current;
        if (toplevel->closed || !state.activated) continue;
        FrontWindow front{.appID = state.appID};
        if (state.outputs.size() == 1)
            for (const auto& output : conversation.outputs)
                if (output->proxy == state.outputs.front()) front.outputName = output->name;
        return front;
    }
    return std::nullopt;
}

} // namespace kestro
