// The browser over real sockets: on a running responder's socket and on its
// own socket on port 5353, the question it sends, what reaches the browse
// report, and host-name conflicts heard on the wire.
//
// Only OwnSocketOnPort5353 binds 5353, so tests of this file never share a
// port when ctest runs them side by side.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "support/responder_fixture.h"
#include "support/response_builder.h"

namespace {

using namespace response_builder;
using json = nlohmann::json;
using steady = std::chrono::steady_clock;

constexpr std::uint16_t A = 1, PTR = 12, TXT = 16, SRV = 33;

const bytes seed_question = {
    0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0,  // ID 0, flags 0, QDCOUNT 1
    9, '_', 's', 'e', 'r', 'v', 'i', 'c', 'e', 's', 7, '_', 'd', 'n', 's', '-', 's', 'd',
    4, '_', 'u', 'd', 'p', 5, 'l', 'o', 'c', 'a', 'l', 0,
    0x00, 0x0C, 0x00, 0x01,  // PTR, IN
};

// A service as another host announces it.
bytes service_response(const std::string& instance, const std::string& host, std::uint8_t last_octet)
{
    return response({rr(encode_name("_http._tcp.local"), PTR, encode_name(instance + "._http._tcp.local")),
                     rr(encode_name(instance + "._http._tcp.local"), SRV, srv_rdata(8080, encode_name(host))),
                     rr(encode_name(instance + "._http._tcp.local"), TXT, txt_rdata({"path=/", "v=1"})),
                     rr(encode_name(host), A, a_rdata(10, 0, 0, last_octet))});
}

json results() { return json::parse(mdns_browse_results()); }

// The report entry for (name, rrtype), or null.
json entry(const json& report, const std::string& name, int rrtype)
{
    for (const json& e : report) {
        if (e["name"] == name && e["rrtype"] == rrtype) return e;
    }
    return nullptr;
}

// Polls the report until the entry shows up, for at most two seconds.
json wait_for_entry(const std::string& name, int rrtype)
{
    auto until = steady::now() + std::chrono::seconds(2);
    do {
        json e = entry(results(), name, rrtype);
        if (!e.is_null()) return e;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (steady::now() < until);
    return nullptr;
}

// The datagrams among these that are responses holding an A record for host.
int announcements_of(const std::vector<bytes>& datagrams, const std::string& host, std::string* address = nullptr)
{
    int count = 0;
    for (const bytes& d : datagrams) {
        message m = parse_message(d);
        for (const record& r : m.records) {
            if ((m.flags & 0x8000) && r.type == A && r.name == host) {
                count++;
                if (address != nullptr) *address = ipv4_text(r.rdata);
                break;
            }
        }
    }
    return count;
}

std::string hostname_in_stats()
{
    return json::parse(mdns_stats())["hostname"].get<std::string>();
}

struct browse_test : responder_test {
    void TearDown() override
    {
        mdns_browse_stop();
        responder_test::TearDown();
    }
    void send_to_group(const bytes& datagram) const { client.send(datagram, port, "224.0.0.251"); }
    // Sends to the group and returns the source address that a member saw
    // (which the namespace's routes decide, 0.0.0.0 on a bare loopback).
    std::string send_and_see_source(const bytes& datagram) const
    {
        send_to_group(datagram);
        plat_addr4 from = {0, 0};
        for (bytes d = group.receive(&from); !d.empty(); d = group.receive(&from)) {
            if (d == datagram) {
                bytes four(4);
                std::memcpy(four.data(), &from.addr_be, 4);
                return ipv4_text(four);
            }
        }
        return "not heard";
    }
};

TEST_F(browse_test, SharedWayFeedsTheReportUntilStoppedAndAgainAfterARestart)
{
    start_on(24101);
    ASSERT_EQ(MDNS_OK, mdns_browse_start()) << mdns_last_error();
    EXPECT_EQ(MDNS_ERR_ALREADY_RUNNING, mdns_browse_start());
    EXPECT_STREQ("browse already running", mdns_last_error());
    EXPECT_EQ(1, stat("browsing"));

    const std::string source = send_and_see_source(service_response("Web", "box.local", 7));
    json a = wait_for_entry("box.local", A);
    ASSERT_FALSE(a.is_null()) << mdns_browse_results();
    json report = results();
    json ptr = entry(report, "_http._tcp.local", PTR);
    json srv = entry(report, "Web._http._tcp.local", SRV);
    json txt = entry(report, "Web._http._tcp.local", TXT);
    ASSERT_FALSE(ptr.is_null() || srv.is_null() || txt.is_null()) << report.dump();
    EXPECT_EQ("Web._http._tcp.local", ptr["target"]);
    EXPECT_EQ(8080, srv["port"]);
    EXPECT_EQ("box.local", srv["target"]);
    EXPECT_EQ("path=/;v=1", txt["txt"]);
    EXPECT_EQ("10.0.0.7", a["ip"]);
    for (const json& e : report) EXPECT_EQ(source, e["from"]) << e.dump();
    EXPECT_EQ(4, stat("browse_count"));

    EXPECT_EQ(MDNS_OK, mdns_browse_stop());
    EXPECT_EQ(0, stat("browsing"));
    EXPECT_EQ(1, mdns_status());  // the responder goes on
    send_to_group(service_response("Late", "late.local", 8));
    EXPECT_TRUE(wait_for_entry("late.local", A).is_null());
    EXPECT_EQ(4u, results().size());  // kept after the stop

    ASSERT_EQ(MDNS_OK, mdns_browse_start());
    send_to_group(service_response("Again", "again.local", 9));
    EXPECT_FALSE(wait_for_entry("again.local", A).is_null());
    EXPECT_EQ(MDNS_OK, mdns_browse_stop());
    EXPECT_EQ(MDNS_OK, mdns_browse_stop());  // stopping twice is harmless
}

TEST_F(browse_test, StartOnARunningResponderSendsExactlyOneQuestionToItsPort)
{
    start_on(24102);
    ASSERT_EQ(MDNS_OK, mdns_browse_start());
    int questions = 0;
    for (const bytes& d : group.drain()) {
        if (d.size() >= 4 && (d[2] & 0x80) == 0) {
            questions++;
            EXPECT_EQ(seed_question, d);
        }
    }
    EXPECT_EQ(1, questions);
}

TEST_F(browse_test, ConflictingAddressRenamesAndAnnouncesTheNewNameWithTheLockFree)
{
    start_on(24103);
    ASSERT_EQ(MDNS_OK, mdns_browse_start());
    drain_group();
    send_to_group(response({rr(encode_name("TANDRELO.LOCAL"), A, a_rdata(10, 9, 9, 9)),
                            rr(encode_name("after.local"), A, a_rdata(10, 0, 0, 1))}));

    // The first announcement under the new name; the lock is free while the
    // other two wait for their turn.
    std::vector<bytes> heard;
    for (bytes d = group.receive(); !d.empty(); d = group.receive()) {
        heard.push_back(d);
        if (announcements_of({d}, "tandrelo-2.local") == 1) break;
    }
    auto before = steady::now();
    EXPECT_EQ("tandrelo-2", hostname_in_stats());
    EXPECT_LT(steady::now() - before, std::chrono::milliseconds(80));
    for (const bytes& d : drain_group()) heard.push_back(d);
    std::string address;
    EXPECT_EQ(3, announcements_of(heard, "tandrelo-2.local", &address));
    EXPECT_EQ("127.0.0.1", address);
    // The old name is only withdrawn: one goodbye, TTL 0.
    EXPECT_EQ(1, announcements_of(heard, "tandrelo.local"));
    for (const bytes& d : heard) {
        for (const record& r : parse_message(d).records) {
            if (r.name == "tandrelo.local") {
                EXPECT_EQ(0u, r.ttl);
            }
        }
    }
    EXPECT_TRUE(entry(results(), "after.local", A).is_null());  // not read after the conflict

    // The next claim, in a later datagram, takes the next label.
    send_to_group(response({rr(encode_name("tandrelo-2.local"), A, a_rdata(10, 9, 9, 9))}));
    EXPECT_EQ(3, announcements_of(drain_group(), "tandrelo-3.local"));
    EXPECT_EQ("tandrelo-3", hostname_in_stats());
}

TEST_F(browse_test, OurOwnAddressCausesNothing)
{
    start_on(24104);
    const bytes claim = response({rr(encode_name("tandrelo.local"), A, a_rdata(127, 0, 0, 1))});
    send_to_group(claim);
    for (const bytes& d : drain_group()) EXPECT_EQ(claim, d);  // only what we sent
    EXPECT_EQ("tandrelo", hostname_in_stats());
}

TEST_F(browse_test, ThePreviousAddressRightAfterAChangeCausesNothingButLaterItDoes)
{
    start_on(24105);
    auto changed = steady::now();
    ASSERT_EQ(MDNS_OK, mdns_set_addr("10.1.2.3"));  // announces, about 200 ms
    const bytes echo = response({rr(encode_name("tandrelo.local"), A, a_rdata(127, 0, 0, 1))});
    send_to_group(echo);
    EXPECT_EQ(0, announcements_of(drain_group(), "tandrelo-2.local"));
    EXPECT_EQ("tandrelo", hostname_in_stats());

    std::this_thread::sleep_until(changed + std::chrono::milliseconds(2300));
    send_to_group(echo);
    EXPECT_EQ(3, announcements_of(drain_group(), "tandrelo-2.local"));
    EXPECT_EQ("tandrelo-2", hostname_in_stats());
}

TEST_F(browse_test, HostileNamesGiveAReportThatAStrictParserReadsBack)
{
    start_on(24107);
    ASSERT_EQ(MDNS_OK, mdns_browse_start());
    // Labels may hold any byte: quotes, backslashes, control bytes and bytes
    // that are not UTF-8.
    const std::string label1 = "q\"b\\s\x01\x1f\x7f";
    const std::string label2 = "\xff\xc3z";
    bytes owner;
    owner.push_back(static_cast<std::uint8_t>(label1.size()));
    owner.insert(owner.end(), label1.begin(), label1.end());
    owner.push_back(static_cast<std::uint8_t>(label2.size()));
    owner.insert(owner.end(), label2.begin(), label2.end());
    append(owner, encode_name("local"));
    send_to_group(response({rr(owner, PTR, owner), rr(owner, TXT, txt_rdata({"k=\"\\\n", "\xfe"}))}));

    ASSERT_FALSE(wait_for_entry("q\"b\\s\x01\x1f\x7f.\xc3\xbf\xc3\x83z.local", TXT).is_null())
        << mdns_browse_results();
    json report;
    ASSERT_NO_THROW(report = results()) << mdns_browse_results();
    // Invalid bytes come back as the code points of the same numbers.
    const std::string expected = "q\"b\\s\x01\x1f\x7f.\xc3\xbf\xc3\x83z.local";
    json ptr = entry(report, expected, PTR);
    ASSERT_FALSE(ptr.is_null()) << report.dump();
    EXPECT_EQ(expected, ptr["target"]);
    EXPECT_EQ("k=\"\\\n;\xc3\xbe", entry(report, expected, TXT)["txt"]);
}

// The own way: no responder, so the browser binds 5353 itself, whatever port
// the responder was last given.
TEST(BrowseOwnSocket, OwnSocketOnPort5353)
{
    ASSERT_EQ(MDNS_OK, mdns_start(24106));
    mdns_stop();
    test_socket peer;  // a host on the group at 5353
    ASSERT_TRUE(peer.open(5353, true, 100));
    auto peer_send = [&](const bytes& d) { peer.send(d, 5353, "224.0.0.251"); };
    // Questions equal to the seed heard within the given time.
    auto seeds_within = [&](std::chrono::milliseconds window) {
        int seeds = 0;
        auto until = steady::now() + window;
        while (steady::now() < until) {
            bytes d = peer.receive();
            if (d == seed_question && steady::now() < until) seeds++;
        }
        return seeds;
    };

    for (int round = 0; round < 2; round++) {
        ASSERT_EQ(MDNS_OK, mdns_browse_start()) << mdns_last_error();
        EXPECT_EQ(1, stat("browsing"));
        EXPECT_EQ(MDNS_ERR_ALREADY_RUNNING, mdns_browse_start());
        // The start's question; the thread asks again no sooner than 500 ms.
        EXPECT_EQ(1, seeds_within(std::chrono::milliseconds(400))) << "round " << round;

        std::string host = "own" + std::to_string(round) + ".local";
        peer_send(service_response("Own" + std::to_string(round), host, 20));
        EXPECT_FALSE(wait_for_entry(host, A).is_null()) << "round " << round;

        EXPECT_EQ(MDNS_OK, mdns_browse_stop());
        EXPECT_EQ(0, stat("browsing"));
        peer_send(service_response("Gone", "gone.local", 21));
        EXPECT_TRUE(wait_for_entry("gone.local", A).is_null());
        EXPECT_FALSE(entry(results(), host, A).is_null());  // kept after the stop
    }

    // Starts and stops that overlap on two threads: each start's thread is
    // found by some stop, and the browser still works afterwards.
    auto hammer = [] {
        for (int i = 0; i < 40; i++) {
            mdns_browse_start();
            mdns_browse_stop();
        }
    };
    std::thread first(hammer), second(hammer);
    first.join();
    second.join();
    EXPECT_EQ(0, stat("browsing"));

    // A responder started while the browser has its own socket feeds the
    // cache too, through its own thread.
    ASSERT_EQ(MDNS_OK, mdns_browse_start());
    ASSERT_EQ(MDNS_OK, mdns_start(24106));
    test_socket other;
    ASSERT_TRUE(other.open(24606, false, 100));
    other.send(service_response("Side", "side.local", 22), 24106, "224.0.0.251");
    EXPECT_FALSE(wait_for_entry("side.local", A).is_null());
    mdns_stop();

    // A conflict heard on the browser's own socket renames the host, but with
    // no responder socket nothing is announced.
    peer_send(response({rr(encode_name("tandrelo.local"), A, a_rdata(10, 9, 9, 9))}));
    auto until = steady::now() + std::chrono::seconds(2);
    while (hostname_in_stats() != "tandrelo-2" && steady::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ("tandrelo-2", hostname_in_stats());
    EXPECT_EQ(0, announcements_of(peer.drain(), "tandrelo-2.local"));
    EXPECT_EQ(MDNS_OK, mdns_browse_stop());
}

}  // namespace
