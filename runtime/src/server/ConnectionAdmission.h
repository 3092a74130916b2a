#pragma once
// The connections still sending their request, by peer and by age. When one peer holds more of
// them than its share, when more of them wait than the runtime keeps, or when descriptors run
// out, the oldest is closed to make room: idle or slow connections never keep a real request out.
// Thread-safe.

#include <algorithm>
#include <asio/ip/address.hpp>
#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace kestro {

class KestroHTTPConnectionHandler;

struct AdmissionLimits {
    size_t waitingPerPeer = 64;
    size_t waitingInAll = 4096;
};

// The limits for a process that may hold `descriptors` open: waiting connections leave room for
// the pipes, processes and answers of real requests.
AdmissionLimits admissionLimitsFor(uint64_t descriptors);

class ConnectionAdmission {
  public:
    // Each limit is at least 1: the newest connection is always let in.
    explicit ConnectionAdmission(AdmissionLimits limits = {})
        : m_limits{std::max<size_t>(limits.waitingPerPeer, 1), std::max<size_t>(limits.waitingInAll, 1)} {}

    // Lists a new connection from `peer` as waiting; returns the connections to close to make
    // room for it (taken off the list), oldest first.
    std::vector<std::shared_ptr<KestroHTTPConnectionHandler>>
    admit(const std::shared_ptr<KestroHTTPConnectionHandler>& connection, const asio::ip::address& peer);

    // The connection's request is complete, or the connection has ended: it waits no longer.
    void leave(const KestroHTTPConnectionHandler* connection);

    // For descriptors that ran out: the oldest waiting connection of any peer, taken off the
    // list; null when none waits.
    std::shared_ptr<KestroHTTPConnectionHandler> takeOldest();

    size_t waitingCount() const;

    // The key a peer is counted under: its address, an IPv4 client of the dual-stack socket as
    // IPv4, and an IPv6 address by its /64 network, the least one host is usually given.
    static asio::ip::address peerKey(const asio::ip::address& address);

  private:
    struct Entry {
        const KestroHTTPConnectionHandler* key;
        std::weak_ptr<KestroHTTPConnectionHandler> connection;
        asio::ip::address peer;
    };
    using Position = std::list<Entry>::iterator;

    // Takes an entry off both lists; its connection if it still exists. Caller holds the lock.
    std::shared_ptr<KestroHTTPConnectionHandler> takeLocked(Position position);

    AdmissionLimits m_limits;
    mutable std::mutex m_mutex;
    std::list<Entry> m_byAge; // oldest first
    std::unordered_map<const KestroHTTPConnectionHandler*, Position> m_positions;
    std::map<asio::ip::address, std::list<Position>> m_byPeer; // each oldest first
};

} // namespace kestro
