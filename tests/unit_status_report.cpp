// The status report: exact text where the format is fixed, and valid JSON
// whatever the host puts into its texts.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>

#include "core/state.h"
#include "tandrelo_mdns.h"

TEST(StatusReport, AtLoad)
{
    EXPECT_STREQ("{\"running\":0,\"port\":5353,\"queries\":0,\"answers\":0,\"hostname\":\"tandrelo\","
                 "\"addr\":\"127.0.0.1\",\"interface\":\"auto\",\"browsing\":0,\"browse_count\":0,"
                 "\"services_count\":0,\"services\":[]}",
                 mdns_stats());
}

TEST(StatusReport, ServicesWithTheirTxtValues)
{
    mdns_add_service("_http._tcp", "Web", 80, nullptr);
    mdns_add_service("_ipp._tcp", "Printer", 631, "{\"rp\":\"ipp/print\"}");
    mdns_add_service("_a._tcp", "Plain", 1, "key=value");   // not an object: "{}" as a string
    mdns_add_service("_b._tcp", "Spaced", 2, " {\"k\":1}");  // leading space: also replaced
    mdns_add_service("_c._tcp", "Broken", 3, "{not json");   // begins with "{" but no JSON: replaced
    g_queries_received = 18446744073709551615ull;
    std::string report = mdns_stats();
    EXPECT_NE(std::string::npos, report.find("\"queries\":18446744073709551615,"));
    EXPECT_NE(std::string::npos,
              report.find("\"services_count\":5,\"services\":["
                          "{\"type\":\"_http._tcp\",\"name\":\"Web\",\"port\":80,\"txt\":{}},"
                          "{\"type\":\"_ipp._tcp\",\"name\":\"Printer\",\"port\":631,\"txt\":{\"rp\":\"ipp/print\"}},"
                          "{\"type\":\"_a._tcp\",\"name\":\"Plain\",\"port\":1,\"txt\":\"{}\"},"
                          "{\"type\":\"_b._tcp\",\"name\":\"Spaced\",\"port\":2,\"txt\":\"{}\"},"
                          "{\"type\":\"_c._tcp\",\"name\":\"Broken\",\"port\":3,\"txt\":\"{}\"}]}"))
        << report;
}

TEST(StatusReport, HostTextsAreEscapedSoTheReportStaysValidJson)
{
    const std::string hostile = "q\"b\\c\x01\x1f\xff";
    ASSERT_EQ(0, mdns_set_hostname(hostile.c_str()));
    ASSERT_EQ(0, mdns_add_service(hostile.c_str(), hostile.c_str(), 9, "{\"k\":\"v\"}"));
    nlohmann::json j = nlohmann::json::parse(mdns_stats());
    const std::string expected = "q\"b\\c\x01\x1f\xc3\xbf";  // 0xFF comes back as U+00FF
    EXPECT_EQ(expected, j["hostname"]);
    EXPECT_EQ(expected, j["services"][0]["type"]);
    EXPECT_EQ(expected, j["services"][0]["name"]);
    EXPECT_EQ("v", j["services"][0]["txt"]["k"]);
    EXPECT_EQ("auto", j["interface"]);
}

TEST(StatusReport, ServicesThatDoNotFitAreLeftOutAndShorterOnesStillAppear)
{
    const std::string long_txt = "{\"k\":\"" + std::string(1000, 'x') + "\"}";
    for (int i = 0; i < 5; i++) {
        std::string name = "long" + std::to_string(i);
        ASSERT_EQ(i, mdns_add_service("_l._tcp", name.c_str(), 1, long_txt.c_str()));
    }
    ASSERT_EQ(5, mdns_add_service("_s._tcp", "short", 2, nullptr));
    nlohmann::json j = nlohmann::json::parse(mdns_stats());
    EXPECT_EQ(6, j["services_count"]);
    ASSERT_EQ(4u, j["services"].size());  // three long ones fit, then the short one
    EXPECT_EQ("long2", j["services"][2]["name"]);
    EXPECT_EQ("short", j["services"][3]["name"]);
}

TEST(StatusReport, InterfaceAndPortFollowTheState)
{
    g_port = 7000;
    std::snprintf(g_selected_if, sizeof g_selected_if, "%s", "192.168.7.2");
    nlohmann::json j = nlohmann::json::parse(mdns_stats());
    EXPECT_EQ(7000, j["port"]);
    EXPECT_EQ("192.168.7.2", j["interface"]);
}

TEST(StatusReport, OnlyWholeFlatJsonObjectsAreInsertedAsTheyStand)
{
    const std::string valid_long = "{\"k\":\"" + std::string(1971, 'v') + "\"}";  // 1,979 bytes
    const struct {
        const char* what;
        std::string txt;
        bool inserted;
    } cases[] = {
        {"flat object of every value kind",
         "{\"s\":\"a\\\"b\\\\\\u00e9\\n\",\"n\":-1.5e3,\"z\":0,\"t\":true,\"f\":false,\"x\":null}", true},
        {"empty object", "{}", true},
        {"object with white space", "{ \"a\" : \"b\" , \"c\":1 }\n", true},
        {"UTF-8 text", "{\"name\":\"K\xc3\xbc" "che \xe2\x82\xac\"}", true},
        {"valid object cut at 1,023 bytes", valid_long, false},
        {"raw control byte in a string", "{\"a\":\"b\x01\"}", false},
        {"raw line feed in a string", "{\"a\":\"b\nc\"}", false},
        {"injected keys", "{}}],\"running\":0,\"injected\":[{\"a\":{}", false},
        {"nested object", "{\"a\":{}}", false},
        {"array value", "{\"a\":[1]}", false},
        {"trailing comma", "{\"a\":1,}", false},
        {"text after the object", "{\"a\":1} x", false},
        {"unterminated string", "{\"a\":\"b}", false},
        {"bad escape", "{\"a\":\"\\q\"}", false},
        {"short unicode escape", "{\"a\":\"\\u12\"}", false},
        {"bare word", "{\"a\":yes}", false},
        {"leading zero", "{\"a\":01}", false},
        {"broken UTF-8", "{\"a\":\"\xff\"}", false},
        {"overlong UTF-8", "{\"a\":\"\xc0\xaf\"}", false},
        {"single quotes", "{'a':'b'}", false},
    };
    for (const auto& c : cases) {
        mdns_clear_services();
        ASSERT_EQ(0, mdns_add_service("_t._tcp", "T", 1, c.txt.c_str())) << c.what;
        const std::string report = mdns_stats();
        nlohmann::json j;
        ASSERT_NO_THROW(j = nlohmann::json::parse(report)) << c.what << ": " << report;
        EXPECT_EQ(1u, j["services"].size()) << c.what;
        EXPECT_EQ(1, j["services_count"]) << c.what;  // no key was overridden
        EXPECT_EQ(0, j["running"]) << c.what;
        EXPECT_FALSE(j.contains("injected")) << c.what;
        const nlohmann::json& txt = j["services"][0]["txt"];
        if (c.inserted) {
            EXPECT_TRUE(txt.is_object()) << c.what;
            EXPECT_EQ(nlohmann::json::parse(c.txt), txt) << c.what;
        } else {
            EXPECT_EQ("{}", txt) << c.what;
        }
    }
}
