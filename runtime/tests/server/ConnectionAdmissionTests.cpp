#include "server/ConnectionAdmission.h"
#include "server/KestroHTTPConnectionHandler.h"

#include <asio/io_context.hpp>
#include <gtest/gtest.h>

using namespace kestro;

namespace {

struct Connections {
    explicit Connections(AdmissionLimits limits) : admission(limits) {}
    // A new connection from `peer`; the ones closed to make room for it.
    std::vector<std::shared_ptr<KestroHTTPConnectionHandler>> connect(const char* peer) {
        auto connection = std::make_shared<KestroHTTPConnectionHandler>(asio::ip::tcp::socket(io),
                                                                        ConnectionLimits{}, &admission);
        all.push_back(connection);
        return admission.admit(connection, asio::ip::make_address(peer));
    }
    asio::io_context io;
    ConnectionAdmission admission;
    std::vector<std::shared_ptr<KestroHTTPConnectionHandler>> all;
};

} // namespace

// The newest connection is always let in: the oldest waiting one of its peer, or of all, makes
// room; one that is served, or gone, is not counted.
TEST(ConnectionAdmissionTest, TheOldestWaitingConnectionMakesRoom) {
    Connections connections({.waitingPerPeer = 2, .waitingInAll = 3});
    EXPECT_TRUE(connections.connect("127.0.0.1").empty());
    EXPECT_TRUE(connections.connect("127.0.0.1").empty());
    EXPECT_EQ(connections.connect("::ffff:127.0.0.1"), (std::vector{connections.all[0]}));
    EXPECT_TRUE(connections.connect("127.0.0.2").empty());
    EXPECT_EQ(connections.connect("127.0.0.3"), (std::vector{connections.all[1]}));
    EXPECT_EQ(connections.admission.waitingCount(), 3u);

    connections.admission.leave(connections.all[2].get()); // its request is in
    connections.all[3].reset();                            // gone: it leaves as it goes
    EXPECT_EQ(connections.admission.waitingCount(), 1u);
    EXPECT_EQ(connections.admission.takeOldest(), connections.all[4]);
    EXPECT_EQ(connections.admission.takeOldest(), nullptr);
}

TEST(ConnectionAdmissionTest, PeersAndLimits) {
    EXPECT_EQ(ConnectionAdmission::peerKey(asio::ip::make_address("::ffff:10.0.0.7")),
              asio::ip::make_address("10.0.0.7"));
    // One host usually holds a whole /64 of IPv6 addresses.
    EXPECT_EQ(ConnectionAdmission::peerKey(asio::ip::make_address("2001:db8:1:2:aaaa::1")),
              ConnectionAdmission::peerKey(asio::ip::make_address("2001:db8:1:2:bbbb::2")));
    EXPECT_NE(ConnectionAdmission::peerKey(asio::ip::make_address("2001:db8:1:2::1")),
              ConnectionAdmission::peerKey(asio::ip::make_address("2001:db8:1:3::1")));
    // Waiting connections leave descriptors for the requests that are served.
    EXPECT_EQ(admissionLimitsFor(1'048'576).waitingInAll, 4096u);
    EXPECT_EQ(admissionLimitsFor(512).waitingInAll, 384u);
    EXPECT_EQ(admissionLimitsFor(100).waitingInAll, 50u);
}
