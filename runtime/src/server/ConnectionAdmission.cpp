#include "server/ConnectionAdmission.h"

#include <algorithm>

namespace kestro {

AdmissionLimits admissionLimitsFor(uint64_t descriptors) {
    constexpr uint64_t kKeptForRequests = 128;
    AdmissionLimits limits;
    const uint64_t room =
        descriptors > 2 * kKeptForRequests ? descriptors - kKeptForRequests : descriptors / 2;
    limits.waitingInAll = static_cast<size_t>(std::min<uint64_t>(limits.waitingInAll, room));
    return limits;
}

asio::ip::address ConnectionAdmission::peerKey(const asio::ip::address& address) {
    if (!address.is_v6()) return address;
    const asio::ip::address_v6 v6 = address.to_v6();
    if (v6.is_v4_mapped()) return asio::ip::make_address_v4(asio::ip::v4_mapped, v6);
    asio::ip::address_v6::bytes_type bytes = v6.to_bytes();
    std::fill(bytes.begin() + 8, bytes.end(), 0);
    return asio::ip::address_v6(bytes);
}

std::vector<std::shared_ptr<KestroHTTPConnectionHandler>>
ConnectionAdmission::admit(const std::shared_ptr<KestroHTTPConnectionHandler>& connection,
                           const asio::ip::address& peer) {
    const asio::ip::address key = peerKey(peer);
    std::vector<std::shared_ptr<KestroHTTPConnectionHandler>> toClose;
    const std::lock_guard lock(m_mutex);
    m_byAge.push_back({connection.get(), connection, key});
    const Position position = std::prev(m_byAge.end());
    m_positions[connection.get()] = position;
    std::list<Position>& ofPeer = m_byPeer[key];
    ofPeer.push_back(position);
    while (ofPeer.size() > m_limits.waitingPerPeer)
        if (auto oldest = takeLocked(ofPeer.front())) toClose.push_back(std::move(oldest));
    while (m_byAge.size() > m_limits.waitingInAll)
        if (auto oldest = takeLocked(m_byAge.begin())) toClose.push_back(std::move(oldest));
    return toClose;
}

void ConnectionAdmission::leave(const KestroHTTPConnectionHandler* connection) {
    const std::lock_guard lock(m_mutex);
    const auto found = m_positions.find(connection);
    if (found != m_positions.end()) takeLocked(found->second);
}

std::shared_ptr<KestroHTTPConnectionHandler> ConnectionAdmission::takeOldest() {
    const std::lock_guard lock(m_mutex);
    while (!m_byAge.empty())
        if (auto oldest = takeLocked(m_byAge.begin())) return oldest;
    return nullptr;
}

size_t ConnectionAdmission::waitingCount() const {
    const std::lock_guard lock(m_mutex);
    return m_byAge.size();
}

std::shared_ptr<KestroHTTPConnectionHandler> ConnectionAdmission::takeLocked(Position position) {
    std::shared_ptr<KestroHTTPConnectionHandler> connection = position->connection.lock();
    const auto ofPeer = m_byPeer.find(position->peer);
    ofPeer->second.remove(position);
    if (ofPeer->second.empty()) m_byPeer.erase(ofPeer);
    m_positions.erase(position->key);
    m_byAge.erase(position);
    return connection;
}

} // namespace kestro
