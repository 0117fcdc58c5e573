// A running responder on a test port, a client socket on another port and a
// socket that listens to the multicast group on the responder's port.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_net.h"
#include "tandrelo_mdns.h"

struct responder_test : ::testing::Test {
    std::uint16_t port = 0;
    test_socket client;  // sends queries, receives replies sent to the sender
    test_socket group;   // member of 224.0.0.251 on the responder's port

    // Opens the listeners, starts the responder and swallows its first
    // announcement.
    void start_on(std::uint16_t p)
    {
        port = p;
        ASSERT_TRUE(client.open(static_cast<std::uint16_t>(p + 500), false, 400));
        ASSERT_TRUE(group.open(p, true, 400));
        ASSERT_EQ(MDNS_OK, mdns_start(p)) << mdns_last_error();
        drain_group();
    }
    void TearDown() override { mdns_stop(); }

    // Sends a query to the group, as mDNS peers do.
    void ask(const bytes& query) const { client.send(query, port, "224.0.0.251"); }

    // Responses that reached the group listener (queries it hears are skipped).
    std::vector<bytes> drain_group() const
    {
        std::vector<bytes> out;
        for (const bytes& b : group.drain()) {
            if (b.size() >= 4 && (b[2] & 0x80) != 0) out.push_back(b);
        }
        return out;
    }
};

// A number out of the status report, e.g. stat("queries").
inline long long stat(const char* key)
{
    std::string report = mdns_stats();
    std::string needle = std::string("\"") + key + "\":";
    std::size_t at = report.find(needle);
    if (at == std::string::npos) return -1;
    return std::atoll(report.c_str() + at + needle.size());
}
