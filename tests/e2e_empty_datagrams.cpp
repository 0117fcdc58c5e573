// Datagrams without a single byte, which any host can send cheaply: the
// receive thread passes over them and keeps answering at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "support/test_net.h"
#include "tandrelo_mdns.h"

namespace {

using steady = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr std::uint16_t responder_port = 23411;
constexpr std::uint16_t probe_port = 23911;
constexpr std::uint16_t flood_port = 23912;

// 300 empty datagrams a second for 3 s, sent to the responder's port while a
// client asks for the host's address ten times a second: every question is
// answered within 50 ms.
TEST(EmptyDatagrams, AFloodOfThemLeavesEveryProbeAnsweredWithinFiftyMilliseconds)
{
    test_socket probe, flooder;
    ASSERT_TRUE(probe.open(probe_port, false, 1000));
    ASSERT_TRUE(flooder.open(flood_port, false, 100));
    ASSERT_EQ(MDNS_OK, mdns_start(responder_port)) << mdns_last_error();

    std::atomic<bool> flooding{true};
    std::atomic<int> sent{0};
    std::thread flood([&] {
        const std::uint8_t nothing[1] = {0};
        const plat_addr4 to = {plat_ipv4_addr("127.0.0.1"), plat_htons(responder_port)};
        const auto step = microseconds(1000000 / 300);
        auto next = steady::now();
        while (flooding.load()) {
            if (plat_sendto(flooder.s, nothing, 0, to) == 0) sent++;
            next += step;
            std::this_thread::sleep_until(next);
        }
    });

    const auto flood_end = steady::now() + std::chrono::seconds(3);
    std::this_thread::sleep_for(milliseconds(50));  // the flood is under way
    int probes = 0, answered_in_time = 0;
    long worst_us = 0;
    for (std::uint16_t id = 1; steady::now() < flood_end; id++) {
        probes++;
        const auto asked = steady::now();
        probe.send(make_query(id, {{"tandrelo.local", 1, 1}}), responder_port);
        long waited_us = -1;
        for (bytes b = probe.receive(); !b.empty(); b = probe.receive()) {
            message m = parse_message(b);
            if (m.ok && m.id == id && m.ancount == 1) {
                waited_us = static_cast<long>(
                    std::chrono::duration_cast<microseconds>(steady::now() - asked).count());
                break;
            }
        }
        if (waited_us < 0) waited_us = 1000000;  // no answer within the receive time-out
        if (waited_us <= 50000) answered_in_time++;
        if (waited_us > worst_us) worst_us = waited_us;
        std::this_thread::sleep_until(asked + milliseconds(100));
    }
    flooding = false;
    flood.join();
    mdns_stop();

    std::printf("empty datagrams sent: %d; probes answered within 50 ms: %d of %d; worst %.1f ms\n",
                sent.load(), answered_in_time, probes, worst_us / 1000.0);
    EXPECT_GE(sent.load(), 850);  // the flood really ran at about 300 a second
    EXPECT_GE(probes, 25);
    EXPECT_EQ(probes, answered_in_time) << "worst answer after " << worst_us << " us";
}

}  // namespace
