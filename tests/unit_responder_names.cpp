// The names and the announced address that the responder keeps formed
// between datagrams. Each must follow the text it comes from whoever changes
// that text, and a name's wire form must be exactly what the record writers
// would encode from its text.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "core/announced_addr.h"
#include "core/state.h"
#include "core/text.h"
#include "dns/message.h"
#include "responder/responder.h"
#include "internal/state_reset.h"
#include "tandrelo_mdns.h"

namespace {

std::string encoded(const char* text)
{
    std::uint8_t buffer[dns_name_text_size + 2];
    std::size_t cursor = 0;
    EXPECT_EQ(1, dns_write_name(buffer, sizeof buffer, cursor, text));
    return std::string(buffer, buffer + cursor);
}

// The name as the writers get it: its text, its length and its wire form.
void expect_name(const dns_name_arg& name, const char* text)
{
    EXPECT_STREQ(text, name.text);
    EXPECT_EQ(std::string(text).size(), name.text_length);
    ASSERT_NE(nullptr, name.wire);
    EXPECT_EQ(encoded(text), std::string(name.wire, name.wire + name.wire_length)) << text;
}

struct names_test : ::testing::Test {
    void SetUp() override
    {
        lock_init();
        state_reset_for_tests();
    }
};

TEST_F(names_test, HostNameFollowsTheLabelWhoeverWritesIt)
{
    expect_name(host_name_locked(), "tandrelo.local");
    ASSERT_EQ(MDNS_OK, mdns_set_hostname("kitchen"));
    expect_name(host_name_locked(), "kitchen.local");
    // Written directly, as the rename after a conflict does; a shorter label
    // leaves the old bytes after its terminator.
    text_copy(g_hostname, sizeof g_hostname, "k");
    expect_name(host_name_locked(), "k.local");
    text_copy(g_hostname, sizeof g_hostname, "a.b");
    expect_name(host_name_locked(), "a.b.local");
    expect_name(enumeration_name_locked(), "_services._dns-sd._udp.local");
}

TEST_F(names_test, ServiceNamesFollowTheirSlotWhenItIsReused)
{
    ASSERT_EQ(0, mdns_add_service("_http._tcp", "Web", 80, nullptr));
    service_names names = service_names_of_locked(0);
    expect_name(names.type_name, "_http._tcp.local");
    expect_name(names.instance_name, "Web._http._tcp.local");

    mdns_clear_services();
    ASSERT_EQ(0, mdns_add_service("_ipp._tcp", "Printer", 631, nullptr));
    names = service_names_of_locked(0);
    expect_name(names.type_name, "_ipp._tcp.local");
    expect_name(names.instance_name, "Printer._ipp._tcp.local");

    // Same type, another instance name of the same length, then a shorter one.
    mdns_clear_services();
    ASSERT_EQ(0, mdns_add_service("_ipp._tcp", "Printes", 631, nullptr));
    expect_name(service_names_of_locked(0).instance_name, "Printes._ipp._tcp.local");
    mdns_clear_services();
    ASSERT_EQ(0, mdns_add_service("_ipp._tcp", "P.2", 631, nullptr));
    expect_name(service_names_of_locked(0).instance_name, "P.2._ipp._tcp.local");
}

TEST_F(names_test, AnnouncedAddressFollowsItsText)
{
    const std::uint32_t loopback = plat_ipv4_addr("127.0.0.1");
    EXPECT_EQ(loopback, announced_addr_be_locked());
    EXPECT_TRUE(is_announced_addr_text_locked(loopback));

    text_copy(g_addr, sizeof g_addr, "10.1.2.3");
    const std::uint32_t changed = plat_ipv4_addr("10.1.2.3");
    EXPECT_EQ(changed, announced_addr_be_locked());
    EXPECT_TRUE(is_announced_addr_text_locked(changed));
    EXPECT_FALSE(is_announced_addr_text_locked(loopback));

    // A text that converts to those bytes but is not the text they format
    // to: no address's text equals it.
    text_copy(g_addr, sizeof g_addr, "10.1.2.03");
    EXPECT_EQ(plat_ipv4_addr("10.1.2.03"), announced_addr_be_locked());
    EXPECT_FALSE(is_announced_addr_text_locked(announced_addr_be_locked()));
}

}  // namespace
