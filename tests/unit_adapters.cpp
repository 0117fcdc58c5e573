// The adapter filter, the choice of the best adapter and the interface
// report, from small hand-made adapter lists; and the checks of
// mdns_set_interface that need no adapter of this host.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "core/state.h"
#include "core/text.h"
#include "net/adapters.h"
#include "net/interfaces.h"
#include "tandrelo_mdns.h"
#if defined(_WIN32)
#include "platform/win32/adapters.h"
#endif

namespace {

struct fake_adapter {
    const char* name;
    bool up;
    bool loopback;
    std::vector<const char*> addresses;
    const char* gateway;  // nullptr: none
};

plat_adapter_raw make_raw(const fake_adapter& f)
{
    plat_adapter_raw r;
    std::memset(&r, 0, sizeof r);
    std::snprintf(r.name, sizeof r.name, "%s", f.name);
    r.oper_up = f.up;
    r.software_loopback = f.loopback;
    for (const char* a : f.addresses) {
        EXPECT_EQ(1, plat_ipv4_parse(a, &r.ipv4_be[r.ipv4_count])) << a;
        r.ipv4_count++;
    }
    if (f.gateway != nullptr) {
        r.has_gateway = 1;
        EXPECT_EQ(1, plat_ipv4_parse(f.gateway, &r.gateway_be)) << f.gateway;
    }
    return r;
}

std::vector<adapter_entry> filter(const std::vector<fake_adapter>& fakes)
{
    std::vector<plat_adapter_raw> raw;
    for (const auto& f : fakes) raw.push_back(make_raw(f));
    std::vector<adapter_entry> list(max_adapters);
    int n = filter_adapters(raw.data(), static_cast<int>(raw.size()), list.data());
    EXPECT_GE(n, 0);
    EXPECT_LE(n, max_adapters);
    list.resize(static_cast<std::size_t>(n));
    return list;
}

adapter_entry entry(const std::string& ip, const std::string& name, const std::string& gateway)
{
    adapter_entry e;
    std::memset(&e, 0, sizeof e);
    std::snprintf(e.ip, sizeof e.ip, "%s", ip.c_str());
    std::snprintf(e.name, sizeof e.name, "%s", name.c_str());
    std::snprintf(e.gateway, sizeof e.gateway, "%s", gateway.c_str());
    e.up = 1;
    e.loopback = 0;
    return e;
}

std::string render(const std::vector<adapter_entry>& list)
{
    std::vector<char> buffer(ifaces_buffer_size, 'x');
    std::size_t len = render_interfaces_json(list.data(), static_cast<int>(list.size()),
                                             buffer.data(), buffer.size());
    EXPECT_EQ(std::strlen(buffer.data()), len);
    return std::string(buffer.data());
}

}  // namespace

// ---- filter -----------------------------------------------------------------------

struct filter_case {
    const char* what;
    std::vector<fake_adapter> raw;
    std::vector<std::vector<std::string>> expected;  // ip, name, gateway
};

TEST(FilterAdapters, KeepsTheFirstUsableAddressOfUpNonLoopbackAdapters)
{
    const std::vector<filter_case> cases = {
        {"link-local first, then usable", {{"eth0", true, false, {"169.254.10.20", "192.168.1.5"}, nullptr}},
         {{"192.168.1.5", "eth0", ""}}},
        {"only link-local", {{"eth0", true, false, {"169.254.10.20"}, "169.254.0.1"}}, {}},
        {"down", {{"eth0", false, false, {"192.168.1.5"}, "192.168.1.1"}}, {}},
        {"loopback adapter", {{"lo", true, true, {"127.0.0.1"}, nullptr}}, {}},
        {"loopback adapter with an ordinary address", {{"lo", true, true, {"10.0.0.1"}, nullptr}}, {}},
        {"127.0.1.1 on an ordinary adapter", {{"eth0", true, false, {"127.0.1.1"}, nullptr}}, {}},
        {"127.0.1.1 then usable", {{"eth0", true, false, {"127.0.1.1", "10.0.0.7"}, nullptr}},
         {{"10.0.0.7", "eth0", ""}}},
        {"no IPv4 address", {{"eth0", true, false, {}, "10.0.0.1"}}, {}},
        {"second usable address not looked at",
         {{"eth0", true, false, {"10.0.0.7", "10.0.0.8"}, "10.0.0.1"}},
         {{"10.0.0.7", "eth0", "10.0.0.1"}}},
        // Only the first four or eight characters decide: 127x and 169.2540 do not.
        {"prefix must match whole", {{"eth0", true, false, {"169.25.1.1"}, nullptr}},
         {{"169.25.1.1", "eth0", ""}}},
        {"empty list", {}, {}},
        {"system order kept, unusable ones dropped",
         {{"a", true, false, {"10.1.0.1"}, nullptr},
          {"b", false, false, {"10.2.0.1"}, "10.2.0.254"},
          {"lo", true, true, {"127.0.0.1"}, nullptr},
          {"c", true, false, {"169.254.3.3"}, nullptr},
          {"d", true, false, {"10.4.0.1"}, "10.4.0.254"},
          {"e", true, false, {"172.16.0.9"}, nullptr}},
         {{"10.1.0.1", "a", ""}, {"10.4.0.1", "d", "10.4.0.254"}, {"172.16.0.9", "e", ""}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto list = filter(c.raw);
        ASSERT_EQ(c.expected.size(), list.size());
        for (std::size_t i = 0; i < list.size(); i++) {
            EXPECT_STREQ(c.expected[i][0].c_str(), list[i].ip);
            EXPECT_STREQ(c.expected[i][1].c_str(), list[i].name);
            EXPECT_STREQ(c.expected[i][2].c_str(), list[i].gateway);
            EXPECT_EQ(1, list[i].up);
            EXPECT_EQ(0, list[i].loopback);
        }
    }
}

TEST(FilterAdapters, ListsAtMost32InSystemOrder)
{
    std::vector<plat_adapter_raw> raw;
    for (int i = 0; i < 40; i++) {
        std::string name = "eth" + std::to_string(i);
        std::string ip = "10.0." + std::to_string(i) + ".1";
        raw.push_back(make_raw({name.c_str(), true, false, {ip.c_str()}, nullptr}));
    }
    // Guard entries past the 32 that the filter may fill.
    std::vector<adapter_entry> list(max_adapters + 1);
    std::memset(&list[max_adapters], 0x5A, sizeof(adapter_entry));
    ASSERT_EQ(32, filter_adapters(raw.data(), 40, list.data()));
    for (int i = 0; i < 32; i++) EXPECT_EQ("10.0." + std::to_string(i) + ".1", list[i].ip);
    EXPECT_EQ(0x5A, static_cast<unsigned char>(list[max_adapters].ip[0]));
}

TEST(FilterAdapters, LongestNameIsKeptWhole)
{
    std::string name(127, 'n');
    auto list = filter({{name.c_str(), true, false, {"10.0.0.1"}, nullptr}});
    ASSERT_EQ(1u, list.size());
    EXPECT_EQ(name, list[0].name);
}

#if defined(_WIN32)
TEST(FriendlyName, CutTo127BytesAndEndsBeforeTheFirstWideCharacter)
{
    char out[128];
    std::wstring long_name(200, L'a');
    win32_narrow_friendly_name(long_name.c_str(), out, sizeof out);
    EXPECT_EQ(std::string(127, 'a'), out);

    struct name_case {
        std::wstring wide;
        std::string narrow;
    };
    const std::vector<name_case> cases = {
        {L"Ethernet 2", "Ethernet 2"},
        {L"Caf\u00e9", "Caf\xe9"},            // up to 255: the byte of the same value
        {L"LAN \u0394 x", "LAN "},             // above 255: the name ends before it
        {L"Wi\xd83d\xde00", "Wi"},             // a surrogate pair ends it too
        {L"", ""},
    };
    for (const auto& c : cases) {
        win32_narrow_friendly_name(c.wide.c_str(), out, sizeof out);
        EXPECT_EQ(c.narrow, out);
    }
}
#endif

// ---- choice -----------------------------------------------------------------------

TEST(PickBest, FirstWithAGatewayElseTheFirst)
{
    struct pick_case {
        const char* what;
        std::vector<adapter_entry> list;
        const char* chosen_ip;
    };
    const std::vector<pick_case> cases = {
        {"second has the gateway",
         {entry("10.1.0.1", "a", ""), entry("10.2.0.1", "b", "10.2.0.254")}, "10.2.0.1"},
        {"two with gateways: the first of them",
         {entry("10.1.0.1", "a", ""), entry("10.2.0.1", "b", "10.2.0.254"),
          entry("10.3.0.1", "c", "10.3.0.254")},
         "10.2.0.1"},
        {"no gateway: the first", {entry("10.1.0.1", "a", ""), entry("10.2.0.1", "b", "")},
         "10.1.0.1"},
        {"one adapter", {entry("192.168.7.2", "a", "")}, "192.168.7.2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        adapter_entry out;
        std::memset(&out, 0, sizeof out);
        ASSERT_EQ(1, pick_best_from(c.list.data(), static_cast<int>(c.list.size()), &out));
        EXPECT_STREQ(c.chosen_ip, out.ip);
    }
}

TEST(PickBest, EmptyListLeavesOutUntouched)
{
    adapter_entry out = entry("1.2.3.4", "keep", "5.6.7.8");
    EXPECT_EQ(0, pick_best_from(nullptr, 0, &out));
    EXPECT_STREQ("1.2.3.4", out.ip);
    EXPECT_STREQ("keep", out.name);
}

// ---- report -----------------------------------------------------------------------

TEST(InterfaceReport, ExactText)
{
    EXPECT_EQ("[]", render({}));
    EXPECT_EQ("[{\"ip\":\"192.168.1.5\",\"name\":\"Ethernet\",\"gateway\":\"192.168.1.1\","
              "\"up\":1,\"loopback\":0},"
              "{\"ip\":\"10.0.0.7\",\"name\":\"Wi-Fi 2\",\"gateway\":\"\",\"up\":1,\"loopback\":0}]",
              render({entry("192.168.1.5", "Ethernet", "192.168.1.1"),
                      entry("10.0.0.7", "Wi-Fi 2", "")}));
}

TEST(InterfaceReport, NamesAreEscapedIntoValidJson)
{
    const std::vector<std::pair<std::string, std::string>> names = {
        // as the adapter reports it, as a JSON parser reads it back
        {"say \"hi\"", "say \"hi\""},
        {"back\\slash", "back\\slash"},
        {"tab\there\nnew\x01\x1f\x7f", "tab\there\nnew\x01\x1f\x7f"},
        {"Caf\xe9", "Caf\xc3\xa9"},                // a Latin-1 byte becomes U+00E9
        {"\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9"},  // valid UTF-8 stays
    };
    std::vector<adapter_entry> list;
    for (std::size_t i = 0; i < names.size(); i++) {
        list.push_back(entry("10.0.0." + std::to_string(i + 1), names[i].first, ""));
    }
    std::string text = render(list);
    EXPECT_NE(std::string::npos, text.find("\"name\":\"say \\\"hi\\\"\""));
    EXPECT_NE(std::string::npos, text.find("\"name\":\"back\\\\slash\""));
    nlohmann::json report = nlohmann::json::parse(text);
    ASSERT_EQ(names.size(), report.size());
    for (std::size_t i = 0; i < names.size(); i++) {
        EXPECT_EQ(names[i].second, report[i]["name"].get<std::string>()) << i;
    }
}

// Names of 127 control characters escape to 762 characters each, so 32 such
// adapters cannot all fit the 8 KB report: whole entries are left out, the
// array stays valid, and a later short entry still gets in.
TEST(InterfaceReport, EntriesThatDoNotFitAreLeftOutWhole)
{
    std::string worst(127, '\x01');
    std::vector<adapter_entry> list;
    for (int i = 0; i < max_adapters - 1; i++) {
        list.push_back(entry("10.0.0." + std::to_string(i + 1), worst, "255.255.255.255"));
    }
    list.push_back(entry("10.9.9.9", "short", ""));
    std::string text = render(list);
    EXPECT_LE(text.size(), ifaces_buffer_size - 2);
    nlohmann::json report = nlohmann::json::parse(text);
    ASSERT_GE(report.size(), 2u);
    ASSERT_LT(report.size(), list.size());
    for (std::size_t i = 0; i + 1 < report.size(); i++) {
        EXPECT_EQ("10.0.0." + std::to_string(i + 1), report[i]["ip"].get<std::string>());
        EXPECT_EQ(worst, report[i]["name"].get<std::string>());
    }
    EXPECT_EQ("10.9.9.9", report.back()["ip"].get<std::string>());
}

// Builds a report fixture entry by entry, each of an exact rendered length:
// a name of p plain characters and q double quotes adds p + 2q characters.
struct sized_report {
    std::vector<adapter_entry> list;
    std::size_t len = 1;  // running length of the report, "[" included
    std::size_t empty_entry = 0;

    sized_report()
    {
        std::string one = render({entry("10.0.100.1", "", "")});
        empty_entry = one.size() - 2;
    }
    std::size_t shortest() const { return empty_entry + (list.empty() ? 0 : 1); }
    std::size_t longest() const { return shortest() + 2 * 127; }
    void add(std::size_t length)
    {
        std::size_t extra = length - shortest();
        std::size_t quotes = extra > 127 ? extra - 127 : 0;
        std::string name = std::string(extra - 2 * quotes, 'n') + std::string(quotes, '"');
        list.push_back(entry("10.0." + std::to_string(100 + list.size()) + ".1", name, ""));
        len += length;
    }
};

// The running length may grow to 8189, so that it, the closing bracket and the
// terminator stay one byte below the 8192 of the buffer.
TEST(InterfaceReport, AdmissionBoundIsExact)
{
    for (int over : {0, 1}) {
        SCOPED_TRACE(over);
        sized_report r;
        const std::size_t bound = 8191 - 2;
        r.add(r.longest());
        while (bound - r.len > r.longest()) {
            r.add(std::min(r.longest(), bound - r.len - (r.shortest() + 1)));
        }
        std::size_t last = r.list.size();
        r.add(bound - r.len + over);  // ends exactly at the bound, or one past it
        std::string text = render(r.list);
        nlohmann::json report = nlohmann::json::parse(text);
        if (over == 0) {
            EXPECT_EQ(bound + 1, text.size());
            ASSERT_EQ(r.list.size(), report.size());
        } else {
            ASSERT_EQ(r.list.size() - 1, report.size());
            for (const auto& e : report) EXPECT_NE(r.list[last].ip, e["ip"].get<std::string>());
        }
    }
}

// ---- selection checks that need no adapter ------------------------------------------

TEST(SetInterface, EmptyOrNullReturnsToAutomatic)
{
    for (const char* address : {static_cast<const char*>(nullptr), ""}) {
        text_copy(g_selected_if, sizeof g_selected_if, "10.0.0.7");
        set_last_error("earlier message");
        EXPECT_EQ(0, mdns_set_interface(address));
        EXPECT_STREQ("", g_selected_if);
        EXPECT_STREQ("earlier message", mdns_last_error());
    }
}

TEST(SetInterface, TextThatIsNotAnAddressIsRefused)
{
    text_copy(g_selected_if, sizeof g_selected_if, "10.0.0.7");
    for (const char* address : {"256.1.1.1", "192.168.1", "1.2.3.4.5", "::1", "abc", " 1.2.3.4",
                                "1.2.3.4 ", "1.2.3.-4"}) {
        SCOPED_TRACE(address);
        set_last_error("");
        EXPECT_EQ(-1, mdns_set_interface(address));
        EXPECT_STREQ("Invalid interface IPv4 address format", mdns_last_error());
        EXPECT_STREQ("10.0.0.7", g_selected_if);
    }
}

TEST(SetInterface, LoopbackIsNeverAnActiveAdapter)
{
    text_copy(g_selected_if, sizeof g_selected_if, "10.0.0.7");
    EXPECT_EQ(-1, mdns_set_interface("127.0.0.1"));
    EXPECT_STREQ("Interface 127.0.0.1 is not an active non-loopback adapter", mdns_last_error());
    EXPECT_STREQ("10.0.0.7", g_selected_if);
}
