// Other hosts' responses fed to the packet handler: what reaches the browse
// cache, and host-name conflicts. Datagrams are made by hand; the cache and
// the host label are read directly.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "browse/cache.h"
#include "core/state.h"
#include "responder/responder.h"
#include "support/response_builder.h"
#include "internal/state_reset.h"
#include "tandrelo_mdns.h"

namespace {

using namespace response_builder;

constexpr std::uint16_t A = 1, PTR = 12, TXT = 16, SRV = 33, AAAA = 28;

plat_addr4 sender_192_168_1_5()
{
    plat_addr4 a;
    a.addr_be = plat_ipv4_addr("192.168.1.5");
    a.port_be = plat_htons(5353);
    return a;
}

// True when another thread can take the lock within a second.
bool lock_is_free()
{
    auto taken = std::async(std::launch::async, [] {
        lock_enter();
        lock_leave();
    });
    return taken.wait_for(std::chrono::seconds(1)) == std::future_status::ready;
}

struct response_test : ::testing::Test {
    void SetUp() override
    {
        lock_init();
        state_reset_for_tests();
        g_browsing = 1;
    }
    static void feed(const bytes& datagram)
    {
        process_incoming(datagram.data(), datagram.size(), sender_192_168_1_5());
        ASSERT_TRUE(lock_is_free());
    }
    static const browse_entry* find(const char* name, std::uint16_t type)
    {
        for (int i = 0; i < g_browse_count; i++) {
            if (g_browse[i].rrtype == type && std::strcmp(g_browse[i].name, name) == 0) return &g_browse[i];
        }
        return nullptr;
    }
};

const bytes peer = encode_name("peer.local");

// One record per case, alone in a response: whether it reaches the cache and
// with what.
struct record_case {
    const char* what;
    bytes record;
    bool cached;
    std::uint16_t type;
    const char* ip;
    int port;
    const char* target;
    const char* txt;
};

TEST_F(response_test, EachKindOfRecordReachesTheCacheWithItsValue)
{
    const std::string long_string(255, 'z');
    const record_case cases[] = {
        {"A, RDLENGTH 4", rr(peer, A, a_rdata(10, 0, 0, 7)), true, A, "10.0.0.7", 0, "", ""},
        {"A, RDLENGTH 16", rr(peer, A, bytes(16, 1)), false, A, "", 0, "", ""},
        {"A, RDLENGTH 3", rr(peer, A, bytes(3, 1)), false, A, "", 0, "", ""},
        {"PTR", rr(peer, PTR, encode_name("Web._http._tcp.local")), true, PTR, "", 0,
         "Web._http._tcp.local", ""},
        {"SRV, RDLENGTH 6 and more", rr(peer, SRV, srv_rdata(8080, encode_name("box.local"))), true,
         SRV, "", 8080, "box.local", ""},
        {"SRV, RDLENGTH 5", rr(peer, SRV, bytes{0, 0, 0, 0, 0x1F}), false, SRV, "", 0, "", ""},
        {"TXT a=1 b=2", rr(peer, TXT, txt_rdata({"a=1", "b=2"})), true, TXT, "", 0, "", "a=1;b=2"},
        {"TXT a, empty, b", rr(peer, TXT, txt_rdata({"a", "", "b"})), true, TXT, "", 0, "", "a;;b"},
        {"TXT one empty string", rr(peer, TXT, bytes{0}), true, TXT, "", 0, "", ""},
        {"TXT string past RDATA", rr(peer, TXT, bytes{3, 'a', '=', '1', 9, 'b'}), true, TXT, "", 0,
         "", "a=1"},
        {"AAAA", rr(peer, AAAA, bytes(16, 1)), false, AAAA, "", 0, "", ""},
        {"PTR target past the end", rr(peer, PTR, bytes{0xC0, 0xFF}), false, PTR, "", 0, "", ""},
    };
    for (const record_case& c : cases) {
        mdns_browse_clear();
        feed(response({c.record}));
        const browse_entry* e = find("peer.local", c.type);
        ASSERT_EQ(c.cached, e != nullptr) << c.what;
        EXPECT_EQ(c.cached ? 1 : 0, g_browse_count) << c.what;
        if (e == nullptr) continue;
        EXPECT_STREQ(c.ip, e->ip) << c.what;
        EXPECT_EQ(c.port, e->port) << c.what;
        EXPECT_STREQ(c.target, e->target) << c.what;
        EXPECT_STREQ(c.txt, e->txt) << c.what;
        EXPECT_STREQ("192.168.1.5", e->from) << c.what;
    }
}

TEST_F(response_test, TxtTextIsCutAt1023Characters)
{
    std::vector<std::string> strings(6, std::string(200, 't'));  // 1205 with the separators
    feed(response({rr(peer, TXT, txt_rdata(strings))}));
    ASSERT_NE(nullptr, find("peer.local", TXT));
    std::string txt = find("peer.local", TXT)->txt;
    EXPECT_EQ(1023u, txt.size());
    EXPECT_EQ(';', txt[200]);
    EXPECT_EQ(';', txt[1004]);
}

TEST_F(response_test, CompressedNamesAreFollowedAnywhereInTheDatagram)
{
    // The owner of the second record and the PTR target point back into the
    // first record's owner (offset 12).
    bytes d = response({rr(encode_name("_http._tcp.local"), PTR, bytes{3, 'W', 'e', 'b', 0xC0, 12})});
    append(d, rr(bytes{0xC0, 12}, TXT, txt_rdata({"k=v"})));
    d[7] = 2;  // ANCOUNT
    feed(d);
    ASSERT_NE(nullptr, find("_http._tcp.local", PTR));
    EXPECT_STREQ("Web._http._tcp.local", find("_http._tcp.local", PTR)->target);
    ASSERT_NE(nullptr, find("_http._tcp.local", TXT));
    EXPECT_STREQ("k=v", find("_http._tcp.local", TXT)->txt);
}

TEST_F(response_test, OnlyAncountRecordsAreRead)
{
    bytes d = response({rr(encode_name("r1.local"), A, a_rdata(10, 0, 0, 1)),
                        rr(encode_name("r2.local"), A, a_rdata(10, 0, 0, 2)),
                        rr(encode_name("r3.local"), A, a_rdata(10, 0, 0, 3)),
                        rr(encode_name("r4.local"), A, a_rdata(10, 0, 0, 4)),
                        rr(encode_name("r5.local"), A, a_rdata(10, 0, 0, 5))});
    d[7] = 2;  // ANCOUNT 2 of five records
    feed(d);
    EXPECT_EQ(2, g_browse_count);
    EXPECT_NE(nullptr, find("r2.local", A));
    EXPECT_EQ(nullptr, find("r3.local", A));
}

TEST_F(response_test, QuestionsAreSkippedAndABadOneStopsEverything)
{
    const bytes answer = rr(peer, A, a_rdata(10, 0, 0, 7));
    bytes with_question = header(1, 1);
    append(with_question, encode_name("peer.local"));
    append(with_question, bytes{0, 1, 0, 1});
    append(with_question, answer);
    feed(with_question);
    EXPECT_NE(nullptr, find("peer.local", A));

    mdns_browse_clear();
    bytes bad_question = header(1, 1);
    append(bad_question, bytes{0x40, 'x'});  // reserved length octet
    append(bad_question, bytes{0, 1, 0, 1});
    append(bad_question, answer);
    feed(bad_question);
    EXPECT_EQ(0, g_browse_count);
}

TEST_F(response_test, RecordsThatPassNothingDoNotStopTheWalk)
{
    feed(response({rr(bytes{0}, A, a_rdata(10, 0, 0, 1)),           // empty owner
                   rr(peer, PTR, bytes{0xC0, 0xFF}),                 // target does not decode
                   rr(encode_name("after.local"), A, a_rdata(10, 0, 0, 2))}));
    EXPECT_EQ(1, g_browse_count);
    EXPECT_NE(nullptr, find("after.local", A));
}

TEST_F(response_test, AResponseWithoutAnswersOrWhileNotBrowsingChangesNothing)
{
    // Records in the additional section alone are cached while browsing (a
    // host's reply that went on in a further message), and nothing else.
    bytes additional_only = header(0, 0, 0, 1);
    append(additional_only, rr(peer, A, a_rdata(10, 0, 0, 7)));
    feed(additional_only);
    EXPECT_EQ(1, g_browse_count);
    mdns_browse_clear();
    bytes nothing = header(1, 0, 0, 0);
    append(nothing, encode_name("peer.local"));
    append(nothing, bytes{0, 1, 0, 1});
    feed(nothing);
    EXPECT_EQ(0, g_browse_count);

    g_browsing = 0;
    feed(additional_only);
    EXPECT_EQ(0, g_browse_count);
    feed(response({rr(peer, PTR, encode_name("x.local")), rr(peer, SRV, srv_rdata(1, encode_name("y.local"))),
                   rr(peer, TXT, txt_rdata({"a=1"}))}));
    EXPECT_EQ(0, g_browse_count);
    EXPECT_STREQ("tandrelo", g_hostname);
}

TEST_F(response_test, OurOwnNameNeverReachesTheCache)
{
    feed(response({rr(encode_name("TANDRELO.local"), A, a_rdata(127, 0, 0, 1)),
                   rr(encode_name("tandrelo.local"), TXT, txt_rdata({"a=1"}))}));
    EXPECT_EQ(0, g_browse_count);
    EXPECT_STREQ("tandrelo", g_hostname);
    EXPECT_EQ(0, g_conflict_count);
}

TEST_F(response_test, AnotherAddressForOurNameRenamesAndStopsTheWalk)
{
    ASSERT_EQ(0, mdns_set_hostname("kitchen"));  // a label the application set is replaced too
    feed(response({rr(encode_name("before.local"), A, a_rdata(10, 0, 0, 1)),
                   rr(encode_name("KITCHEN.LOCAL"), A, a_rdata(10, 0, 0, 9)),
                   rr(encode_name("after.local"), A, a_rdata(10, 0, 0, 2))}));
    EXPECT_STREQ("tandrelo-2", g_hostname);
    EXPECT_EQ(1, g_conflict_count);
    EXPECT_NE(nullptr, find("before.local", A));
    EXPECT_EQ(nullptr, find("after.local", A));  // not read after the conflict

    // The old name is no longer ours; the new one is.
    feed(response({rr(encode_name("kitchen.local"), A, a_rdata(10, 0, 0, 9))}));
    EXPECT_STREQ("tandrelo-2", g_hostname);
    g_browsing = 0;  // conflicts are found whether browsing or not
    feed(response({rr(encode_name("tandrelo-2.local"), A, a_rdata(10, 0, 0, 9)),
                   rr(encode_name("tandrelo-3.local"), A, a_rdata(10, 0, 0, 9))}));
    EXPECT_STREQ("tandrelo-3", g_hostname);  // one rename per datagram
    EXPECT_EQ(2, g_conflict_count);
}

TEST_F(response_test, OurOwnAddressAndTheOneJustReplacedAreNoConflict)
{
    const bytes claims_127 = response({rr(encode_name("tandrelo.local"), A, a_rdata(127, 0, 0, 1))});
    feed(claims_127);
    EXPECT_STREQ("tandrelo", g_hostname);

    lock_enter();
    set_announced_addr_locked("10.1.2.3");
    lock_leave();
    feed(claims_127);  // an echo of what we sent just before the change
    EXPECT_STREQ("tandrelo", g_hostname);
    // An address record without RDLENGTH 4 is no address record at all.
    feed(response({rr(encode_name("tandrelo.local"), A, bytes(16, 9))}));
    EXPECT_STREQ("tandrelo", g_hostname);

    for (announced_addr_record& old : g_addr_history) old.replaced_ms = plat_monotonic_ms() - 2001;  // the window has passed
    feed(claims_127);
    EXPECT_STREQ("tandrelo-2", g_hostname);
}

TEST_F(response_test, TruncatedAndMutatedCopiesAreReadSafely)
{
    bytes good = header(1, 4);
    append(good, encode_name("_http._tcp.local"));  // offset 12
    append(good, bytes{0, 12, 0, 1});
    std::vector<std::size_t> record_ends;
    // The PTR's RDATA starts at 46 with the label Web: the TXT owner points there.
    append(good, rr(bytes{0xC0, 12}, PTR, bytes{3, 'W', 'e', 'b', 0xC0, 12}));
    record_ends.push_back(good.size());
    append(good, rr(encode_name("Web._http._tcp.local"), SRV, srv_rdata(80, encode_name("box.local"))));
    record_ends.push_back(good.size());
    append(good, rr(bytes{0xC0, 46}, TXT, txt_rdata({"a=1", "b=2"})));
    record_ends.push_back(good.size());
    append(good, rr(encode_name("box.local"), A, a_rdata(10, 0, 0, 1)));
    record_ends.push_back(good.size());
    feed(good);
    ASSERT_EQ(4, g_browse_count);
    ASSERT_NE(nullptr, find("Web._http._tcp.local", TXT));
    EXPECT_STREQ("a=1;b=2", find("Web._http._tcp.local", TXT)->txt);

    // Every cut: exactly the records that end before the cut are cached.
    for (std::size_t cut = 12; cut < good.size(); cut++) {
        mdns_browse_clear();
        feed(bytes(good.begin(), good.begin() + static_cast<long>(cut)));
        int complete = 0;
        for (std::size_t end : record_ends) complete += end <= cut ? 1 : 0;
        EXPECT_EQ(complete, g_browse_count) << "cut at " << cut;
    }
    // Every byte flipped in turn: nothing is read outside the datagram (a
    // sanitizer build shows it), and the walk always ends.
    for (std::size_t at = 2; at < good.size(); at++) {
        for (std::uint8_t value : {0x00, 0x3F, 0x40, 0xC0, 0xFF}) {
            mdns_browse_clear();
            bytes mutated = good;
            mutated[at] = value;
            feed(mutated);
            EXPECT_LE(g_browse_count, 4) << at;
        }
    }
}

}  // namespace
