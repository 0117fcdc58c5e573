// The browser's follow-up questions, from hand-made responses: which names
// each kind of record leads to, what is not asked, the bounds, and the
// goodbyes that remove cached answers.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "browse/cache.h"
#include "core/state.h"
#include "internal/state_reset.h"
#include "responder/responder.h"
#include "support/response_builder.h"
#include "tandrelo_mdns.h"

namespace {

using namespace response_builder;

constexpr std::uint16_t A = 1, PTR = 12, TXT = 16, SRV = 33;
const bytes enumeration = encode_name("_services._dns-sd._udp.local");

struct followup_test : ::testing::Test {
    void SetUp() override
    {
        lock_init();
        state_reset_for_tests();
        g_browsing = 1;
    }

    // The questions the datagram leads to, as "name type" in order, and the
    // number of messages that carry them.
    static std::vector<std::string> questions_for(const bytes& d, int* messages = nullptr)
    {
        response_outcome outcome;
        response_outcome_begin(outcome);
        dns_header h;
        EXPECT_EQ(1, dns_read_header(d.data(), d.size(), h));
        plat_addr4 from;
        from.addr_be = plat_ipv4_addr("10.0.0.9");
        from.port_be = plat_htons(5353);
        lock_enter();
        read_answers_locked(d.data(), d.size(), from, h, outcome);
        lock_leave();
        std::vector<std::string> out;
        for (int m = 0; m < outcome.followups.messages; m++) {
            const bytes msg(outcome.followups.message[m],
                            outcome.followups.message[m] + outcome.followups.length[m]);
            EXPECT_LE(msg.size(), 4096u);
            EXPECT_EQ(0, be16(msg, 0));  // ID
            EXPECT_EQ(0, be16(msg, 2));  // a standard query
            std::size_t at = 12;
            for (int q = 0; q < be16(msg, 4); q++) {
                const std::string name = decode_name(msg, at);
                at += encode_name(name).size();
                EXPECT_EQ(1, be16(msg, at + 2)) << "QM: class IN, unicast bit clear";
                out.push_back(name + " " + std::to_string(be16(msg, at)));
                at += 4;
            }
            EXPECT_EQ(msg.size(), at);
        }
        if (messages != nullptr) *messages = outcome.followups.messages;
        return out;
    }
};

using list = std::vector<std::string>;

TEST_F(followup_test, EachKindOfAnswerLeadsToItsQuestions)
{
    const struct {
        const char* what;
        bytes datagram;
        list asked;
    } cases[] = {
        {"types named by the enumeration answers",
         response({rr(enumeration, PTR, encode_name("_http._tcp.local")),
                   rr(enumeration, PTR, encode_name("_ipp._tcp.local"))}),
         {"_http._tcp.local 12", "_ipp._tcp.local 12"}},
        {"an instance named by its type",
         response({rr(encode_name("_http._tcp.local"), PTR, encode_name("Web._http._tcp.local"))}),
         {"Web._http._tcp.local 33", "Web._http._tcp.local 16"}},
        {"an instance named by a subtype",
         response({rr(encode_name("_p._sub._http._tcp.local"), PTR, encode_name("P._http._tcp.local"))}),
         {"P._http._tcp.local 33", "P._http._tcp.local 16"}},
        {"the target host of an SRV record",
         response({rr(encode_name("Web._http._tcp.local"), SRV, srv_rdata(80, encode_name("box.local")))}),
         {"box.local 1"}},
        {"a PTR whose owner is no service type",
         response({rr(encode_name("9.0.0.10.in-addr.arpa"), PTR, encode_name("box.local"))}),
         {}},
        {"records that answer everything already",
         header(0, 1, 0, 3) + rr(encode_name("_http._tcp.local"), PTR, encode_name("Web._http._tcp.local")) +
             rr(encode_name("Web._http._tcp.local"), SRV, srv_rdata(80, encode_name("box.local"))) +
             rr(encode_name("Web._http._tcp.local"), TXT, txt_rdata({"a=1"})) +
             rr(encode_name("box.local"), A, a_rdata(10, 0, 0, 7)),
         {}},
    };
    for (const auto& c : cases) {
        state_reset_for_tests();
        g_browsing = 1;
        EXPECT_EQ(c.asked, questions_for(c.datagram)) << c.what;
    }
}

TEST_F(followup_test, OurOwnNamesAreNeverAskedAbout)
{
    ASSERT_EQ(0, mdns_add_service("_http._tcp", "Mine", 80, nullptr));
    const bytes d = response({
        rr(enumeration, PTR, encode_name("_http._tcp.local")),
        rr(encode_name("_http._tcp.local"), PTR, encode_name("Mine._http._tcp.local")),
        rr(encode_name("Other._http._tcp.local"), SRV, srv_rdata(80, encode_name("tandrelo.local"))),
    });
    EXPECT_EQ(list{}, questions_for(d));
}

TEST_F(followup_test, ANameIsAskedOnceAndNothingWhileNotBrowsing)
{
    const bytes d = response({rr(enumeration, PTR, encode_name("_http._tcp.local")),
                              rr(enumeration, PTR, encode_name("_HTTP._tcp.local"))});
    EXPECT_EQ(list{"_http._tcp.local 12"}, questions_for(d));  // once, whatever the case
    EXPECT_EQ(list{}, questions_for(d));                       // not again within 30 s
    lock_enter();
    followup_forget_locked();  // as a new start does
    lock_leave();
    g_browsing = 0;
    EXPECT_EQ(list{}, questions_for(d));
    g_browsing = 1;
    EXPECT_EQ(list{"_http._tcp.local 12"}, questions_for(d));
}

TEST_F(followup_test, AFloodOfNamesStaysWithinItsBounds)
{
    // A datagram of 9000 bytes naming about 400 types: at most 64 are noted,
    // in at most two messages.
    bytes flood = header(0, 0) + rr(enumeration, PTR, encode_name("_t0._tcp.local"));
    std::uint16_t count = 1;
    while (flood.size() < 8900) {  // the owner points to the first one's
        flood = flood + rr(bytes{0xC0, 12}, PTR, encode_name("_t" + std::to_string(count) + "._tcp.local"));
        count++;
    }
    flood[6] = static_cast<std::uint8_t>(count >> 8);
    flood[7] = static_cast<std::uint8_t>(count);
    int messages = 0;
    const list asked = questions_for(flood, &messages);
    EXPECT_EQ(64u, asked.size());
    EXPECT_LE(messages, 2);
    EXPECT_EQ(1, g_browse_count);  // the cache holds one PTR per owner

    // Datagram after datagram of new names: at most 20 messages in a second.
    int total = 0;
    for (int i = 0; i < 40; i++) {
        const bytes d = response({rr(enumeration, PTR, encode_name("_n" + std::to_string(i) + "._tcp.local"))});
        questions_for(d, &messages);
        total += messages;
    }
    EXPECT_LE(total, 20);
}

TEST_F(followup_test, AGoodbyeRemovesTheAnswerItRepeatsAndKeepsTheOrder)
{
    const bytes instance = encode_name("Web._http._tcp.local");
    questions_for(response({
        rr(encode_name("a.local"), A, a_rdata(10, 0, 0, 1)),
        rr(encode_name("_http._tcp.local"), PTR, instance),
        rr(instance, SRV, srv_rdata(80, encode_name("a.local"))),
        rr(instance, TXT, txt_rdata({"k=v"})),
        rr(encode_name("b.local"), A, a_rdata(10, 0, 0, 2)),
    }));
    ASSERT_EQ(5, g_browse_count);

    questions_for(response({
        rr_ttl(encode_name("a.local"), A, a_rdata(10, 0, 0, 9), 0),  // another address: kept
        rr_ttl(encode_name("_http._tcp.local"), PTR, encode_name("Other._http._tcp.local"), 0),
        rr_ttl(encode_name("nobody.local"), A, a_rdata(10, 0, 0, 3), 0),  // not held
        rr_ttl(instance, SRV, srv_rdata(80, encode_name("a.local")), 0),
    }));
    ASSERT_EQ(4, g_browse_count);
    EXPECT_STREQ("a.local", g_browse[0].name);
    EXPECT_EQ(PTR, g_browse[1].rrtype);
    EXPECT_EQ(TXT, g_browse[2].rrtype);
    EXPECT_STREQ("b.local", g_browse[3].name);

    questions_for(response({rr_ttl(encode_name("_http._tcp.local"), PTR, instance, 0),
                            rr_ttl(encode_name("A.LOCAL"), A, a_rdata(10, 0, 0, 1), 0),
                            rr_ttl(instance, TXT, txt_rdata({"k=v"}), 0)}));
    ASSERT_EQ(1, g_browse_count);
    EXPECT_STREQ("b.local", g_browse[0].name);
}

}  // namespace
