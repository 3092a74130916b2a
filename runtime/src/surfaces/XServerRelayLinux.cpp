#include "surfaces/XServerRelay.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <system_error>
#include <vector>

namespace kestro {

namespace {

using Clock = std::chrono::steady_clock;

// Each direction holds at most this much between the sides.
constexpr size_t kFlowBytes = 64 * 1024;
// Errors answer requests, but events come unasked: this client selects none, though a server
// tells every client of a new keyboard mapping. More than this many beyond the requests sent is
// a flood.
constexpr uint64_t kSpareEvents = 64;

template <class Number> Number numberAt(std::string_view bytes, size_t at) {
    Number value{};
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value; // in this machine's order, which the X library asked the server to use
}

// The length of a unit (a setup, a request, a reply, an event) whose head begins `bytes`, 0 when
// its head is not all there yet, absent when it may not pass.
using Verdict = std::optional<uint64_t>;

// Bytes taken from one side and not yet given to the other. Those before `checked` belong to
// units that were allowed through; `unitLeft` more of the current one may follow them.
struct Flow {
    std::vector<char> bytes = std::vector<char>(kFlowBytes);
    size_t begin = 0;
    size_t checked = 0;
    size_t end = 0;
    uint64_t unitLeft = 0;

    bool hasRoom() const { return end < bytes.size(); }
    bool hasChecked() const { return begin < checked; }

    void compact() {
        if (begin == 0) return;
        std::memmove(bytes.data(), bytes.data() + begin, end - begin);
        checked -= begin;
        end -= begin;
        begin = 0;
    }
    // False when the side hung up or failed.
    bool takeFrom(int socket) {
        const ssize_t read = ::recv(socket, bytes.data() + end, bytes.size() - end, 0);
        if (read > 0) end += size_t(read);
        return read > 0 || (read < 0 && (errno == EAGAIN || errno == EINTR));
    }
    bool giveTo(int socket) {
        const ssize_t written = ::send(socket, bytes.data() + begin, checked - begin, MSG_NOSIGNAL);
        if (written > 0) begin += size_t(written);
        return written > 0 || (written < 0 && (errno == EAGAIN || errno == EINTR));
    }
    // False at the first unit refused.
    template <class Judge> bool check(Judge judge) {
        while (checked < end) {
            if (unitLeft == 0) {
                const Verdict length = judge(std::string_view(bytes.data() + checked, end - checked));
                if (!length) return false;
                if (*length == 0) break;
                unitLeft = *length;
            }
            const auto step = static_cast<size_t>(std::min<uint64_t>(unitLeft, end - checked));
            checked += step;
            unitLeft -= step;
        }
        return true;
    }
};

class Relay {
  public:
    Relay(FileDescriptor server, FileDescriptor library, FileDescriptor stop, size_t largestReply)
        : m_server(std::move(server)), m_library(std::move(library)), m_stop(std::move(stop)),
          m_largestReply(largestReply) {}

    // Returns when the conversation is over; the descriptors close with the relay.
    void run(Clock::time_point deadline) {
        const auto requestLength = [this](std::string_view head) { return this->requestLength(head); };
        const auto serverUnitLength = [this](std::string_view head) { return this->serverUnitLength(head); };
        for (;;) {
            m_toServer.compact();
            m_toLibrary.compact();
            const auto events = [](bool read, bool write) {
                return static_cast<short>((read ? POLLIN : 0) | (write ? POLLOUT : 0));
            };
            pollfd sides[] = {
                {m_server.get(), events(m_toLibrary.hasRoom(), m_toServer.hasChecked()), 0},
                {m_library.get(), events(m_toServer.hasRoom(), m_toLibrary.hasChecked()), 0},
                {m_stop.get(), POLLIN, 0},
            };
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return;
            const int ready = ::poll(sides, 3, static_cast<int>(std::min<long long>(left, 60'000)));
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0 || sides[2].revents != 0) return;
            // Either side gone ends it: neither a server nor the X library closes halfway through.
            for (const pollfd& side : sides)
                if ((side.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return;
            if ((sides[0].revents & POLLIN) != 0 &&
                !(m_toLibrary.takeFrom(m_server.get()) && m_toLibrary.check(serverUnitLength)))
                return;
            if ((sides[1].revents & POLLIN) != 0 &&
                !(m_toServer.takeFrom(m_library.get()) && m_toServer.check(requestLength)))
                return;
            if ((sides[0].revents & POLLOUT) != 0 && !m_toServer.giveTo(m_server.get())) return;
            if ((sides[1].revents & POLLOUT) != 0 && !m_toLibrary.giveTo(m_library.get())) return;
        }
    }

  private:
    // The X library's setup, then its requests, which are counted: each is answered at most once.
    Verdict requestLength(std::string_view head) {
        const auto padded = [](uint64_t length) { return (length + 3) / 4 * 4; };
        if (!m_setupSent) {
            if (head.size() < 12) return 0;
            m_setupSent = true;
            return 12 + padded(numberAt<uint16_t>(head, 6)) + padded(numberAt<uint16_t>(head, 8));
        }
        if (head.size() < 4) return 0;
        uint64_t words = numberAt<uint16_t>(head, 2);
        if (words == 0) { // a big request: its length follows
            if (head.size() < 8) return 0;
            words = numberAt<uint32_t>(head, 4);
            if (words < 2) return std::nullopt;
        }
        ++m_requests;
        return words * 4;
    }

    // The server's setup, then its replies, errors and events (32 bytes each, but replies and an
    // extension's events may announce more), framed as the X library frames them.
    Verdict serverUnitLength(std::string_view head) {
        if (!m_setupSeen) {
            if (head.size() < 8) return 0;
            // The library would print a refusal's reason, taking its length from the server.
            if (head[0] != 1) return std::nullopt;
            m_setupSeen = true;
            return 8 + uint64_t(numberAt<uint16_t>(head, 6)) * 4;
        }
        if (head.size() < 32) return 0;
        const auto type = static_cast<uint8_t>(head[0]);
        if (type == 1) {
            const uint64_t after = uint64_t(numberAt<uint32_t>(head, 4)) * 4;
            if (after > m_largestReply || m_replies >= m_requests) return std::nullopt;
            ++m_replies;
            return 32 + after;
        }
        if ((type & 0x7F) == 35) return std::nullopt; // only for clients that select them
        if (m_shortMessages >= m_requests + kSpareEvents) return std::nullopt;
        ++m_shortMessages;
        return 32;
    }

    FileDescriptor m_server;
    FileDescriptor m_library;
    FileDescriptor m_stop;
    size_t m_largestReply;
    Flow m_toServer;
    Flow m_toLibrary;
    bool m_setupSent = false;
    bool m_setupSeen = false;
    uint64_t m_requests = 0;
    uint64_t m_replies = 0;
    uint64_t m_shortMessages = 0;
};

} // namespace

XServerRelay::XServerRelay(FileDescriptor server, Clock::time_point deadline, size_t largestReply) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0) return;
    FileDescriptor relaySide(pair[0]);
    FileDescriptor librarySide(pair[1]);
    auto stop = closeOnExecPipe();
    if (!stop) return;
    try {
        m_thread = std::thread(
            [relay = Relay(std::move(server), std::move(relaySide), std::move(stop->readEnd), largestReply),
             deadline]() mutable { relay.run(deadline); });
    } catch (const std::system_error&) {
        return;
    }
    m_stop = std::move(stop->writeEnd);
    m_librarySide = std::move(librarySide);
}

XServerRelay::~XServerRelay() {
    m_stop.reset();
    if (m_thread.joinable()) m_thread.join();
}

} // namespace kestro
