// The record readers: every field of a hand-made response read back, and
// every truncation and single-byte mutation of it read without a byte
// outside the message (a sanitizer build shows any) and without success on
// a record that is not wholly there.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "dns/reader.h"
#include "support/response_builder.h"

namespace {

using namespace response_builder;

constexpr std::uint16_t A = 1, PTR = 12, TXT = 16, SRV = 33;

// One question, then PTR, SRV, TXT and A answers; the SRV's owner and the
// TXT's owner point back into the PTR's RDATA.
struct fixture {
    bytes message;
    std::size_t answers_at = 0;
};

fixture make_fixture()
{
    fixture f;
    f.message = header(1, 4);
    append(f.message, encode_name("_http._tcp.local"));  // 12: the question
    append(f.message, bytes{0, 12, 0x80, 1});            // PTR, IN with the unicast bit
    f.answers_at = f.message.size();                     // 34
    // The PTR's RDATA starts at 34 + 2 + 10 = 46 with the label Web.
    append(f.message, rr(bytes{0xC0, 12}, PTR, bytes{3, 'W', 'e', 'b', 0xC0, 12}));
    append(f.message, rr(bytes{0xC0, 46}, SRV, srv_rdata(8080, encode_name("box.local"))));
    append(f.message, rr(bytes{0xC0, 46}, TXT, txt_rdata({"a=1", "", "b=2"})));
    append(f.message, rr(encode_name("box.local"), A, a_rdata(10, 0, 0, 7)));
    return f;
}

// Reads the whole message the way the response branch does; the number of
// answers read whole, with their decoded values in out.
struct read_back {
    int records = 0;
    std::string ptr_target, srv_target, txt;
    std::uint16_t srv_port = 0;
    std::uint32_t a_be = 0;
    std::uint32_t ttl = 0;
};

read_back read_all(const std::uint8_t* m, std::size_t length)
{
    read_back out;
    dns_header h;
    if (!dns_read_header(m, length, h)) return out;
    std::size_t offset = dns_skip_questions(m, length, h.qdcount);
    // Bounded as the library's own walks are: every record moves the offset.
    for (int i = 0; i < h.ancount && offset < length; i++) {
        char owner[dns_name_text_size];
        std::size_t at = offset;
        if (!dns_read_name(m, length, at, owner)) break;
        dns_rr rr;
        if (!dns_read_rr_fixed(m, length, at, rr)) break;
        EXPECT_LE(rr.end, length);
        EXPECT_EQ(rr.end, at + rr.rdlength);
        char target[dns_name_text_size];
        char txt[64];
        std::uint16_t port = 0;
        std::uint32_t addr = 0;
        if (dns_read_ptr(m, length, rr, target)) out.ptr_target = target;
        if (dns_read_srv(m, length, rr, port, target)) {
            out.srv_port = port;
            out.srv_target = target;
        }
        if (rr.type == TXT) {
            dns_read_txt_joined(m, rr, txt, sizeof txt);
            out.txt = txt;
        }
        if (dns_read_a(m, rr, addr)) out.a_be = addr;
        out.ttl = rr.ttl;
        out.records++;
        offset = rr.end;
    }
    return out;
}

TEST(DnsReader, ReadsEveryFieldOfAResponse)
{
    const fixture f = make_fixture();
    const std::uint8_t* m = f.message.data();
    const std::size_t length = f.message.size();

    dns_header h;
    ASSERT_EQ(1, dns_read_header(m, length, h));
    EXPECT_EQ(0x8400, h.flags);
    EXPECT_EQ(1, h.qdcount);
    EXPECT_EQ(4, h.ancount);
    EXPECT_EQ(0, h.arcount);

    std::size_t cursor = dns_header_size;
    char qname[dns_name_text_size];
    std::uint16_t qtype = 0, qclass = 0;
    ASSERT_EQ(1, dns_read_question(m, length, cursor, qname, qtype, qclass));
    EXPECT_STREQ("_http._tcp.local", qname);
    EXPECT_EQ(PTR, qtype);
    EXPECT_EQ(0x8001, qclass);
    EXPECT_EQ(f.answers_at, cursor);
    EXPECT_EQ(f.answers_at, dns_skip_questions(m, length, 1));

    const read_back r = read_all(m, length);
    EXPECT_EQ(4, r.records);
    EXPECT_EQ("Web._http._tcp.local", r.ptr_target);
    EXPECT_EQ(8080, r.srv_port);
    EXPECT_EQ("box.local", r.srv_target);
    EXPECT_EQ("a=1;;b=2", r.txt);
    const std::uint8_t ten_0_0_7[4] = {10, 0, 0, 7};
    EXPECT_EQ(0, std::memcmp(&r.a_be, ten_0_0_7, 4));
    EXPECT_EQ(120u, r.ttl);
}

TEST(DnsReader, FieldsOfTheWrongKindOrSizeAreRefused)
{
    struct {
        const char* what;
        std::uint16_t type;
        bytes rdata;
        bool a, ptr, srv;
    } cases[] = {
        {"A of 3 bytes", A, bytes{10, 0, 0}, false, false, false},
        {"A of 5 bytes", A, bytes{10, 0, 0, 7, 1}, false, false, false},
        {"SRV without a target", SRV, bytes{0, 0, 0, 0, 0x1F}, false, false, false},
        {"SRV with a bad target", SRV, bytes{0, 0, 0, 0, 0, 80, 0x40}, false, false, false},
        {"PTR to a reserved label", PTR, bytes{0x80, 1}, false, false, false},
        {"PTR read as an address", PTR, bytes{1, 'x', 0, 0}, false, true, false},
        {"A of 4 bytes", A, bytes{1, 2, 3, 4}, true, false, false},
    };
    for (const auto& c : cases) {
        const bytes m = response({rr(encode_name("x.local"), c.type, c.rdata)});
        std::size_t at = dns_header_size;
        ASSERT_EQ(1, dns_skip_name(m.data(), m.size(), at)) << c.what;
        dns_rr rr;
        ASSERT_EQ(1, dns_read_rr_fixed(m.data(), m.size(), at, rr)) << c.what;
        std::uint32_t addr = 0;
        std::uint16_t port = 0;
        char target[dns_name_text_size];
        EXPECT_EQ(c.a, dns_read_a(m.data(), rr, addr) == 1) << c.what;
        EXPECT_EQ(c.ptr, dns_read_ptr(m.data(), m.size(), rr, target) == 1) << c.what;
        EXPECT_EQ(c.srv, dns_read_srv(m.data(), m.size(), rr, port, target) == 1) << c.what;
    }
}

TEST(DnsReader, TxtStringsAreJoinedWithinTheRoomAndTheRdata)
{
    struct {
        const char* what;
        bytes rdata;
        std::size_t cap;
        const char* joined;
    } cases[] = {
        {"one empty string", bytes{0}, 64, ""},
        {"empty strings between", bytes{1, 'a', 0, 1, 'b'}, 64, "a;;b"},
        {"string running past RDATA", bytes{2, 'a', 'b', 9, 'c'}, 64, "ab"},
        {"cut to the room", txt_rdata({"abcd", "efgh"}), 7, "abcd;e"},
        {"room of one", txt_rdata({"abcd"}), 1, ""},
    };
    for (const auto& c : cases) {
        const bytes m = response({rr(encode_name("x.local"), TXT, c.rdata)});
        std::size_t at = dns_header_size;
        ASSERT_EQ(1, dns_skip_name(m.data(), m.size(), at));
        dns_rr rr;
        ASSERT_EQ(1, dns_read_rr_fixed(m.data(), m.size(), at, rr));
        char text[64];
        std::memset(text, 'z', sizeof text);
        dns_read_txt_joined(m.data(), rr, text, c.cap);
        EXPECT_STREQ(c.joined, text) << c.what;
    }
}

TEST(DnsReader, EveryTruncationReadsOnlyTheRecordsThatAreWhole)
{
    const fixture f = make_fixture();
    // Where each answer ends.
    std::vector<std::size_t> ends;
    std::size_t offset = f.answers_at;
    for (int i = 0; i < 4; i++) {
        std::size_t at = offset;
        ASSERT_EQ(1, dns_skip_name(f.message.data(), f.message.size(), at));
        dns_rr rr;
        ASSERT_EQ(1, dns_read_rr_fixed(f.message.data(), f.message.size(), at, rr));
        ends.push_back(rr.end);
        offset = rr.end;
    }
    for (std::size_t cut = 0; cut <= f.message.size(); cut++) {
        // A copy of exactly cut bytes, so that reading past it is caught.
        bytes piece(f.message.begin(), f.message.begin() + static_cast<long>(cut));
        const read_back r = read_all(piece.data(), piece.size());
        int whole = 0;
        for (std::size_t end : ends) whole += end <= cut ? 1 : 0;
        // The SRV and TXT owners point into the PTR's RDATA, which every cut
        // that keeps them also keeps.
        EXPECT_EQ(cut < dns_header_size ? 0 : whole, r.records) << "cut at " << cut;
    }
}

TEST(DnsReader, EveryMutatedByteIsReadWithinTheMessage)
{
    const fixture f = make_fixture();
    for (std::size_t at = 0; at < f.message.size(); at++) {
        for (std::uint8_t value : {0x00, 0x01, 0x3F, 0x40, 0x80, 0xC0, 0xFF}) {
            bytes mutated = f.message;
            mutated[at] = value;
            const read_back r = read_all(mutated.data(), mutated.size());
            EXPECT_LE(r.records, 4) << at;
            EXPECT_LT(r.ptr_target.size(), dns_name_text_size);
            EXPECT_LT(r.srv_target.size(), dns_name_text_size);
        }
    }
}

}  // namespace
