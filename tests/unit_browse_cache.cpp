// The browse cache: keys, updates, replacement of the stalest entry, and the
// JSON report, checked as exact text and through a strict JSON parser.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>
#include <string>

#include "browse/question.h"
#include "browse/cache.h"
#include "core/state.h"
#include "platform/platform.h"
#include "internal/state_reset.h"
#include "tandrelo_mdns.h"

namespace {

constexpr std::uint16_t A = 1, PTR = 12, TXT = 16, SRV = 33;

struct browse_cache : ::testing::Test {
    void SetUp() override
    {
        lock_init();
        state_reset_for_tests();
    }
    static std::string report() { return mdns_browse_results(); }
    static nlohmann::json parsed() { return nlohmann::json::parse(report()); }
};

TEST_F(browse_cache, EmptyTableReportsTheEmptyArray)
{
    EXPECT_EQ("[]", report());
    EXPECT_EQ(0, g_browse_count);
}

TEST_F(browse_cache, KeyIsTheNameIgnoringCaseTogetherWithTheType)
{
    browse_upsert("Printer.local", PTR, nullptr, 0, "a.local", nullptr, "10.0.0.1");
    g_browse[0].last_seen = 1000;  // long ago
    browse_upsert("printer.LOCAL", PTR, nullptr, 0, "b.local", nullptr, "10.0.0.2");
    ASSERT_EQ(1, g_browse_count);
    EXPECT_STREQ("Printer.local", g_browse[0].name);  // the first answer's letter case stays
    EXPECT_STREQ("b.local", g_browse[0].target);      // the later target wins
    EXPECT_STREQ("10.0.0.2", g_browse[0].from);
    EXPECT_GE(g_browse[0].last_seen, plat_time_seconds() * 1000 - 1000);
    EXPECT_EQ(0u, g_browse[0].last_seen % 1000);

    browse_upsert("Printer.local", TXT, nullptr, 0, nullptr, "a=1", "10.0.0.1");
    browse_upsert("Printer.local", SRV, nullptr, 631, "host.local", nullptr, "10.0.0.1");
    EXPECT_EQ(3, g_browse_count);
    EXPECT_EQ(TXT, g_browse[1].rrtype);
    EXPECT_EQ(SRV, g_browse[2].rrtype);
}

TEST_F(browse_cache, AnUpdateOnlyEverAddsValues)
{
    browse_upsert("h.local", A, "10.0.0.5", 0, nullptr, nullptr, "10.0.0.9");
    browse_upsert("s.local", SRV, nullptr, 8080, "t.local", nullptr, "10.0.0.9");
    browse_upsert("t.local", TXT, nullptr, 0, nullptr, "k=v", "10.0.0.9");
    // Updates that bring nothing for a field: null, empty text, port 0.
    browse_upsert("h.local", A, "", 0, nullptr, nullptr, "");
    browse_upsert("h.local", A, nullptr, 0, nullptr, nullptr, "");
    browse_upsert("s.local", SRV, nullptr, 0, "", nullptr, "");
    browse_upsert("s.local", SRV, nullptr, 0, nullptr, nullptr, "");
    browse_upsert("t.local", TXT, nullptr, 0, nullptr, "", "");
    ASSERT_EQ(3, g_browse_count);
    EXPECT_STREQ("10.0.0.5", g_browse[0].ip);
    EXPECT_EQ(8080, g_browse[1].port);
    EXPECT_STREQ("t.local", g_browse[1].target);
    EXPECT_STREQ("k=v", g_browse[2].txt);
    for (int i = 0; i < 3; i++) EXPECT_STREQ("10.0.0.9", g_browse[i].from) << i;
    // A new port replaces the old one.
    browse_upsert("s.local", SRV, nullptr, 9090, nullptr, nullptr, "10.0.0.8");
    EXPECT_EQ(9090, g_browse[1].port);
}

TEST_F(browse_cache, AnEmptyNameDoesNothing)
{
    browse_upsert("", A, "10.0.0.5", 0, nullptr, nullptr, "10.0.0.9");
    EXPECT_EQ(0, g_browse_count);
    EXPECT_EQ("[]", report());
}

TEST_F(browse_cache, LongValuesAreCutToTheirFields)
{
    const std::string long_text(3000, 'x');
    browse_upsert(long_text.c_str(), TXT, long_text.c_str(), 0, long_text.c_str(), long_text.c_str(),
                  long_text.c_str());
    const browse_entry& e = g_browse[0];
    EXPECT_EQ(511u, std::strlen(e.name));
    EXPECT_EQ(63u, std::strlen(e.ip));
    EXPECT_EQ(511u, std::strlen(e.target));
    EXPECT_EQ(1023u, std::strlen(e.txt));
    EXPECT_EQ(63u, std::strlen(e.from));
}

TEST_F(browse_cache, AFullTableGivesUpItsStalestEntry)
{
    for (int i = 0; i < browse_capacity; i++) {
        std::string name = "n" + std::to_string(i) + ".local";
        browse_upsert(name.c_str(), A, "10.0.0.1", 0, nullptr, nullptr, "10.0.0.9");
    }
    ASSERT_EQ(browse_capacity, g_browse_count);
    for (int i = 0; i < browse_capacity; i++) g_browse[i].last_seen = 5000;
    g_browse[17].last_seen = 4000;
    g_browse[200].last_seen = 4000;

    browse_upsert("new.local", PTR, nullptr, 0, "t.local", nullptr, "10.0.0.7");
    EXPECT_EQ(browse_capacity, g_browse_count);
    EXPECT_STREQ("new.local", g_browse[17].name);  // the lower of the two stalest
    EXPECT_EQ(PTR, g_browse[17].rrtype);
    EXPECT_STREQ("", g_browse[17].ip);  // the slot starts from zeros
    EXPECT_STREQ("n200.local", g_browse[200].name);

    // All seen in the same second: slot 0 goes.
    for (int i = 0; i < browse_capacity; i++) g_browse[i].last_seen = 5000;
    browse_upsert("newer.local", PTR, nullptr, 0, "t.local", nullptr, "10.0.0.7");
    EXPECT_STREQ("newer.local", g_browse[0].name);
    EXPECT_EQ(browse_capacity, g_browse_count);
}

TEST_F(browse_cache, ReportIsExactText)
{
    browse_upsert("web._http._tcp.local", SRV, nullptr, 8080, "box.local", nullptr, "192.168.1.5");
    browse_upsert("box.local", A, "192.168.1.5", 0, nullptr, nullptr, "192.168.1.5");
    g_browse[0].last_seen = 1700000000000ull;
    g_browse[1].last_seen = 1700000001000ull;
    EXPECT_EQ("[{\"name\":\"web._http._tcp.local\",\"rrtype\":33,\"ip\":\"\",\"port\":8080,"
              "\"target\":\"box.local\",\"txt\":\"\",\"from\":\"192.168.1.5\","
              "\"last_seen\":1700000000000},"
              "{\"name\":\"box.local\",\"rrtype\":1,\"ip\":\"192.168.1.5\",\"port\":0,"
              "\"target\":\"\",\"txt\":\"\",\"from\":\"192.168.1.5\",\"last_seen\":1700000001000}]",
              report());
}

// Texts that came off the wire from another host: every field is escaped,
// and a strict parser gets each one back. Bytes that are not valid UTF-8
// come back as the code point of the same number.
struct hostile_case {
    const char* what;
    std::string raw;
    std::string parsed;
};

TEST_F(browse_cache, EveryTextFieldIsEscapedAndRoundTrips)
{
    const hostile_case cases[] = {
        {"quote and backslash", "a\"b\\c", "a\"b\\c"},
        {"control bytes", "tab\tnl\ncr\r\x01\x1f\x7f", "tab\tnl\ncr\r\x01\x1f\x7f"},
        {"valid UTF-8", "caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},
        {"invalid UTF-8", "x\xff\xc3y", "x\xc3\xbf\xc3\x83y"},
        {"JSON breaker", "\",\"rrtype\":99,\"x\":\"", "\",\"rrtype\":99,\"x\":\""},
    };
    for (const hostile_case& c : cases) {
        mdns_browse_clear();
        const char* s = c.raw.c_str();
        browse_upsert(s, TXT, s, 0, s, s, s);
        nlohmann::json j;
        ASSERT_NO_THROW(j = parsed()) << c.what << ": " << report();
        ASSERT_EQ(1u, j.size()) << c.what;
        for (const char* key : {"name", "ip", "target", "txt", "from"}) {
            EXPECT_EQ(c.parsed, j[0][key].get<std::string>()) << c.what << " " << key;
        }
        EXPECT_EQ(16, j[0]["rrtype"].get<int>()) << c.what;
    }
    // One backslash in front of each quote and backslash, as text.
    mdns_browse_clear();
    browse_upsert("q.local", TXT, nullptr, 0, nullptr, "say \"hi\" \\o/", "10.0.0.1");
    EXPECT_NE(std::string::npos, report().find("\"txt\":\"say \\\"hi\\\" \\\\o/\""));
}

TEST_F(browse_cache, EntryLongerThan1023CharactersOnceEscapedIsReportedWhole)
{
    const std::string name(511, '\\');
    const std::string target(511, '"');
    const std::string txt(1023, '\x01');
    browse_upsert(name.c_str(), SRV, "10.0.0.1", 1, target.c_str(), txt.c_str(), "10.0.0.2");
    nlohmann::json j = parsed();
    ASSERT_EQ(1u, j.size());
    EXPECT_EQ(name, j[0]["name"].get<std::string>());
    EXPECT_EQ(target, j[0]["target"].get<std::string>());
    EXPECT_EQ(txt, j[0]["txt"].get<std::string>());
}

TEST_F(browse_cache, LongEntriesAreAllReported)
{
    // Each of these grows to about 2 100 characters.
    const std::string quotes(1023, '"');
    for (int i = 0; i < 8; i++) {
        std::string name = "big" + std::to_string(i) + ".local";
        browse_upsert(name.c_str(), TXT, nullptr, 0, nullptr, quotes.c_str(), "10.0.0.1");
    }
    browse_upsert("small.local", A, "10.0.0.3", 0, nullptr, nullptr, "10.0.0.1");
    std::string text = report();
    EXPECT_GT(text.size(), 16383u);  // more than a report of 16 KB could hold
    nlohmann::json j = nlohmann::json::parse(text);
    ASSERT_EQ(9u, j.size());
    EXPECT_EQ("big7.local", j[7]["name"].get<std::string>());
    EXPECT_EQ("small.local", j[8]["name"].get<std::string>());
    EXPECT_EQ(quotes, j[0]["txt"].get<std::string>());
}

TEST_F(browse_cache, AFullTableOfLongestHostileEntriesStillGivesValidJson)
{
    const std::string name(511, '\x02');
    const std::string txt(1023, '\xff');
    for (int i = 0; i < browse_capacity; i++) {
        browse_upsert(name.c_str(), static_cast<std::uint16_t>(i + 100), "\"\"\"", 65535,
                      name.c_str(), txt.c_str(), "\\\\\\");
    }
    ASSERT_EQ(browse_capacity, g_browse_count);
    std::string text = report();
    EXPECT_LT(text.size(), sizeof g_browse_buffer);
    nlohmann::json j;
    ASSERT_NO_THROW(j = nlohmann::json::parse(text));
    ASSERT_GE(j.size(), 1u);  // the first entry always fits
    EXPECT_EQ(100, j[0]["rrtype"].get<int>());
    // Every entry is there: the buffer holds a full table at its largest.
    ASSERT_EQ(static_cast<std::size_t>(browse_capacity), j.size());
    EXPECT_EQ(100 + browse_capacity - 1, j[browse_capacity - 1]["rrtype"].get<int>());
}

TEST_F(browse_cache, ClearEmptiesTheTableWhileBrowsingGoesOn)
{
    g_browsing = 1;
    browse_upsert("a.local", A, "10.0.0.1", 0, nullptr, nullptr, "10.0.0.9");
    browse_upsert("b.local", A, "10.0.0.2", 0, nullptr, nullptr, "10.0.0.9");
    EXPECT_EQ(MDNS_OK, mdns_browse_clear());
    EXPECT_EQ(0, g_browse_count);
    EXPECT_EQ("[]", report());
    EXPECT_EQ(1, g_browsing.load());
    browse_upsert("b.local", A, "10.0.0.2", 0, nullptr, nullptr, "10.0.0.9");
    EXPECT_EQ(1, g_browse_count);
    EXPECT_STREQ("10.0.0.2", g_browse[0].ip);  // slot 0 again, no stale values
    EXPECT_STREQ("b.local", g_browse[0].name);
}

TEST_F(browse_cache, TheSeedIsThe46ByteEnumerationQuestion)
{
    const std::uint8_t expected[] = {
        0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0,  // ID 0, flags 0, QDCOUNT 1
        9, '_', 's', 'e', 'r', 'v', 'i', 'c', 'e', 's', 7, '_', 'd', 'n', 's', '-', 's', 'd',
        4, '_', 'u', 'd', 'p', 5, 'l', 'o', 'c', 'a', 'l', 0,
        0x00, 0x0C,  // PTR
        0x00, 0x01,  // IN, unicast-response bit clear
    };
    std::uint8_t seed[browse_seed_buffer_size];
    ASSERT_EQ(sizeof expected, browse_build_seed(seed));
    EXPECT_EQ(0, std::memcmp(expected, seed, sizeof expected));
}

}  // namespace
