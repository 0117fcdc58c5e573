// The adapter list with the prefix length of each address, the address
// auto-detection and the interface selection over real adapters: veth pairs
// in a network namespace that netns_adapters.sh builds for each test. The
// suite name picks the set-up:
//
//   NetnsUsable   vethA0: 169.254.7.7, 10.1.0.1, 10.1.0.2, no gateway
//                 vethB0: 10.2.0.1, default route via 10.2.0.254
//                 vethC0: 169.254.5.5 only
//                 vethD0: 10.4.0.1, administratively down
//   NetnsNone     vethC0 and vethD0 as above: nothing usable
//   NetnsMany     m100 to m490: 10.0.10.1 to 10.0.49.1, one per adapter
//   NetnsCarrier  (Linux) vethA0: 10.1.0.1, up but its peer down (no carrier)
//                 vethB0: 10.2.0.1, only a route to 10.9.0.0/16 via 10.2.0.254
//
// The peer ends (vethX1) are up where the set-up needs a carrier and carry no
// IPv4 address, so they are never listed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/platform.h"
#include "support/test_net.h"
#include "tandrelo_mdns.h"

namespace {

std::string stats_text(const char* key)
{
    return nlohmann::json::parse(mdns_stats())[key].get<std::string>();
}

int stats_number(const char* key) { return nlohmann::json::parse(mdns_stats())[key].get<int>(); }

// The devices on which 224.0.0.251 has been joined, from the kernel's
// membership table (Wine reaches it through its Z: drive).
std::string mdns_group_devices()
{
#if defined(_WIN32)
    std::FILE* f = std::fopen("Z:\\proc\\net\\igmp", "r");
#else
    std::FILE* f = std::fopen("/proc/net/igmp", "r");
#endif
    if (f == nullptr) return "?";
    std::string devices, current;
    char line[256];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        char name[32];
        unsigned index;
        if (std::sscanf(line, "%u %31s", &index, name) == 2) {
            current = name;
        } else if (std::strstr(line, "FB0000E0") != nullptr) {  // 224.0.0.251, network order
            devices += current + " ";
        }
    }
    std::fclose(f);
    return devices;
}

// Asks the responder on port for its host address, from 127.0.0.1.
bool responder_answers(std::uint16_t port)
{
    test_socket client;
    if (!client.open(static_cast<std::uint16_t>(port + 500), false, 1000)) return false;
    client.send(make_query(0x1234, {{"tandrelo.local", 1, 1}}), port);
    for (bytes b = client.receive(); !b.empty(); b = client.receive()) {
        message m = parse_message(b);
        if (m.ok && m.id == 0x1234 && m.ancount == 1) return true;
    }
    return false;
}

}  // namespace

TEST(NetnsUsable, ReportListsExactlyTheUsableAdapters)
{
    const std::string expected =
        "[{\"ip\":\"10.1.0.1\",\"name\":\"vethA0\",\"gateway\":\"\",\"up\":1,\"loopback\":0},"
        "{\"ip\":\"10.2.0.1\",\"name\":\"vethB0\",\"gateway\":\"10.2.0.254\",\"up\":1,"
        "\"loopback\":0}]";
    EXPECT_EQ(expected, mdns_interfaces());
    EXPECT_EQ(expected, mdns_interfaces());  // built afresh, same result
}

TEST(NetnsUsable, AutoDetectionChoosesTheAdapterWithTheGateway)
{
    for (const char* address : {static_cast<const char*>(nullptr), ""}) {
        ASSERT_EQ(MDNS_OK, mdns_set_addr("192.0.2.9"));
        ASSERT_EQ(MDNS_ERR_INVALID, mdns_set_addr("not an address"));
        EXPECT_EQ(MDNS_OK, mdns_set_addr(address));
        EXPECT_EQ("10.2.0.1", stats_text("addr"));
        EXPECT_STREQ("Invalid IPv4 address format", mdns_last_error());  // no notice
    }
}

TEST(NetnsUsable, SelectionRestartsARunningResponderOnItsPort)
{
    const std::uint16_t port = 15391;
    ASSERT_EQ(MDNS_OK, mdns_start(port)) << mdns_last_error();
    EXPECT_EQ("lo ", mdns_group_devices());  // automatic: the system's choice

    EXPECT_EQ(MDNS_OK, mdns_set_interface("10.1.0.1"));
    EXPECT_EQ(1, mdns_status());
    EXPECT_EQ(port, stats_number("port"));
    EXPECT_EQ("10.1.0.1", stats_text("interface"));
    EXPECT_EQ("127.0.0.1", stats_text("addr"));  // the announced address stays
    EXPECT_EQ("vethA0 ", mdns_group_devices());
    EXPECT_TRUE(responder_answers(port));

    // Clearing the selection does not restart it.
    EXPECT_EQ(MDNS_OK, mdns_set_interface(""));
    EXPECT_EQ(1, mdns_status());
    EXPECT_EQ("auto", stats_text("interface"));
    EXPECT_EQ("vethA0 ", mdns_group_devices());
    mdns_stop();
}

TEST(NetnsUsable, SelectionWhileStoppedIsOnlyStored)
{
    EXPECT_EQ(MDNS_OK, mdns_set_interface("10.2.0.1"));
    EXPECT_EQ(0, mdns_status());
    EXPECT_EQ("10.2.0.1", stats_text("interface"));
    EXPECT_EQ("", mdns_group_devices());

    ASSERT_EQ(MDNS_OK, mdns_start(15392)) << mdns_last_error();
    EXPECT_EQ("vethB0 ", mdns_group_devices());  // the next start applies it
    mdns_stop();
}

TEST(NetnsUsable, AddressesOfNoUsableAdapterAreRefused)
{
    ASSERT_EQ(MDNS_OK, mdns_set_interface("10.2.0.1"));
    for (const char* address : {"127.0.0.1", "169.254.7.7", "169.254.5.5",
                                "10.1.0.2",   // second address of a listed adapter
                                "10.4.0.1",   // adapter down
                                "10.9.9.9", "0.0.0.0", "255.255.255.255"}) {
        SCOPED_TRACE(address);
        EXPECT_EQ(MDNS_ERR_INVALID, mdns_set_interface(address));
        EXPECT_EQ("Interface " + std::string(address) +
                      " is not an active non-loopback adapter",
                  mdns_last_error());
        EXPECT_EQ("10.2.0.1", stats_text("interface"));
    }
    for (const char* address : {"10.1.0.256", "10.1.0", "vethA0"}) {
        SCOPED_TRACE(address);
        EXPECT_EQ(MDNS_ERR_INVALID, mdns_set_interface(address));
        EXPECT_STREQ("Invalid interface IPv4 address format", mdns_last_error());
        EXPECT_EQ("10.2.0.1", stats_text("interface"));
    }
}

// The platform's raw list gives each address with its own prefix length,
// which decides whose queries are answered: addresses of one adapter can
// differ, and the loopback adapter is listed too.
TEST(NetnsUsable, EachAddressCarriesItsPrefixLength)
{
    plat_adapter_raw raw[64];
    const int count = plat_list_adapters(raw, 64);
    std::map<std::string, int> prefixes;  // "name address" -> prefix length
    for (int r = 0; r < count; r++) {
        for (int i = 0; i < raw[r].ipv4_count && i < 8; i++) {
            char text[16];
            const std::uint8_t* b = reinterpret_cast<const std::uint8_t*>(&raw[r].ipv4_be[i]);
            std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
            prefixes[std::string(raw[r].software_loopback ? "loopback" : raw[r].name) + " " +
                     text] = raw[r].ipv4_prefix[i];
        }
    }
    const std::map<std::string, int> expected = {
        {"vethA0 169.254.7.7", 16}, {"vethA0 10.1.0.1", 24}, {"vethA0 10.1.0.2", 24},
        {"vethB0 10.2.0.1", 24},    {"vethC0 169.254.5.5", 16}, {"vethD0 10.4.0.1", 24},
        {"loopback 127.0.0.1", 8},
    };
    for (const auto& e : expected) {
        auto found = prefixes.find(e.first);
        ASSERT_NE(prefixes.end(), found) << e.first << " is not listed";
        EXPECT_EQ(e.second, found->second) << e.first;
    }
}

TEST(NetnsNone, EmptyReportAndTheLoopbackFallback)
{
    EXPECT_STREQ("[]", mdns_interfaces());
    for (const char* address : {static_cast<const char*>(nullptr), ""}) {
        ASSERT_EQ(MDNS_OK, mdns_set_addr("192.0.2.9"));
        EXPECT_EQ(MDNS_OK, mdns_set_addr(address));
        EXPECT_EQ("127.0.0.1", stats_text("addr"));
        EXPECT_STREQ("No non-loopback IPv4 adapter found; announcing on 127.0.0.1",
                     mdns_last_error());
    }
    EXPECT_EQ(MDNS_ERR_INVALID, mdns_set_interface("10.4.0.1"));
    EXPECT_STREQ("Interface 10.4.0.1 is not an active non-loopback adapter", mdns_last_error());
}

TEST(NetnsMany, FirstThirtyTwoInSystemOrder)
{
    nlohmann::json report = nlohmann::json::parse(mdns_interfaces());
    ASSERT_EQ(32u, report.size());
    for (int i = 0; i < 32; i++) {
        EXPECT_EQ("10.0." + std::to_string(10 + i) + ".1", report[i]["ip"].get<std::string>());
        EXPECT_EQ("m" + std::to_string(10 + i) + "0", report[i]["name"].get<std::string>());
    }
    EXPECT_EQ(MDNS_OK, mdns_set_interface("10.0.41.1"));
    EXPECT_EQ(MDNS_ERR_INVALID, mdns_set_interface("10.0.42.1"));  // the 33rd
}

#if !defined(_WIN32)
// Linux reads the carrier and the default routes itself; Wine reports an
// adapter without carrier as up and takes any route's next hop as a gateway.
TEST(NetnsCarrier, NoCarrierIsDownAndOnlyDefaultRoutesGiveAGateway)
{
    EXPECT_STREQ(
        "[{\"ip\":\"10.2.0.1\",\"name\":\"vethB0\",\"gateway\":\"\",\"up\":1,\"loopback\":0}]",
        mdns_interfaces());
}
#endif
