// The platform's UDP sockets, driven through platform.h alone so that the
// same checks run against both backends: loopback round trips, empty
// datagrams, refusing a datagram longer than the buffer, waking a blocked
// receive, multicast.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace {

using std::chrono::milliseconds;
using steady = std::chrono::steady_clock;

// Each test binds its own ports, so test processes that run side by side in
// one network namespace never meet.
constexpr std::uint16_t port_round_trip = 47311;
constexpr std::uint16_t port_oversized = 47312;
constexpr std::uint16_t port_shutdown_blocked = 47313;
constexpr std::uint16_t port_shutdown_first = 47314;
constexpr std::uint16_t port_multicast = 47315;
constexpr std::uint16_t port_timeout = 47316;
constexpr std::uint16_t port_options = 47317;
constexpr std::uint16_t port_empty = 47318;
constexpr std::uint16_t port_unreachable_from = 47319;
constexpr std::uint16_t port_closed = 47320;  // nothing ever binds it

plat_addr4 at(const char* addr, std::uint16_t port) { return {plat_ipv4_addr(addr), plat_htons(port)}; }

long send_text(plat_socket s, const std::string& text, const plat_addr4& to)
{
    return plat_sendto(s, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), to);
}

long elapsed_ms(steady::time_point since)
{
    return static_cast<long>(std::chrono::duration_cast<milliseconds>(steady::now() - since).count());
}

class PlatformSocket : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(1, plat_socket_layer_start()); }
    void TearDown() override
    {
        for (plat_socket s : open_) plat_socket_close(s);
    }

    plat_socket open_socket()
    {
        plat_socket s = plat_udp_socket();
        EXPECT_NE(plat_invalid_socket, s) << "socket error " << plat_socket_error();
        open_.push_back(s);
        return s;
    }

    // A socket bound to port whose receives give up after two seconds, so a
    // lost datagram fails the test instead of hanging it.
    plat_socket bound_socket(std::uint16_t port)
    {
        plat_socket s = open_socket();
        EXPECT_EQ(1, plat_bind_any(s, port)) << "socket error " << plat_socket_error();
        EXPECT_EQ(1, plat_set_recv_timeout(s, 2000));
        return s;
    }

    std::vector<plat_socket> open_;
};

TEST_F(PlatformSocket, SmallDatagramTravelsBothWaysOverLoopback)
{
    plat_socket server = bound_socket(port_round_trip);
    plat_socket client = open_socket();
    ASSERT_EQ(1, plat_set_recv_timeout(client, 2000));

    ASSERT_EQ(4, send_text(client, "ping", at("127.0.0.1", port_round_trip)));
    std::uint8_t buffer[64];
    plat_addr4 from{0, 0};
    ASSERT_EQ(4, plat_recvfrom(server, buffer, sizeof buffer, &from));
    EXPECT_EQ(0, std::memcmp(buffer, "ping", 4));
    EXPECT_EQ(plat_ipv4_addr("127.0.0.1"), from.addr_be);
    EXPECT_NE(0, from.port_be);

    // The reply goes back to the reported sender, so the port is right too.
    ASSERT_EQ(4, send_text(server, "pong", from));
    plat_addr4 reply_from{0, 0};
    ASSERT_EQ(4, plat_recvfrom(client, buffer, sizeof buffer, &reply_from));
    EXPECT_EQ(0, std::memcmp(buffer, "pong", 4));
    EXPECT_EQ(plat_htons(port_round_trip), reply_from.port_be);
}

// A datagram of no bytes is a datagram: length 0, with its sender, and the
// one after it follows as usual.
TEST_F(PlatformSocket, EmptyDatagramIsReceivedAsLengthZero)
{
    plat_socket server = bound_socket(port_empty);
    plat_socket client = open_socket();
    ASSERT_EQ(1, plat_bind_any(client, 0));
    const std::uint8_t nothing[1] = {0};
    ASSERT_EQ(0, plat_sendto(client, nothing, 0, at("127.0.0.1", port_empty)));
    ASSERT_EQ(4, send_text(client, "next", at("127.0.0.1", port_empty)));

    std::uint8_t buffer[64];
    plat_addr4 from{0, 0};
    EXPECT_EQ(0, plat_recvfrom(server, buffer, sizeof buffer, &from));
    EXPECT_EQ(plat_ipv4_addr("127.0.0.1"), from.addr_be);
    EXPECT_NE(0, from.port_be);
    EXPECT_EQ(4, plat_recvfrom(server, buffer, sizeof buffer, &from));
    EXPECT_EQ(0, std::memcmp(buffer, "next", 4));
}

// A reply to a querier that has gone comes back as an ICMP port-unreachable;
// that must not make the next receive fail. Windows reports it there unless
// told not to; Linux and Wine never do on an unconnected socket.
TEST_F(PlatformSocket, SendToAClosedPortLeavesTheNextReceiveWorking)
{
    plat_socket server = bound_socket(port_unreachable_from);
    plat_socket client = open_socket();
    std::uint8_t buffer[64];
    for (int round = 0; round < 3; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_EQ(4, send_text(server, "gone", at("127.0.0.1", port_closed)));
        std::this_thread::sleep_for(milliseconds(20));  // the ICMP message is back
        ASSERT_EQ(4, send_text(client, "next", at("127.0.0.1", port_unreachable_from)));
        EXPECT_EQ(4, plat_recvfrom(server, buffer, sizeof buffer, nullptr))
            << "socket error " << plat_socket_error();
    }
}

TEST_F(PlatformSocket, DatagramLongerThanTheBufferIsRefusedWhole)
{
    constexpr std::size_t capacity = 4096;
    const struct {
        std::size_t length;
        bool delivered;
    } cases[] = {
        {capacity - 1, true},
        {capacity, true},
        {capacity + 1, false},
        {9000, false},
    };
    plat_socket server = bound_socket(port_oversized);
    plat_socket client = open_socket();
    const plat_addr4 to = at("127.0.0.1", port_oversized);

    for (const auto& c : cases) {
        SCOPED_TRACE("datagram of " + std::to_string(c.length) + " bytes");
        std::vector<std::uint8_t> datagram(c.length);
        for (std::size_t i = 0; i < datagram.size(); ++i) datagram[i] = static_cast<std::uint8_t>(i * 7);
        ASSERT_EQ(static_cast<long>(c.length), plat_sendto(client, datagram.data(), datagram.size(), to));
        ASSERT_EQ(4, send_text(client, "next", to));

        // Guard bytes behind the buffer show any write past its capacity.
        std::vector<std::uint8_t> buffer(capacity + 16, 0xEE);
        long n = plat_recvfrom(server, buffer.data(), capacity, nullptr);
        if (c.delivered) {
            ASSERT_EQ(static_cast<long>(c.length), n);
            EXPECT_EQ(0, std::memcmp(buffer.data(), datagram.data(), c.length));
        } else {
            EXPECT_EQ(-1, n);
        }
        for (std::size_t i = capacity; i < buffer.size(); ++i) ASSERT_EQ(0xEE, buffer[i]) << "byte " << i;

        // The refused datagram is gone whole: the next receive gets the next one.
        n = plat_recvfrom(server, buffer.data(), capacity, nullptr);
        ASSERT_EQ(4, n);
        EXPECT_EQ(0, std::memcmp(buffer.data(), "next", 4));
    }
}

// A library receive thread blocks without a time-out and is stopped by
// shutting its socket down from another thread. The shutdown may come while
// the receive blocks or just before it starts; either way the receive ends
// at once, and later receives and sends fail instead of blocking.
TEST_F(PlatformSocket, ShutdownEndsAReceiveOnAnotherThread)
{
    const struct {
        const char* name;
        std::uint16_t port;
        bool receive_first;
    } cases[] = {
        {"shutdown while the receive blocks", port_shutdown_blocked, true},
        {"shutdown before the receive starts", port_shutdown_first, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        plat_socket s = open_socket();
        ASSERT_EQ(1, plat_bind_any(s, c.port)) << "socket error " << plat_socket_error();

        std::promise<void> go;
        std::shared_future<void> started = go.get_future().share();
        std::promise<long> result;
        std::future<long> done = result.get_future();
        std::thread receiver([s, started, &result] {
            started.wait();
            std::uint8_t buffer[64];
            plat_addr4 from{0, 0};
            result.set_value(plat_recvfrom(s, buffer, sizeof buffer, &from));
        });
        if (c.receive_first) {
            go.set_value();
            // Give the receive time to block; the other case covers the
            // order in which the shutdown comes first.
            std::this_thread::sleep_for(milliseconds(300));
            EXPECT_EQ(std::future_status::timeout, done.wait_for(milliseconds(0)));
            plat_socket_shutdown(s);
        } else {
            plat_socket_shutdown(s);
            go.set_value();
        }
        steady::time_point shut_at = steady::now();
        bool woke = done.wait_for(milliseconds(1000)) == std::future_status::ready;
        if (!woke) {
            // Free the receiver with a datagram so that the test can end.
            plat_socket rescue = open_socket();
            send_text(rescue, "rescue", at("127.0.0.1", c.port));
        }
        receiver.join();
        ASSERT_TRUE(woke) << "the receive still blocked a second after the shutdown";
        // A failure, never the 0 of an empty datagram, each time.
        EXPECT_EQ(-1, done.get());
        EXPECT_LT(elapsed_ms(shut_at), 1000);

        std::uint8_t buffer[64];
        steady::time_point again = steady::now();
        for (int i = 0; i < 3; i++) EXPECT_EQ(-1, plat_recvfrom(s, buffer, sizeof buffer, nullptr));
        EXPECT_LT(elapsed_ms(again), 1000);
        EXPECT_EQ(-1, send_text(s, "late", at("127.0.0.1", c.port)));
    }
}

TEST_F(PlatformSocket, OptionsOfTheResponderSocketAreAccepted)
{
    plat_socket s = open_socket();
    const std::uint32_t loopback = plat_ipv4_addr("127.0.0.1");
    EXPECT_EQ(1, plat_set_reuseaddr(s));
    EXPECT_EQ(1, plat_bind_any(s, port_options));
    EXPECT_EQ(1, plat_set_multicast_if(s, loopback));
    EXPECT_EQ(1, plat_add_membership(s, plat_ipv4_addr("224.0.0.251"), loopback));
    // Loop and TTL travel as one byte each.
    const struct {
        const char* name;
        int (*set)(plat_socket, std::uint8_t);
        std::uint8_t value;
    } one_byte[] = {
        {"loop off", plat_set_multicast_loop, 0},
        {"loop on", plat_set_multicast_loop, 1},
        {"ttl 1", plat_set_multicast_ttl, 1},
        {"ttl 255", plat_set_multicast_ttl, 255},
    };
    for (const auto& o : one_byte) EXPECT_EQ(1, o.set(s, o.value)) << o.name;
}

// The multicast goes out through the loopback interface only, so this test
// cannot reach a real network even outside a private namespace.
TEST_F(PlatformSocket, MulticastThroughLoopbackReachesAGroupMember)
{
    const std::uint32_t loopback = plat_ipv4_addr("127.0.0.1");
    const std::uint32_t group = plat_ipv4_addr("224.0.0.251");
    plat_socket member = open_socket();
    ASSERT_EQ(1, plat_set_reuseaddr(member));
    ASSERT_EQ(1, plat_bind_any(member, port_multicast));
    ASSERT_EQ(1, plat_set_recv_timeout(member, 2000));
    ASSERT_EQ(1, plat_add_membership(member, group, loopback));

    plat_socket sender = open_socket();
    ASSERT_EQ(1, plat_set_multicast_if(sender, loopback));
    ASSERT_EQ(1, plat_set_multicast_loop(sender, 1));
    ASSERT_EQ(1, plat_set_multicast_ttl(sender, 1));
    ASSERT_EQ(5, send_text(sender, "hello", {group, plat_htons(port_multicast)}));

    std::uint8_t buffer[64];
    plat_addr4 from{0, 0};
    ASSERT_EQ(5, plat_recvfrom(member, buffer, sizeof buffer, &from));
    EXPECT_EQ(0, std::memcmp(buffer, "hello", 5));
    EXPECT_EQ(loopback, from.addr_be);
}

TEST_F(PlatformSocket, ReceiveTimeoutEndsAWaitForNothing)
{
    plat_socket s = bound_socket(port_timeout);
    ASSERT_EQ(1, plat_set_recv_timeout(s, 300));
    std::uint8_t buffer[64];
    steady::time_point start = steady::now();
    EXPECT_LE(plat_recvfrom(s, buffer, sizeof buffer, nullptr), 0);
    long waited = elapsed_ms(start);
    EXPECT_GE(waited, 250);
    EXPECT_LT(waited, 1500);
}

}  // namespace
