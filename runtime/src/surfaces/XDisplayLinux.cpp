#include "platform/FileDescriptor.h"
#include "platform/FileReading.h"
#include "platform/Host.h"
#include "surfaces/XDisplay.h"
#include "surfaces/XServerRelay.h"
#include "text/Text.h"

#include <X11/Xauth.h>
#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace kestro {

namespace {

using Clock = std::chrono::steady_clock;

// Address families of X authority entries (X11/X.h and X11/Xauth.h).
constexpr uint16_t kFamilyInternet = 0;
constexpr uint16_t kFamilyInternet6 = 6;
constexpr uint16_t kFamilyLocal = FamilyLocal;
constexpr uint16_t kFamilyWild = FamilyWild;
constexpr std::string_view kCookieName = "MIT-MAGIC-COOKIE-1";
// Real authority files hold a few entries of a few dozen bytes each.
constexpr size_t kAuthorityFileLimit = 1 << 20;
// The screen is read in horizontal bands of about this size, so that a large screen never sits
// in memory whole. No reply to this client is longer (a row of the widest screen is 128 KiB).
constexpr size_t kBandBytes = 1 << 20;

std::optional<uint32_t> decimal(std::string_view digits, uint32_t largest) {
    if (digits.empty() || digits.size() > 5) return std::nullopt;
    uint32_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + uint32_t(c - '0');
    }
    if (value > largest) return std::nullopt;
    return value;
}

std::optional<std::string> numericAddress(std::string host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    unsigned char bytes[sizeof(in6_addr)];
    char text[INET6_ADDRSTRLEN] = {};
    if (::inet_pton(AF_INET, host.c_str(), bytes) == 1 && ::inet_ntop(AF_INET, bytes, text, sizeof text))
        return std::string(text);
    if (::inet_pton(AF_INET6, host.c_str(), bytes) == 1 && ::inet_ntop(AF_INET6, bytes, text, sizeof text))
        return std::string(text);
    return std::nullopt;
}

// Blocks SIGPIPE on this thread while the session talks to the server, and throws away one that
// a vanished server raised meanwhile: the X library writes with plain writev, and a broken
// connection must end the capture, not the process.
class BrokenPipeSilenced {
  public:
    BrokenPipeSilenced() {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_previous);
        sigset_t pending;
        m_wasPending = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    }
    ~BrokenPipeSilenced() {
        sigset_t pending;
        if (!m_wasPending && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
            const timespec now{};
            while (sigtimedwait(&m_pipe, nullptr, &now) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
    }
    BrokenPipeSilenced(const BrokenPipeSilenced&) = delete;
    BrokenPipeSilenced& operator=(const BrokenPipeSilenced&) = delete;

  private:
    sigset_t m_pipe{};
    sigset_t m_previous{};
    bool m_wasPending = false;
};

int remainingMilliseconds(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

FileDescriptor connectedSocket(int domain, const sockaddr* address, socklen_t length,
                               Clock::time_point deadline) {
    FileDescriptor socket(::socket(domain, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket.isOpen()) return {};
    if (domain != AF_UNIX) {
        const int on = 1;
        ::setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    if (::connect(socket.get(), address, length) == 0) return socket;
    if (errno != EINPROGRESS) return {};
    pollfd waiting{socket.get(), POLLOUT, 0};
    int ready;
    while ((ready = ::poll(&waiting, 1, remainingMilliseconds(deadline))) < 0 && errno == EINTR) {
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (ready != 1 || ::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
        return {};
    return socket;
}

// The connected socket, with the family and address its authority entry is filed under.
struct Endpoint {
    FileDescriptor socket;
    uint16_t family = kFamilyLocal;
    std::string address;
};

std::string thisHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return "";
    return name;
}

std::optional<Endpoint> connectToDisplay(const DisplayName& name, Clock::time_point deadline) {
    if (name.local) {
        // The abstract socket first, as the X library does: it needs no /tmp/.X11-unix.
        const std::string path = "/tmp/.X11-unix/X" + std::to_string(name.display);
        for (const bool abstract : {true, false}) {
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            const size_t offset = abstract ? 1 : 0;
            std::memcpy(address.sun_path + offset, path.data(), path.size());
            const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset +
                                                       path.size() + (abstract ? 0 : 1));
            if (auto socket =
                    connectedSocket(AF_UNIX, reinterpret_cast<sockaddr*>(&address), length, deadline);
                socket.isOpen())
                return Endpoint{std::move(socket), kFamilyLocal, thisHostName()};
        }
        return std::nullopt;
    }
    const auto port = static_cast<uint16_t>(6000 + name.display);
    sockaddr_in v4{};
    sockaddr_in6 v6{};
    FileDescriptor socket;
    std::string addressBytes;
    bool loopback = false;
    if (::inet_pton(AF_INET, name.address.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        socket = connectedSocket(AF_INET, reinterpret_cast<sockaddr*>(&v4), sizeof v4, deadline);
        addressBytes.assign(reinterpret_cast<const char*>(&v4.sin_addr), 4);
        loopback = (ntohl(v4.sin_addr.s_addr) >> 24) == 127;
    } else if (::inet_pton(AF_INET6, name.address.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        socket = connectedSocket(AF_INET6, reinterpret_cast<sockaddr*>(&v6), sizeof v6, deadline);
        addressBytes.assign(reinterpret_cast<const char*>(&v6.sin6_addr), 16);
        loopback = IN6_IS_ADDR_LOOPBACK(&v6.sin6_addr);
    }
    if (!socket.isOpen()) return std::nullopt;
    // A connection to this machine is filed under its name, as for a local display (ssh's
    // forwarded displays rely on it).
    if (loopback) return Endpoint{std::move(socket), kFamilyLocal, thisHostName()};
    return Endpoint{std::move(socket), addressBytes.size() == 4 ? kFamilyInternet : kFamilyInternet6,
                    addressBytes};
}

struct Cookie {
    std::string name;
    std::string data;
};

// The first MIT-MAGIC-COOKIE-1 entry of the authority file for this display, as the X library
// picks it (but see the wildcard below). The file is read whole up to a fixed cap (over it, it
// counts as unreadable; /proc files report no size) and only when it is a regular file: a FIFO
// or a device named by XAUTHORITY would hold the reader for ever.
std::optional<Cookie> authorityCookie(const EnvironmentLookup& environment, const Endpoint& endpoint,
                                      uint32_t display) {
    std::string path = trimmed(environment("XAUTHORITY").value_or(""));
    if (path.empty()) {
        std::string home = trimmed(environment("HOME").value_or(""));
        if (home.empty()) home = homeDirectory();
        path = home + "/.Xauthority";
    }
    auto file = readWholeFile(path, kAuthorityFileLimit);
    if (!file || file->empty()) return std::nullopt;
    std::string& bytes = *file;
    const auto close = [](FILE* stream) { std::fclose(stream); };
    std::unique_ptr<FILE, decltype(close)> stream(::fmemopen(bytes.data(), bytes.size(), "r"), close);
    if (!stream) return std::nullopt;
    const std::string number = std::to_string(display);
    const auto field = [](const char* data, unsigned short length) { return std::string_view(data, length); };
    while (Xauth* read = ::XauReadAuth(stream.get())) {
        std::unique_ptr<Xauth, void (*)(Xauth*)> entry(read, &::XauDisposeAuth);
        // A wildcard entry is for this machine's own displays: it is never sent to another host.
        const bool addressMatches = (entry->family == kFamilyWild && endpoint.family == kFamilyLocal) ||
                                    (entry->family == endpoint.family &&
                                     field(entry->address, entry->address_length) == endpoint.address);
        const bool numberMatches =
            entry->number_length == 0 || field(entry->number, entry->number_length) == number;
        if (addressMatches && numberMatches && field(entry->name, entry->name_length) == kCookieName)
            return Cookie{std::string(kCookieName), std::string(field(entry->data, entry->data_length))};
    }
    return std::nullopt;
}

// How the root window's pixels are laid out, from the server's setup; only true-colour screens.
class PixelLayout {
  public:
    static std::optional<PixelLayout> of(const xcb_setup_t* setup, const xcb_screen_t* screen) {
        PixelLayout layout;
        bool formatFound = false;
        for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem; xcb_format_next(&formats))
            if (formats.data->depth == screen->root_depth) {
                layout.m_bitsPerPixel = formats.data->bits_per_pixel;
                layout.m_scanlinePad = formats.data->scanline_pad;
                formatFound = true;
            }
        const xcb_visualtype_t* visual = nullptr;
        for (auto depths = xcb_screen_allowed_depths_iterator(screen); depths.rem && !visual;
             xcb_depth_next(&depths))
            for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem;
                 xcb_visualtype_next(&visuals))
                if (visuals.data->visual_id == screen->root_visual) visual = visuals.data;
        const bool wholeBytes = layout.m_bitsPerPixel % 8 == 0 && layout.m_bitsPerPixel >= 8 &&
                                layout.m_bitsPerPixel <= 32 && layout.m_scanlinePad % 8 == 0 &&
                                layout.m_scanlinePad != 0;
        if (!formatFound || !wholeBytes || visual == nullptr || visual->_class != XCB_VISUAL_CLASS_TRUE_COLOR)
            return std::nullopt;
        layout.m_mostSignificantFirst = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
        const auto red = Channel::fromMask(visual->red_mask);
        const auto green = Channel::fromMask(visual->green_mask);
        const auto blue = Channel::fromMask(visual->blue_mask);
        if (!red || !green || !blue) return std::nullopt;
        layout.m_channels = {*red, *green, *blue};
        return layout;
    }

    size_t rowBytes(uint32_t width) const {
        const uint64_t bits = uint64_t(width) * m_bitsPerPixel;
        return static_cast<size_t>((bits + m_scanlinePad - 1) / m_scanlinePad * m_scanlinePad / 8);
    }

    void toRGB(const uint8_t* source, uint32_t width, uint8_t* rgb) const {
        const uint32_t bytes = m_bitsPerPixel / 8;
        if (bytes == 4 && !m_mostSignificantFirst && isCommonTrueColour()) {
            // The usual 24-bit screen: blue, green, red and a spare byte.
            for (uint32_t x = 0; x < width; ++x, source += 4, rgb += 3) {
                rgb[0] = source[2];
                rgb[1] = source[1];
                rgb[2] = source[0];
            }
            return;
        }
        for (uint32_t x = 0; x < width; ++x, source += bytes, rgb += 3) {
            uint32_t pixel = 0;
            for (uint32_t i = 0; i < bytes; ++i)
                pixel = (pixel << 8) | source[m_mostSignificantFirst ? i : bytes - 1 - i];
            for (size_t c = 0; c < 3; ++c)
                rgb[c] = m_channels[c].value(pixel);
        }
    }

  private:
    // One colour's bits within a pixel, spread to 0…255.
    struct Channel {
        uint32_t mask = 0;
        uint32_t shift = 0;
        uint32_t largest = 0;
        static std::optional<Channel> fromMask(uint32_t mask) {
            if (mask == 0) return std::nullopt;
            const auto shift = static_cast<uint32_t>(std::countr_zero(mask));
            const uint32_t bits = mask >> shift;
            if ((bits & (bits + 1)) != 0 || bits > 0xFFFF) return std::nullopt; // not one run of ≤ 16 bits
            return Channel{mask, shift, bits};
        }
        uint8_t value(uint32_t pixel) const {
            const uint32_t level = (pixel & mask) >> shift;
            if (largest == 0xFF) return static_cast<uint8_t>(level);
            return static_cast<uint8_t>((level * 255 + largest / 2) / largest);
        }
    };

    bool isCommonTrueColour() const {
        return m_channels[0].mask == 0xFF0000 && m_channels[1].mask == 0xFF00 && m_channels[2].mask == 0xFF;
    }

    uint32_t m_bitsPerPixel = 0;
    uint32_t m_scanlinePad = 0;
    bool m_mostSignificantFirst = false;
    std::array<Channel, 3> m_channels{};
};

// Whether every list the setup announces lies within the bytes the server sent (8 + 4 × its
// length): the X library's iterators trust each count in it. The lists follow one another at
// these sizes, padded to whole words.
bool isWhole(const xcb_setup_t* setup) {
    static_assert(sizeof(xcb_setup_t) == 40 && sizeof(xcb_format_t) == 8 && sizeof(xcb_screen_t) == 40 &&
                  sizeof(xcb_depth_t) == 8 && sizeof(xcb_visualtype_t) == 24);
    const auto* bytes = reinterpret_cast<const char*>(setup);
    const size_t size = 8 + size_t(setup->length) * 4;
    size_t offset = sizeof(xcb_setup_t) + (size_t(setup->vendor_len) + 3) / 4 * 4 +
                    size_t(setup->pixmap_formats_len) * sizeof(xcb_format_t);
    for (unsigned s = 0; s < setup->roots_len; ++s) {
        if (offset + sizeof(xcb_screen_t) > size) return false;
        xcb_screen_t screen;
        std::memcpy(&screen, bytes + offset, sizeof screen);
        offset += sizeof screen;
        for (unsigned d = 0; d < screen.allowed_depths_len; ++d) {
            if (offset + sizeof(xcb_depth_t) > size) return false;
            xcb_depth_t depth;
            std::memcpy(&depth, bytes + offset, sizeof depth);
            offset += sizeof depth + size_t(depth.visuals_len) * sizeof(xcb_visualtype_t);
        }
    }
    return offset <= size;
}

// A property's value as far as its reply holds it: the X library takes the length from the
// server's count of items, not from the bytes it read (4 × length after the 32-byte head).
std::string_view valueOf(const xcb_get_property_reply_t& reply) {
    const size_t held = size_t(reply.length) * 4;
    const size_t announced = size_t(reply.value_len) * (reply.format / 8);
    return {static_cast<const char*>(xcb_get_property_value(&reply)), std::min(held, announced)};
}

// Replies of the X library are malloc'ed and freed by the caller.
struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <class Reply> std::unique_ptr<Reply, FreeReply> owned(Reply* reply) {
    return std::unique_ptr<Reply, FreeReply>(reply);
}

} // namespace

std::optional<DisplayName> parseDisplayName(const std::string& text) {
    std::string_view rest = text;
    std::string_view protocol;
    if (const size_t slash = rest.rfind('/'); slash != std::string_view::npos) {
        protocol = rest.substr(0, slash);
        rest = rest.substr(slash + 1);
        if (protocol != "unix" && protocol != "tcp" && protocol != "inet" && protocol != "inet6")
            return std::nullopt;
    }
    const size_t colon = rest.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const std::string host(rest.substr(0, colon));
    const std::string_view numbers = rest.substr(colon + 1);
    const size_t dot = numbers.find('.');
    DisplayName name;
    // 6000 + the display number is its TCP port.
    const auto display = decimal(numbers.substr(0, dot), 65535 - 6000);
    const auto screen =
        dot == std::string_view::npos ? std::optional<uint32_t>(0) : decimal(numbers.substr(dot + 1), 255);
    if (!display || !screen) return std::nullopt;
    name.display = *display;
    name.screen = *screen;
    const bool overTCP = !protocol.empty() && protocol != "unix";
    if ((host.empty() && !overTCP) || (host == "unix" && protocol.empty()) ||
        (host == "unix" && protocol == "unix"))
        return name;
    if (protocol == "unix") return std::nullopt;
    name.local = false;
    if (host.empty() || host == "localhost") {
        name.address = "127.0.0.1";
        return name;
    }
    const auto address = numericAddress(host);
    if (!address) return std::nullopt;
    name.address = *address;
    return name;
}

struct XDisplaySession::Connection {
    ~Connection() {
        if (x != nullptr) xcb_disconnect(x);
    }

    BrokenPipeSilenced silenced; // first made, last gone
    std::optional<XServerRelay> relay;
    xcb_connection_t* x = nullptr;
    const xcb_screen_t* screen = nullptr;
};

XDisplaySession::XDisplaySession(const EnvironmentLookup& environment, std::chrono::milliseconds budget)
    : m_deadline(Clock::now() + budget) {
    const auto deadline = m_deadline;
    const std::string display = trimmed(environment("DISPLAY").value_or(""));
    if (display.empty()) return;
    m_state = State::unreachable;
    const auto name = parseDisplayName(display);
    if (!name) return;
    auto connection = std::make_unique<Connection>();
    auto endpoint = connectToDisplay(*name, deadline);
    if (!endpoint) return;
    connection->relay.emplace(std::move(endpoint->socket), deadline, kBandBytes);
    FileDescriptor librarySide = connection->relay->takeLibrarySide();
    if (!librarySide.isOpen()) return;
    auto cookie = authorityCookie(environment, *endpoint, name->display);
    xcb_auth_info_t authority{};
    if (cookie) {
        authority.namelen = static_cast<int>(cookie->name.size());
        authority.name = cookie->name.data();
        authority.datalen = static_cast<int>(cookie->data.size());
        authority.data = cookie->data.data();
    }
    // The connection owns its socket from here on, failed or not.
    connection->x = xcb_connect_to_fd(librarySide.release(), cookie ? &authority : nullptr);
    if (xcb_connection_has_error(connection->x) != 0 || !isWhole(xcb_get_setup(connection->x))) return;
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection->x));
    for (uint32_t index = 0; screens.rem && index < name->screen; ++index)
        xcb_screen_next(&screens);
    if (screens.rem == 0) return;
    connection->screen = screens.data;
    m_connection = std::move(connection);
    m_state = State::connected;
}

XDisplaySession::~XDisplaySession() = default;

std::optional<std::string> XDisplaySession::activeWindowClass() {
    if (!m_connection) return std::nullopt;
    xcb_connection_t* x = m_connection->x;
    constexpr std::string_view kActiveWindow = "_NET_ACTIVE_WINDOW";
    const auto atom = owned(xcb_intern_atom_reply(
        x, xcb_intern_atom(x, 1, static_cast<uint16_t>(kActiveWindow.size()), kActiveWindow.data()),
        nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE) return std::nullopt;
    const auto active = owned(xcb_get_property_reply(
        x, xcb_get_property(x, 0, m_connection->screen->root, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr));
    if (!active || active->type != XCB_ATOM_WINDOW || active->format != 32 || valueOf(*active).size() < 4)
        return std::nullopt;
    xcb_window_t window = 0;
    std::memcpy(&window, valueOf(*active).data(), sizeof window);
    if (window == XCB_WINDOW_NONE) return std::nullopt;
    // "instance\0class\0"; 64 words is far more than any real class name.
    const auto wmClass = owned(xcb_get_property_reply(
        x, xcb_get_property(x, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64), nullptr));
    if (!wmClass || wmClass->type != XCB_ATOM_STRING || wmClass->format != 8) return std::nullopt;
    const std::string_view value = valueOf(*wmClass);
    const size_t instanceEnd = value.find('\0');
    if (instanceEnd == std::string_view::npos) return std::nullopt;
    const std::string_view rest = value.substr(instanceEnd + 1);
    const std::string className(rest.substr(0, rest.find('\0')));
    if (className.empty()) return std::nullopt;
    return className;
}

std::optional<RGBImage> XDisplaySession::screenImage(uint32_t maxSide) {
    if (!m_connection) return std::nullopt;
    xcb_connection_t* x = m_connection->x;
    const xcb_screen_t* screen = m_connection->screen;
    const ImageSize size{screen->width_in_pixels, screen->height_in_pixels};
    // Request coordinates are signed 16-bit numbers.
    if (size.width == 0 || size.height == 0 || size.width > 32767 || size.height > 32767) return std::nullopt;
    const auto layout = PixelLayout::of(xcb_get_setup(x), screen);
    if (!layout) return std::nullopt;
    const size_t rowBytes = layout->rowBytes(size.width);
    const auto bandRows = static_cast<uint32_t>(std::clamp<size_t>(kBandBytes / rowBytes, 1, size.height));
    const auto requestBand = [&](uint32_t top) {
        const uint32_t rows = std::min(bandRows, size.height - top);
        return xcb_get_image(x, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, 0, static_cast<int16_t>(top),
                             static_cast<uint16_t>(size.width), static_cast<uint16_t>(rows), ~0u);
    };
    AreaShrinker shrinker(size, fittingSize(size, maxSide));
    std::vector<uint8_t> rgbRow(size_t(size.width) * 3);
    // One band is asked for ahead, so the server prepares it while the last one is converted.
    auto cookie = requestBand(0);
    for (uint32_t top = 0; top < size.height; top += bandRows) {
        const uint32_t rows = std::min(bandRows, size.height - top);
        std::optional<xcb_get_image_cookie_t> next;
        if (top + rows < size.height) next = requestBand(top + rows);
        const auto band = owned(xcb_get_image_reply(x, cookie, nullptr));
        const bool usable = band && band->depth == screen->root_depth &&
                            size_t(std::max(0, xcb_get_image_data_length(band.get()))) >= rowBytes * rows;
        if (!usable) {
            if (next) xcb_discard_reply(x, next->sequence);
            return std::nullopt;
        }
        const uint8_t* data = xcb_get_image_data(band.get());
        for (uint32_t row = 0; row < rows; ++row) {
            layout->toRGB(data + row * rowBytes, size.width, rgbRow.data());
            shrinker.addRow(rgbRow.data());
        }
        if (next) cookie = *next;
    }
    return shrinker.take();
}

} // namespace kestro
