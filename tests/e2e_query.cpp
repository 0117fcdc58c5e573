// Queries sent to a running responder over real sockets, replies checked on
// the wire.
#include <gtest/gtest.h>

#include <string>

#include "support/responder_fixture.h"

namespace {

constexpr std::uint16_t A = 1, PTR = 12, TXT = 16, SRV = 33, AAAA = 28, ANY = 255;
constexpr std::uint16_t IN = 1, IN_UNICAST = 0x8001;

struct query_test : responder_test {
    // The reply that reaches the client (the sender), or an empty vector.
    message reply_to(const bytes& query)
    {
        ask(query);
        bytes b = client.receive();
        return b.empty() ? message{} : parse_message(b);
    }
};

TEST_F(query_test, HostNameInCapitalsGetsOneARecordByteForByte)
{
    start_on(21001);
    long long queries = stat("queries");
    ask(make_query(0xBEEF, {{"TANDRELO.LOCAL", A, IN}}));
    bytes reply = client.receive();
    const bytes expected = {
        0xBE, 0xEF, 0x84, 0x00, 0, 0, 0, 1, 0, 0, 0, 0,          // header
        8, 't', 'a', 'n', 'd', 'r', 'e', 'l', 'o', 5, 'l', 'o', 'c', 'a', 'l', 0,
        0x00, 0x01, 0x80, 0x01, 0x00, 0x00, 0x00, 0x78, 0x00, 0x04, 127, 0, 0, 1,
    };
    EXPECT_EQ(expected, reply);
    // The same bytes go to the group as well.
    std::vector<bytes> multicast = drain_group();
    ASSERT_EQ(1u, multicast.size());
    EXPECT_EQ(expected, multicast[0]);
    EXPECT_EQ(queries + 1, stat("queries"));
    EXPECT_EQ(1, stat("answers"));
}

TEST_F(query_test, UnsupportedTypeOrUnknownNameIsCountedButNotAnswered)
{
    start_on(21002);
    ask(make_query(1, {{"tandrelo.local", AAAA, IN}}));
    ask(make_query(2, {{"nobody.local", ANY, IN}}));
    EXPECT_TRUE(client.receive().empty());
    EXPECT_EQ(2, stat("queries"));
    EXPECT_EQ(0, stat("answers"));
}

TEST_F(query_test, EnumerationListsOnePtrPerService)
{
    start_on(21003);
    EXPECT_TRUE(reply_to(make_query(1, {{"_services._dns-sd._udp.local", PTR, IN}})).records.empty());

    mdns_add_service("_http._tcp", "Web", 80, nullptr);
    mdns_add_service("_ipp._tcp", "Printer", 631, nullptr);
    mdns_add_service("_http._tcp", "Admin", 8080, nullptr);
    drain_group();
    message m = reply_to(make_query(2, {{"_services._dns-sd._udp.local", PTR, IN}}));
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(3, m.ancount);
    ASSERT_EQ(3u, m.records.size());
    EXPECT_EQ(decode_name(m.records[0].rdata, 0), "_http._tcp.local");
    EXPECT_EQ(decode_name(m.records[1].rdata, 0), "_ipp._tcp.local");
    EXPECT_EQ(m.records[0].rdata, m.records[2].rdata);
    EXPECT_EQ(0x0001, m.records[0].rrclass);
    EXPECT_EQ(4500u, m.records[0].ttl);
}

TEST_F(query_test, TypeQueryGivesPtrAnswersAndSrvTxtAAdditionalsInTableOrder)
{
    start_on(21004);
    mdns_add_service("_http._tcp", "One", 8080, "{\"path\":\"/\"}");
    mdns_add_service("_http._tcp", "Two", 8081, nullptr);
    drain_group();
    message m = reply_to(make_query(7, {{"_http._tcp.local", PTR, IN}}));
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(2, m.ancount);
    EXPECT_EQ(6, m.arcount);
    const std::uint16_t types[] = {PTR, SRV, TXT, A, PTR, SRV, TXT, A};
    ASSERT_EQ(8u, m.records.size());
    for (int i = 0; i < 8; i++) EXPECT_EQ(types[i], m.records[i].type) << i;
    EXPECT_EQ("One._http._tcp.local", decode_name(m.records[0].rdata, 0));
    // SRV: priority 0, weight 0, port 8080, target the host name.
    const record& srv = m.records[1];
    EXPECT_EQ("One._http._tcp.local", srv.name);
    EXPECT_EQ(0x8001, srv.rrclass);
    EXPECT_EQ(120u, srv.ttl);
    EXPECT_EQ(0x1F90, be16(srv.rdata, 4));
    EXPECT_EQ("tandrelo.local", decode_name(srv.rdata, 6));
    EXPECT_EQ((bytes{6, 'p', 'a', 't', 'h', '=', '/'}), m.records[2].rdata);
    EXPECT_EQ((bytes{0}), m.records[6].rdata);
}

TEST_F(query_test, InstanceQueriesByType)
{
    start_on(21005);
    mdns_add_service("_ipp._tcp", "Printer", 631, nullptr);
    drain_group();
    message any = reply_to(make_query(1, {{"printer._IPP._tcp.local", ANY, IN}}));
    ASSERT_TRUE(any.ok);
    EXPECT_EQ(2, any.ancount);
    EXPECT_EQ(1, any.arcount);
    ASSERT_EQ(3u, any.records.size());
    EXPECT_EQ(SRV, any.records[0].type);
    EXPECT_EQ(TXT, any.records[1].type);
    EXPECT_EQ(A, any.records[2].type);

    message srv = reply_to(make_query(2, {{"Printer._ipp._tcp.local", SRV, IN}}));
    EXPECT_EQ(1, srv.ancount);
    EXPECT_EQ(1, srv.arcount);
    // An A question for an instance name writes only the additional A: no reply.
    EXPECT_TRUE(reply_to(make_query(3, {{"Printer._ipp._tcp.local", A, IN}})).records.empty());
    EXPECT_EQ(2, stat("answers"));
}

TEST_F(query_test, UnicastBitOnAnyQuestionKeepsTheReplyOffTheGroup)
{
    start_on(21006);
    ask(make_query(1, {{"nobody.local", A, IN}, {"tandrelo.local", A, IN_UNICAST}}));
    EXPECT_FALSE(client.receive().empty());
    EXPECT_TRUE(drain_group().empty());

    ask(make_query(2, {{"tandrelo.local", A, IN}, {"nobody.local", A, IN}}));
    EXPECT_FALSE(client.receive().empty());
    EXPECT_EQ(1u, drain_group().size());
}

TEST_F(query_test, BadSecondQuestionStillSendsTheFirstAnswers)
{
    start_on(21007);
    bytes q = make_query(9, {{"tandrelo.local", A, IN}});
    q[5] = 2;  // QDCOUNT 2; the second name is a pointer past the end
    q.push_back(0xC0);
    q.push_back(0xFF);
    q.insert(q.end(), {0, 1, 0, 1});
    message m = reply_to(q);
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(1, m.ancount);
}

TEST_F(query_test, ShapesThatAreNotAnsweredQueries)
{
    start_on(21008);
    bytes answer_query = make_query(1, {{"tandrelo.local", A, IN}});
    answer_query[7] = 1;  // a query that also claims an answer is still answered
    EXPECT_EQ(1, reply_to(answer_query).ancount);

    bytes response = make_query(2, {{"tandrelo.local", A, IN}});
    response[2] = 0x84;  // a response without answers: ignored, not counted
    ask(response);
    bytes short_one(11, 0);
    ask(short_one);  // too short: not even counted
    bytes header_only(12, 0);
    header_only[5] = 1;  // one question announced, none present: counted only
    ask(header_only);
    bytes truncated = make_query(3, {{"tandrelo.local", A, IN}});
    truncated.resize(truncated.size() - 3);  // QTYPE/QCLASS cut short
    ask(truncated);
    EXPECT_TRUE(client.receive().empty());
    EXPECT_EQ(3, stat("queries"));
    EXPECT_EQ(1, stat("answers"));
}

TEST_F(query_test, ReplyThatWouldPass4096BytesHoldsWhatFitsAndCountsIt)
{
    start_on(21010);
    std::string txt = "{";
    for (int k = 0; k < 4; k++) {
        txt += std::string(k ? "," : "") + "\"k" + std::to_string(k) + "\":\"" + std::string(240, 'v') + "\"";
    }
    txt += "}";
    for (int i = 0; i < 8; i++) mdns_add_service("_big._tcp", ("S" + std::to_string(i)).c_str(), 1000 + i, txt.c_str());
    drain_group();
    ask(make_query(5, {{"_big._tcp.local", PTR, IN}}));
    bytes reply = client.receive();
    ASSERT_FALSE(reply.empty());
    EXPECT_LE(reply.size(), 4096u);
    message m = parse_message(reply);
    ASSERT_TRUE(m.ok);  // the counts match the records exactly
    EXPECT_EQ(m.records.size(), static_cast<std::size_t>(m.ancount + m.arcount));
    EXPECT_LT(m.ancount, 8);
    EXPECT_GE(m.ancount, 3);
}

TEST_F(query_test, DatagramsUpTo9000BytesAreReadAndLongerOnesDroppedWhole)
{
    start_on(21011);
    bytes large = make_query(1, {{"tandrelo.local", A, IN}});
    large.resize(9000, 0);  // a valid question followed by padding
    EXPECT_EQ(1, reply_to(large).ancount);
    EXPECT_EQ(1, stat("queries"));
    bytes huge = large;
    huge.push_back(0);  // 9001 bytes
    ask(huge);
    EXPECT_TRUE(client.receive().empty());
    EXPECT_EQ(1, stat("queries"));
    EXPECT_EQ(1, reply_to(make_query(2, {{"tandrelo.local", A, IN}})).ancount);
}

TEST_F(query_test, ChangesShowInTheVeryNextReply)
{
    start_on(21012);
    mdns_set_hostname("kitchen");
    mdns_set_addr("10.1.2.3");
    drain_group();
    message m = reply_to(make_query(1, {{"kitchen.local", A, IN}}));
    ASSERT_EQ(1u, m.records.size());
    EXPECT_EQ("10.1.2.3", ipv4_text(m.records[0].rdata));
    EXPECT_TRUE(reply_to(make_query(2, {{"tandrelo.local", A, IN}})).records.empty());
}

}  // namespace
