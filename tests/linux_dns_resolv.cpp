// Cross-check of the codec against an independent decoder: messages built by
// our writers are parsed by the system resolver library, and our name reader
// is compared with dn_expand on compressed names.
#include <arpa/nameser.h>
#include <netinet/in.h>
#include <resolv.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/state.h"
#include "core/text.h"
#include "dns/message.h"
#include "dns/txt_json.h"

namespace {

// Expands the name at p with dn_expand; "" and -1 on failure.
std::string expand(const std::uint8_t* msg, std::size_t length, const std::uint8_t* p, int& used)
{
    char name[NS_MAXDNAME];
    used = dn_expand(msg, msg + length, p, name, sizeof name);
    return used < 0 ? std::string() : std::string(name);
}

TEST(ResolvCrossCheck, RecordsParseWithLibresolv)
{
    text_copy(g_addr, sizeof g_addr, "192.168.7.42");
    std::uint8_t txt[txt_wire_max];
    std::size_t txt_length = 0;
    parse_txt_json(R"({"path":"/","ver":2})", txt, txt_length);

    std::uint8_t msg[dns_message_size];
    std::size_t cursor = dns_header_size;
    int answers = 0;
    answers += dns_add_a_record(msg, cursor, "tandrelo.local");
    answers += dns_add_ptr_record(msg, cursor, "_http._tcp.local", "web._http._tcp.local");
    answers += dns_add_srv_record(msg, cursor, "web._http._tcp.local", 8080, "tandrelo.local");
    answers += dns_add_txt_record(msg, cursor, "web._http._tcp.local", txt, txt_length);
    ASSERT_EQ(4, answers);
    dns_write_header(msg, 0xBEEF, dns_flags_response, 0, static_cast<std::uint16_t>(answers), 0);

    ns_msg handle;
    ASSERT_EQ(0, ns_initparse(msg, static_cast<int>(cursor), &handle));
    EXPECT_EQ(0xBEEF, ns_msg_id(handle));
    EXPECT_EQ(1, ns_msg_getflag(handle, ns_f_qr));
    EXPECT_EQ(1, ns_msg_getflag(handle, ns_f_aa));
    EXPECT_EQ(0, ns_msg_count(handle, ns_s_qd));
    ASSERT_EQ(4, ns_msg_count(handle, ns_s_an));
    EXPECT_EQ(msg + cursor, ns_msg_end(handle));

    struct expected_rr {
        const char* owner;
        int type;
        int rr_class;
        unsigned ttl;
    } expected[] = {
        {"tandrelo.local", ns_t_a, 0x8001, 120},
        {"_http._tcp.local", ns_t_ptr, ns_c_in, 4500},
        {"web._http._tcp.local", ns_t_srv, 0x8001, 120},
        {"web._http._tcp.local", ns_t_txt, 0x8001, 4500},
    };
    for (int i = 0; i < 4; i++) {
        SCOPED_TRACE(expected[i].owner);
        ns_rr rr;
        ASSERT_EQ(0, ns_parserr(&handle, ns_s_an, i, &rr));
        EXPECT_STREQ(expected[i].owner, ns_rr_name(rr));
        EXPECT_EQ(expected[i].type, ns_rr_type(rr));
        EXPECT_EQ(expected[i].rr_class, ns_rr_class(rr));
        EXPECT_EQ(expected[i].ttl, ns_rr_ttl(rr));
        const std::uint8_t* rdata = ns_rr_rdata(rr);
        const std::size_t rdlen = ns_rr_rdlen(rr);
        int used = 0;
        switch (ns_rr_type(rr)) {
        case ns_t_a: {
            ASSERT_EQ(4u, rdlen);
            std::uint8_t want[4] = {192, 168, 7, 42};
            EXPECT_EQ(0, std::memcmp(want, rdata, 4));
            break;
        }
        case ns_t_ptr:
            EXPECT_EQ("web._http._tcp.local", expand(msg, cursor, rdata, used));
            EXPECT_EQ(rdlen, static_cast<std::size_t>(used));
            break;
        case ns_t_srv:
            ASSERT_GE(rdlen, 7u);
            EXPECT_EQ(0, ns_get16(rdata));       // priority
            EXPECT_EQ(0, ns_get16(rdata + 2));   // weight
            EXPECT_EQ(8080, ns_get16(rdata + 4));
            EXPECT_EQ("tandrelo.local", expand(msg, cursor, rdata + 6, used));
            EXPECT_EQ(rdlen, 6u + static_cast<std::size_t>(used));
            break;
        case ns_t_txt:
            ASSERT_EQ(txt_length, rdlen);
            EXPECT_EQ(0, std::memcmp(txt, rdata, rdlen));
            EXPECT_EQ(std::string("\x06path=/\x05ver=2", 13),
                      std::string(reinterpret_cast<const char*>(rdata), rdlen));
            break;
        default:
            ADD_FAILURE() << "unexpected type " << ns_rr_type(rr);
        }
    }
}

// A message with compressed names that both decoders read.
TEST(ResolvCrossCheck, ReadNameAgreesWithDnExpand)
{
    std::uint8_t msg[256] = {0};
    std::size_t cursor = dns_header_size;
    ASSERT_EQ(1, dns_write_name(msg, sizeof msg, cursor, "_udp.local"));  // at 12, "local" at 17
    const std::size_t services_at = cursor;
    const std::uint8_t services[] = {9, '_', 's', 'e', 'r', 'v', 'i', 'c', 'e', 's',
                                     7, '_', 'd', 'n', 's', '-', 's', 'd', 0xC0, 12};
    std::memcpy(msg + cursor, services, sizeof services);
    cursor += sizeof services;
    const std::size_t host_at = cursor;
    const std::uint8_t host[] = {6, 'M', 'y', 'H', 'o', 's', 't', 0xC0, 17};
    std::memcpy(msg + cursor, host, sizeof host);
    cursor += sizeof host;
    const std::size_t twice_at = cursor;
    const std::uint8_t twice[] = {3, 'w', 'e', 'b', 0xC0, static_cast<std::uint8_t>(services_at)};
    std::memcpy(msg + cursor, twice, sizeof twice);
    cursor += sizeof twice;
    const std::size_t bare_pointer_at = cursor;
    const std::uint8_t bare_pointer[] = {0xC0, static_cast<std::uint8_t>(twice_at)};
    std::memcpy(msg + cursor, bare_pointer, sizeof bare_pointer);
    cursor += sizeof bare_pointer;
    const std::size_t length = cursor;

    const std::size_t starts[] = {12, 17, services_at, host_at, twice_at, bare_pointer_at};
    for (std::size_t start : starts) {
        SCOPED_TRACE("offset " + std::to_string(start));
        int used = 0;
        std::string theirs = expand(msg, length, msg + start, used);
        ASSERT_GT(used, 0);
        char ours[dns_name_text_size];
        std::size_t at = start;
        ASSERT_EQ(1, dns_read_name(msg, length, at, ours));
        EXPECT_EQ(theirs, ours);
        EXPECT_EQ(start + static_cast<std::size_t>(used), at);
    }
}

TEST(ResolvCrossCheck, BothRejectMalformedNames)
{
    const std::vector<std::vector<std::uint8_t>> bad = {
        {0xC0, 0x00},              // pointer to itself
        {0x40, 'a', 0x00},         // reserved length octet
        {0x01, 'a', 0xC0},         // pointer missing its second octet
        {0x01, 'a', 0xC0, 0x09},   // pointer beyond the message
    };
    for (const auto& m : bad) {
        int used = 0;
        expand(m.data(), m.size(), m.data(), used);
        EXPECT_LT(used, 0);
        char ours[dns_name_text_size];
        std::size_t at = 0;
        EXPECT_EQ(0, dns_read_name(m.data(), m.size(), at, ours));
        EXPECT_EQ(0u, at);
    }
}

}  // namespace
