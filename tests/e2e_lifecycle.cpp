// Starting and stopping the responder, its announcements, and the
// configuration calls, through the shipped library over real sockets.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/responder_fixture.h"

namespace {

using clock_type = std::chrono::steady_clock;

// Announcements heard on the group port, with their arrival times.
struct heard {
    bytes data;
    clock_type::time_point at;
};

std::vector<heard> listen_for_announcements(const test_socket& group)
{
    std::vector<heard> out;
    for (bytes b = group.receive(); !b.empty(); b = group.receive()) {
        if (b.size() >= 4 && (b[2] & 0x80) != 0) out.push_back({b, clock_type::now()});
    }
    return out;
}

TEST(Lifecycle, StartAnnouncesThreeTimesHundredMillisecondsApart)
{
    test_socket group;
    ASSERT_TRUE(group.open(22001, true, 500));
    mdns_add_service("_http._tcp", "Web", 80, "{\"path\":\"/\"}");
    mdns_add_service("_ipp._tcp", "Printer", 631, nullptr);
    auto before = clock_type::now();
    ASSERT_EQ(MDNS_OK, mdns_start(22001)) << mdns_last_error();
    // The call returns after its three sends and two pauses.
    EXPECT_GE(clock_type::now() - before, std::chrono::milliseconds(190));
    std::vector<heard> a = listen_for_announcements(group);
    ASSERT_EQ(3u, a.size());
    EXPECT_EQ(a[0].data, a[1].data);
    EXPECT_EQ(a[0].data, a[2].data);
    message m = parse_message(a[0].data);
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(0, m.id);
    EXPECT_EQ(0x8400, m.flags);
    EXPECT_EQ(9, m.ancount);
    EXPECT_EQ(0, m.arcount);
    const char* names[] = {"tandrelo.local",
                           "_services._dns-sd._udp.local", "_http._tcp.local",
                           "Web._http._tcp.local", "Web._http._tcp.local",
                           "_services._dns-sd._udp.local", "_ipp._tcp.local",
                           "Printer._ipp._tcp.local", "Printer._ipp._tcp.local"};
    const std::uint16_t types[] = {1, 12, 12, 33, 16, 12, 12, 33, 16};
    ASSERT_EQ(9u, m.records.size());
    for (int i = 0; i < 9; i++) {
        EXPECT_EQ(names[i], m.records[i].name) << i;
        EXPECT_EQ(types[i], m.records[i].type) << i;
    }
    mdns_stop();
}

TEST(Lifecycle, AnnouncementGapsAreAboutHundredMilliseconds)
{
    test_socket group;
    ASSERT_TRUE(group.open(22002, true, 500));
    std::vector<heard> a;
    std::thread listener([&] { a = listen_for_announcements(group); });
    ASSERT_EQ(MDNS_OK, mdns_start(22002));
    listener.join();
    ASSERT_EQ(3u, a.size());
    for (int i = 1; i < 3; i++) {
        auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(a[i].at - a[i - 1].at);
        EXPECT_GE(gap.count(), 80) << i;
        EXPECT_LE(gap.count(), 300) << i;
    }
    mdns_stop();
}

// How many announcements one configuration call sends.
struct reannounce_case {
    const char* what;
    int (*call)();
    int expected_result;
    std::size_t expected_datagrams;
};

TEST(Lifecycle, ReannouncesAfterEachSuccessfulConfigurationCallOnly)
{
    const reannounce_case cases[] = {
        {"hostname", [] { return mdns_set_hostname("kitchen"); }, 0, 4},  // and the old name's goodbye
        {"same hostname again", [] { return mdns_set_hostname("kitchen"); }, 0, 3},
        {"address", [] { return mdns_set_addr("10.0.0.7"); }, 0, 3},
        {"service", [] { return mdns_add_service("_a._tcp", "x", 1, nullptr); }, 0, 3},
        {"service update", [] { return mdns_add_service("_A._TCP", "X", 2, nullptr); }, 0, 3},
        {"bad hostname", [] { return mdns_set_hostname("a.b"); }, -1, 0},
        {"bad address", [] { return mdns_set_addr("1.2.3"); }, -1, 0},
        {"bad service", [] { return mdns_add_service("", "x", 1, nullptr); }, -1, 0},
        {"clear", [] { return mdns_clear_services(); }, 0, 1},  // the services' goodbye
    };
    test_socket group;
    ASSERT_TRUE(group.open(22003, true, 350));
    ASSERT_EQ(MDNS_OK, mdns_start(22003));
    listen_for_announcements(group);
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected_result, c.call()) << c.what;
        EXPECT_EQ(c.expected_datagrams, listen_for_announcements(group).size()) << c.what;
    }
    mdns_stop();
    EXPECT_EQ(1u, listen_for_announcements(group).size());  // the goodbye of every record
    // While stopped, configuration sends nothing.
    EXPECT_EQ(0, mdns_set_hostname("stopped"));
    EXPECT_EQ(0, mdns_add_service("_b._tcp", "y", 3, nullptr));
    EXPECT_TRUE(listen_for_announcements(group).empty());
}

TEST(Lifecycle, StopStartKeepsCountersAndConfiguration)
{
    test_socket client;
    ASSERT_TRUE(client.open(22504, false, 500));
    ASSERT_EQ(MDNS_OK, mdns_start(22004));
    client.send(make_query(1, {{"tandrelo.local", 1, 1}}), 22004, "224.0.0.251");
    ASSERT_FALSE(client.receive().empty());
    EXPECT_EQ(0, mdns_stop());
    EXPECT_EQ(0, mdns_status());
    EXPECT_EQ(0, mdns_stop());  // a second stop is harmless
    ASSERT_EQ(MDNS_OK, mdns_start(22004));
    EXPECT_EQ(1, mdns_status());
    EXPECT_EQ(1, stat("queries"));
    EXPECT_EQ(1, stat("answers"));
    client.send(make_query(2, {{"tandrelo.local", 1, 1}}), 22004, "224.0.0.251");
    EXPECT_FALSE(client.receive().empty());
    EXPECT_EQ(2, stat("answers"));
    mdns_stop();
}

TEST(Lifecycle, StartRefusals)
{
    ASSERT_EQ(MDNS_OK, mdns_start(22005));
    EXPECT_EQ(MDNS_ERR_ALREADY_RUNNING, mdns_start(22006));
    EXPECT_STREQ("mDNS responder is already running", mdns_last_error());
    EXPECT_EQ(22005, stat("port"));
    mdns_stop();

    for (int32_t bad : {65536, -1, -5353}) {
        EXPECT_EQ(MDNS_ERR_INVALID, mdns_start(bad)) << bad;
        EXPECT_STREQ("Invalid port specified", mdns_last_error());
        EXPECT_EQ(22005, stat("port"));
        EXPECT_EQ(0, mdns_status());
    }
}

TEST(Lifecycle, BindFailureKeepsTheTriedPortAndReportsTheSocketError)
{
    // A socket without address reuse holds the port.
    plat_socket_layer_start();
    plat_socket holder = plat_udp_socket();
    ASSERT_TRUE(plat_bind_any(holder, 22007));
    EXPECT_EQ(MDNS_ERR_BIND, mdns_start(22007));
    std::string message = mdns_last_error();
    EXPECT_EQ(0u, message.find("bind() on port 22007 failed with error ")) << message;
    EXPECT_GT(std::atoi(message.c_str() + std::strlen("bind() on port 22007 failed with error ")), 0);
    EXPECT_EQ(22007, stat("port"));
    EXPECT_EQ(0, stat("running"));
    plat_socket_close(holder);
    EXPECT_EQ(MDNS_OK, mdns_start(22007));  // and the port is usable once free
    mdns_stop();
}

TEST(Lifecycle, PortZeroMeans5353)
{
    ASSERT_EQ(MDNS_OK, mdns_start(0)) << mdns_last_error();
    EXPECT_EQ(5353, stat("port"));
    mdns_stop();
}

// A stopped responder's socket must never be used again, even by an
// announcement that is still running on another thread when stop closes it
// and the system hands the same descriptor to a new socket. Any datagram on
// the group port from a source port other than the responder's would come
// from such a reused descriptor.
TEST(Lifecycle, StopRacingAnnouncementsNeverUsesAReleasedSocket)
{
    const std::uint16_t port = 22008;
    test_socket group;
    ASSERT_TRUE(group.open(port, true, 50));
    std::atomic<bool> stray{false};
    std::atomic<bool> listening{true};
    std::thread listener([&] {
        while (listening) {
            plat_addr4 from = {0, 0};
            bytes b = group.receive(&from);
            if (!b.empty() && plat_htons(port) != from.port_be) stray = true;
        }
    });
    for (int round = 0; round < 12; round++) {
        ASSERT_EQ(MDNS_OK, mdns_start(port));
        std::thread announcer([round] {
            mdns_add_service("_race._tcp", "r", 1 + round, nullptr);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(10 * (round % 5)));
        mdns_stop();
        // New sockets now take the lowest free descriptors.
        test_socket reuse[4];
        for (int i = 0; i < 4; i++) reuse[i].open(static_cast<std::uint16_t>(22600 + i), false, 10);
        announcer.join();
    }
    listening = false;
    listener.join();
    EXPECT_FALSE(stray.load());
}

TEST(Lifecycle, ConfigurationFromManyThreadsWhileQueriesArrive)
{
    const std::uint16_t port = 22009;
    ASSERT_EQ(MDNS_OK, mdns_start(port));
    test_socket client;
    ASSERT_TRUE(client.open(22509, false, 300));
    std::atomic<bool> done{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 3; t++) {
        writers.emplace_back([t, &done] {
            for (int i = 0; i < 6 && !done; i++) {
                std::string name = "svc" + std::to_string(t) + "-" + std::to_string(i);
                mdns_add_service("_conc._tcp", name.c_str(), 1000 + i, "{\"k\":\"v\"}");
                mdns_set_hostname(t % 2 ? "host-a" : "host-b");
                mdns_stats();
            }
        });
    }
    int torn = 0, replies = 0;
    for (int i = 0; i < 40; i++) {
        client.send(make_query(static_cast<std::uint16_t>(i), {{"_conc._tcp.local", 12, 1}}), port,
                    "224.0.0.251");
        bytes b = client.receive();
        if (b.empty()) continue;
        replies++;
        message m = parse_message(b);
        if (!m.ok || m.records.size() != static_cast<std::size_t>(m.ancount + m.arcount)) torn++;
    }
    done = true;
    for (auto& w : writers) w.join();
    EXPECT_EQ(0, torn);
    EXPECT_GT(replies, 0);
    mdns_stop();
}

}  // namespace
