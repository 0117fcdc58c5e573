// Which senders get answers: the subnets of the host's adapters, read from a
// fake adapter list through the platform layer, the decision for senders in
// and out of them, and the rereads of the list that a far-away sender causes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/state.h"
#include "internal/state_reset.h"
#include "net/on_link.h"
#include "platform/faults.h"
#include "responder/responder.h"
#include "support/test_net.h"

namespace {

struct fake_address {
    const char* ip;
    int prefix;
};

plat_adapter_raw adapter(const char* name, bool up, bool loopback,
                         const std::vector<fake_address>& addresses)
{
    plat_adapter_raw r;
    std::memset(&r, 0, sizeof r);
    std::snprintf(r.name, sizeof r.name, "%s", name);
    r.oper_up = up;
    r.software_loopback = loopback;
    for (const fake_address& a : addresses) {
        EXPECT_EQ(1, plat_ipv4_parse(a.ip, &r.ipv4_be[r.ipv4_count])) << a.ip;
        r.ipv4_prefix[r.ipv4_count] = static_cast<std::uint8_t>(a.prefix);
        r.ipv4_count++;
    }
    return r;
}

std::uint32_t ip(const char* text) { return plat_ipv4_addr(text); }

struct on_link_test : ::testing::Test {
    std::vector<plat_adapter_raw> list;

    void SetUp() override
    {
        lock_init();
        state_reset_for_tests();
        plat_fault_clear();
    }
    void TearDown() override { plat_fault_clear(); }

    // Makes list what plat_list_adapters answers from now on, even when it
    // is empty.
    void use(std::vector<plat_adapter_raw> adapters)
    {
        static const plat_adapter_raw none{};
        list = std::move(adapters);
        g_plat_faults.adapter_count = static_cast<int>(list.size());
        g_plat_faults.adapters = list.empty() ? &none : list.data();
    }
    static void read_at(std::uint64_t now_ms)
    {
        lock_enter();
        on_link_read_locked(now_ms);
        lock_leave();
    }
    static bool on_link(const char* sender)
    {
        lock_enter();
        bool yes = sender_on_link_locked(ip(sender));
        lock_leave();
        return yes;
    }
    static std::uint64_t reads()
    {
        lock_enter();
        std::uint64_t n = g_on_link_reads;
        lock_leave();
        return n;
    }
};

// A host with an Ethernet adapter of two addresses, a loopback adapter that
// also carries a /32, an adapter that is down and one whose prefix is out of
// range.
std::vector<plat_adapter_raw> typical_host()
{
    return {
        adapter("eth0", true, false, {{"192.168.1.20", 24}, {"10.5.0.7", 16}}),
        adapter("lo", true, true, {{"127.0.0.1", 8}, {"10.99.0.1", 32}}),
        adapter("wlan0", false, false, {{"172.16.0.1", 12}}),
        adapter("odd", true, false, {{"10.77.0.1", 40}}),
    };
}

TEST_F(on_link_test, SendersInsideTheSubnetsOfAdaptersThatAreUpAreOnLink)
{
    use(typical_host());
    read_at(1000);
    const struct {
        const char* sender;
        bool on_link;
    } cases[] = {
        {"192.168.1.5", true},    {"192.168.1.0", true},   {"192.168.1.255", true},
        {"192.168.2.5", false},   {"192.168.0.255", false},
        {"10.5.255.254", true},   {"10.6.0.1", false},     {"10.4.255.255", false},
        {"10.99.0.1", true},      {"10.99.0.2", false},    // a /32 on loopback: itself only
        {"127.0.0.1", true},      {"127.200.1.1", true},   {"126.255.255.255", false},
        {"128.0.0.1", false},
        {"172.16.0.9", false},    // its adapter is down
        {"10.77.0.1", true},      {"10.77.0.2", false},    // a prefix above 32 counts as 32
        {"0.0.0.0", true},        // this host: a multicast sent through lo has it
        {"169.254.9.9", true},    // link-local: never forwarded
        {"169.255.0.1", false},   {"169.253.255.255", false},
        {"255.255.255.255", false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.on_link, on_link(c.sender)) << c.sender;

    // Each subnet once, whatever its address.
    std::vector<plat_adapter_raw> twice = typical_host();
    twice.push_back(adapter("eth1", true, false, {{"192.168.1.77", 24}, {"192.168.1.78", 24}}));
    on_link_subnet subnets[max_on_link_subnets];
    EXPECT_EQ(5, collect_on_link_subnets(twice.data(), static_cast<int>(twice.size()), subnets,
                                         max_on_link_subnets));
    EXPECT_EQ(2, collect_on_link_subnets(twice.data(), static_cast<int>(twice.size()), subnets, 2));
}

// Sources that no router forwards need no list and cause no read.
TEST_F(on_link_test, SendersThatNoRouterForwardsAreOnLinkWithoutAnyList)
{
    // Never read, and a list that would say nothing.
    use({});
    EXPECT_TRUE(on_link("127.0.0.1"));
    EXPECT_TRUE(on_link("127.255.255.254"));
    EXPECT_TRUE(on_link("0.0.0.0"));
    EXPECT_TRUE(on_link("169.254.1.2"));
    EXPECT_FALSE(on_link("192.168.1.5"));
    for (const char* sender : {"127.0.0.1", "0.0.0.0", "169.254.1.2"}) {
        EXPECT_FALSE(on_link_reread_for(ip(sender), 5000)) << sender;
    }
    EXPECT_EQ(0u, reads());
}

// An address added after the start is learnt when a sender from its subnet
// shows up, but the list is read again at most once a second, however many
// far-away senders come; senders on a known subnet never cause a read.
TEST_F(on_link_test, FarAwaySendersRereadTheListAtMostOnceASecond)
{
    use(typical_host());
    read_at(10000);
    ASSERT_EQ(1u, reads());
    std::vector<plat_adapter_raw> later = typical_host();
    later.push_back(adapter("veth0", true, false, {{"10.62.0.1", 24}}));
    use(later);

    EXPECT_FALSE(on_link_reread_for(ip("10.62.0.5"), 10999));  // within a second of the start
    EXPECT_FALSE(on_link("10.62.0.5"));
    EXPECT_TRUE(on_link_reread_for(ip("10.62.0.5"), 11000));
    EXPECT_TRUE(on_link("10.62.0.5"));
    EXPECT_EQ(2u, reads());

    // A flood from outside: one read per second at most.
    int read_count = 0;
    for (std::uint64_t t = 11000; t < 14000; t += 2) {
        if (on_link_reread_for(ip("203.0.113.9"), t)) read_count++;
    }
    EXPECT_EQ(2, read_count);  // at 12000 and 13000
    EXPECT_FALSE(on_link("203.0.113.9"));
    // Known senders cost nothing, even when a read would be due.
    for (const char* sender : {"10.62.0.5", "192.168.1.5", "127.0.0.1"}) {
        EXPECT_FALSE(on_link_reread_for(ip(sender), 60000)) << sender;
    }
    EXPECT_EQ(4u, reads());
    // A clock that seems to go back (two threads) causes no read either.
    EXPECT_FALSE(on_link_reread_for(ip("203.0.113.9"), 12500));
}

// A list that comes back empty is a failed read: what was known stays.
TEST_F(on_link_test, AFailedReadKeepsTheKnownSubnets)
{
    use(typical_host());
    read_at(1000);
    use({});
    EXPECT_TRUE(on_link_reread_for(ip("203.0.113.9"), 5000));
    EXPECT_TRUE(on_link("192.168.1.5"));
    EXPECT_FALSE(on_link("203.0.113.9"));
}

// Through the packet handler: a query from outside is counted and dropped,
// one from a known subnet is answered.
TEST_F(on_link_test, QueriesFromOffLinkSendersAreCountedButNotAnswered)
{
    use(typical_host());
    read_at(1000);
    const bytes q = make_query(1, {{"tandrelo.local", 1, 1}});
    const struct {
        const char* sender;
        std::uint64_t answers;
    } cases[] = {
        {"192.168.2.5", 0}, {"192.168.1.5", 1}, {"8.8.8.8", 1}, {"127.0.0.1", 2}, {"10.5.1.1", 3},
    };
    std::uint64_t queries = 0;
    for (const auto& c : cases) {
        const plat_addr4 sender = {ip(c.sender), plat_htons(5353)};
        process_incoming(q.data(), q.size(), sender);
        queries++;
        EXPECT_EQ(queries, g_queries_received) << c.sender;
        EXPECT_EQ(c.answers, g_answers_sent) << c.sender;
    }
}

}  // namespace
