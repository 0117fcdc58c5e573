// What the responder sends on a real link beyond one message: replies and
// announcements that need several messages, the goodbyes of records that go
// away, and announcements that stop once the name they claim has changed.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "support/responder_fixture.h"

namespace {

constexpr std::uint16_t A = 1, PTR = 12, TXT = 16, SRV = 33;
constexpr std::uint16_t IN = 1;

// 20 services of one type with about 115 bytes of TXT each: one message
// holds 13 or 14 of them.
void register_twenty()
{
    for (int i = 0; i < 20; i++) {
        const std::string name = "Service " + std::to_string(i);
        const std::string txt = "{\"path\":\"/" + std::string(100, 'a' + i % 26) + "\",\"n\":\"" +
                                std::to_string(i) + "\"}";
        ASSERT_EQ(i, mdns_add_service("_http._tcp", name.c_str(), 8000 + i, txt.c_str()));
    }
}

// "name type" of every record in the datagrams, with how often each occurs,
// and the largest TTL seen.
struct record_census {
    std::map<std::string, int> count;
    std::uint32_t max_ttl = 0;
    std::uint32_t min_ttl = 0xFFFFFFFFu;
    std::size_t largest = 0;
    int answers = 0;
};

record_census census(const std::vector<bytes>& datagrams)
{
    record_census c;
    for (const bytes& d : datagrams) {
        message m = parse_message(d);
        EXPECT_TRUE(m.ok);
        c.largest = std::max(c.largest, d.size());
        c.answers += m.ancount;
        for (const record& r : m.records) {
            c.count[r.name + " " + std::to_string(r.type)]++;
            c.max_ttl = std::max(c.max_ttl, r.ttl);
            c.min_ttl = std::min(c.min_ttl, r.ttl);
        }
    }
    return c;
}

struct link_test : responder_test {};

TEST_F(link_test, AnAnnouncementThatNeedsSeveralMessagesSendsThemAllThreeTimes)
{
    register_twenty();
    port = 21401;
    ASSERT_TRUE(group.open(port, true, 400));
    ASSERT_EQ(MDNS_OK, mdns_start(port));
    const std::vector<bytes> heard = drain_group();
    ASSERT_EQ(0u, heard.size() % 3);
    const std::size_t per_round = heard.size() / 3;
    EXPECT_GE(per_round, 2u);
    for (std::size_t i = 0; i < per_round; i++) {
        EXPECT_EQ(heard[i], heard[i + per_round]);
        EXPECT_EQ(heard[i], heard[i + 2 * per_round]);
    }
    record_census one_round =
        census(std::vector<bytes>(heard.begin(), heard.begin() + static_cast<long>(per_round)));
    EXPECT_LE(one_round.largest, 4096u);
    // The host's A record and four records per service, each exactly once.
    EXPECT_EQ(81, one_round.answers);
    EXPECT_EQ(1, one_round.count["tandrelo.local 1"]);
    for (int i = 0; i < 20; i++) {
        const std::string instance = "Service " + std::to_string(i) + "._http._tcp.local";
        EXPECT_EQ(1, one_round.count[instance + " 33"]) << instance;
        EXPECT_EQ(1, one_round.count[instance + " 16"]) << instance;
    }
    EXPECT_EQ(20, one_round.count["_http._tcp.local 12"]);
    EXPECT_EQ(20, one_round.count["_services._dns-sd._udp.local 12"]);
}

TEST_F(link_test, AReplyThatNeedsSeveralMessagesIsCountedOnce)
{
    register_twenty();
    start_on(21402);
    ask(make_query(7, {{"_http._tcp.local", PTR, IN}}));
    std::vector<bytes> replies = client.drain();
    ASSERT_GE(replies.size(), 2u);
    record_census c = census(replies);
    EXPECT_LE(c.largest, 4096u);
    EXPECT_EQ(20, c.count["_http._tcp.local 12"]);  // every instance is named once
    for (int i = 0; i < 20; i++) {
        const std::string instance = "Service " + std::to_string(i) + "._http._tcp.local";
        EXPECT_EQ(1, c.count[instance + " 33"]) << instance;
        EXPECT_EQ(1, c.count[instance + " 16"]) << instance;
    }
    for (const bytes& r : replies) EXPECT_EQ(7, be16(r, 0));  // every message carries the ID
    EXPECT_EQ(replies, drain_group());                         // and goes to the group too
    EXPECT_EQ(1, stat("answers"));
}

TEST_F(link_test, StopAndClearSendGoodbyesOfWhatGoesAway)
{
    mdns_add_service("_http._tcp", "Web", 80, "{\"path\":\"/\"}");
    mdns_add_service("_ipp._tcp", "Printer", 631, nullptr);
    start_on(21403);

    ASSERT_EQ(MDNS_OK, mdns_clear_services());
    record_census cleared = census(drain_group());
    EXPECT_EQ(8, cleared.answers);  // two services, four records each, without the host
    EXPECT_EQ(0, cleared.count["tandrelo.local 1"]);
    EXPECT_EQ(0u, cleared.max_ttl);

    mdns_add_service("_ssh._tcp", "Shell", 22, nullptr);
    drain_group();
    mdns_stop();
    record_census stopped = census(drain_group());
    EXPECT_EQ(5, stopped.answers);  // the host and the one service left
    EXPECT_EQ(1, stopped.count["tandrelo.local 1"]);
    EXPECT_EQ(1, stopped.count["Shell._ssh._tcp.local 33"]);
    EXPECT_EQ(0u, stopped.max_ttl);

    // Nothing to withdraw while stopped.
    mdns_clear_services();
    EXPECT_TRUE(drain_group().empty());
}

TEST_F(link_test, AChangedLabelEndsTheOldAnnouncementAndWithdrawsTheOldName)
{
    start_on(21404);
    std::thread first([] { mdns_set_hostname("alpha"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_EQ(MDNS_OK, mdns_set_hostname("beta"));
    first.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    int alpha_claims = 0, alpha_goodbyes = 0, beta_claims = 0;
    for (const bytes& d : drain_group()) {
        for (const record& r : parse_message(d).records) {
            if (r.type != A) continue;
            if (r.name == "alpha.local") (r.ttl == 0 ? alpha_goodbyes : alpha_claims)++;
            if (r.name == "beta.local" && r.ttl != 0) beta_claims++;
        }
    }
    EXPECT_EQ(1, alpha_claims);  // its first round only: the others were dropped
    EXPECT_EQ(1, alpha_goodbyes);
    EXPECT_EQ(3, beta_claims);
}

}  // namespace
