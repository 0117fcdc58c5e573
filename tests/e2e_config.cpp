// Configuration calls through the shipped library: every rejection returns
// its code and exact message and changes nothing.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <string>

#include "tandrelo_mdns.h"

namespace {

struct rejection {
    const char* what;
    std::function<int32_t()> call;
    const char* message;
};

TEST(Configuration, RejectedCallsReturnMinusOneWithTheirMessageAndChangeNothing)
{
    ASSERT_EQ(0, mdns_add_service("_http._tcp", "Web", 80, nullptr));
    const std::string before = mdns_stats();
    const std::string long_label(64, 'a');
    const rejection cases[] = {
        {"null label", [] { return mdns_set_hostname(nullptr); }, "Hostname cannot be empty"},
        {"empty label", [] { return mdns_set_hostname(""); }, "Hostname cannot be empty"},
        {"dotted label", [] { return mdns_set_hostname("host.local"); },
         "Hostname label cannot contain dots (provide label without .local)"},
        {"long dotted label", [&] { return mdns_set_hostname((long_label + ".x").c_str()); },
         "Hostname label cannot contain dots (provide label without .local)"},
        {"64-byte label", [&] { return mdns_set_hostname(long_label.c_str()); },
         "Hostname label exceeds maximum length (63 characters)"},
        {"three-part address", [] { return mdns_set_addr("192.168.1"); }, "Invalid IPv4 address format"},
        {"IPv6 address", [] { return mdns_set_addr("::1"); }, "Invalid IPv4 address format"},
        {"octet above 255", [] { return mdns_set_addr("1.2.3.256"); }, "Invalid IPv4 address format"},
        {"both empty", [] { return mdns_add_service("", "", 80, nullptr); },
         "Service type cannot be empty (e.g. '_http._tcp')"},
        {"null type", [] { return mdns_add_service(nullptr, "x", 80, nullptr); },
         "Service type cannot be empty (e.g. '_http._tcp')"},
        {"null name", [] { return mdns_add_service("_x._tcp", nullptr, 80, nullptr); },
         "Service instance name cannot be empty"},
        {"port 0", [] { return mdns_add_service("_x._tcp", "x", 0, nullptr); },
         "Port must be between 1 and 65535"},
        {"port 65536", [] { return mdns_add_service("_x._tcp", "x", 65536, nullptr); },
         "Port must be between 1 and 65535"},
        {"port -1", [] { return mdns_add_service("_x._tcp", "x", -1, nullptr); },
         "Port must be between 1 and 65535"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MDNS_ERR_INVALID, c.call()) << c.what;
        EXPECT_STREQ(c.message, mdns_last_error()) << c.what;
        EXPECT_EQ(before, mdns_stats()) << c.what;
    }
}

TEST(Configuration, SuccessNeverClearsTheLastError)
{
    mdns_add_service("", "x", 1, nullptr);
    EXPECT_EQ(0, mdns_set_hostname("fine"));
    EXPECT_STREQ("Service type cannot be empty (e.g. '_http._tcp')", mdns_last_error());
}

TEST(Configuration, AcceptedLabelsAndAddresses)
{
    const std::string label63(63, 'b');
    EXPECT_EQ(0, mdns_set_hostname(label63.c_str()));
    EXPECT_EQ(0, mdns_set_hostname("Living Room \xc3\xa9"));  // spaces, case, non-ASCII kept
    for (const char* addr : {"0.0.0.0", "255.255.255.255", "224.0.0.251", "10.0.0.1"}) {
        EXPECT_EQ(0, mdns_set_addr(addr)) << addr;
    }
    nlohmann::json j = nlohmann::json::parse(mdns_stats());
    EXPECT_EQ("Living Room \xc3\xa9", j["hostname"]);
    EXPECT_EQ("10.0.0.1", j["addr"]);
}

TEST(Configuration, ServicesUpdateInPlaceAndFillTo64)
{
    EXPECT_EQ(0, mdns_add_service("_http._tcp", "Web", 80, "{\"a\":\"1\"}"));
    EXPECT_EQ(0, mdns_add_service("_HTTP._TCP", "web", 8080, nullptr));
    nlohmann::json j = nlohmann::json::parse(mdns_stats());
    ASSERT_EQ(1, j["services_count"]);
    EXPECT_EQ("_HTTP._TCP", j["services"][0]["type"]);
    EXPECT_EQ("web", j["services"][0]["name"]);
    EXPECT_EQ(8080, j["services"][0]["port"]);
    EXPECT_TRUE(j["services"][0]["txt"].empty());

    EXPECT_EQ(1, mdns_add_service("_ipp._tcp", "web", 631, nullptr));  // same name, other type
    for (int i = 2; i < 64; i++) {
        std::string name = "s" + std::to_string(i);
        EXPECT_EQ(i, mdns_add_service("_s._tcp", name.c_str(), i, nullptr));
    }
    EXPECT_EQ(MDNS_ERR_INVALID, mdns_add_service("_s._tcp", "one-too-many", 1, nullptr));
    EXPECT_STREQ("Maximum service count reached", mdns_last_error());
    EXPECT_EQ(40, mdns_add_service("_S._TCP", "S40", 4040, nullptr));  // updates still work when full

    // A type longer than 63 characters is stored cut, so the same long type
    // does not match its stored copy and takes a further entry.
    EXPECT_EQ(0, mdns_clear_services());
    const std::string long_type(70, 't');
    EXPECT_EQ(0, mdns_add_service(long_type.c_str(), "x", 1, nullptr));
    EXPECT_EQ(1, mdns_add_service(long_type.c_str(), "x", 1, nullptr));
    j = nlohmann::json::parse(mdns_stats());
    EXPECT_EQ(std::string(63, 't'), j["services"][0]["type"]);
}

}  // namespace
