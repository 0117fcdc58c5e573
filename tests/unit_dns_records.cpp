// The DNS header and the A, PTR, SRV and TXT record writers: exact bytes,
// the room rule at the 4096-byte bound and rollback of partial records.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/state.h"
#include "core/text.h"
#include "dns/message.h"
#include "dns/wire.h"
#include "support/wire_bytes.h"

namespace {


// A writer bound to its arguments, so that tables can run every writer the same way.
typedef std::function<int(std::uint8_t*, std::size_t&)> writer;

// The bytes a writer appends at cursor 12 of a fresh message.
bytes record_bytes(const writer& write)
{
    std::vector<std::uint8_t> buffer(dns_message_size, 0);
    std::size_t cursor = dns_header_size;
    EXPECT_EQ(1, write(buffer.data(), cursor));
    return bytes(buffer.begin() + dns_header_size, buffer.begin() + cursor);
}

void set_addr(const char* text)
{
    text_copy(g_addr, sizeof g_addr, text);
}

TEST(DnsHeader, FieldsInNetworkOrder)
{
    std::uint8_t header[dns_header_size];
    std::memset(header, 0xAA, sizeof header);
    dns_write_header(header, 0x1234, dns_flags_response, 0, 2, 3);
    EXPECT_EQ(oct({0x12, 0x34, 0x84, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x03}),
              bytes(header, header + sizeof header));
    dns_write_header(header, 0, 0, 1, 0, 0);
    EXPECT_EQ(oct({0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0}), bytes(header, header + sizeof header));
}

TEST(DnsRecords, ARecordBytes)
{
    set_addr("127.0.0.1");
    std::vector<std::uint8_t> buffer(dns_message_size, 0);
    std::size_t cursor = dns_header_size;
    ASSERT_EQ(1, dns_add_a_record(buffer.data(), cursor, "tandrelo.local"));
    EXPECT_EQ(42u, cursor);
    EXPECT_EQ(lab("tandrelo") + lab("local") + end_octet +
                  oct({0x00, 0x01,               // TYPE A
                       0x80, 0x01,               // CLASS IN, cache flush
                       0x00, 0x00, 0x00, 0x78,   // TTL 120
                       0x00, 0x04,               // RDLENGTH
                       0x7F, 0x00, 0x00, 0x01}), // 127.0.0.1
              bytes(buffer.begin() + 12, buffer.begin() + cursor));
}

TEST(DnsRecords, ARecordReadsTheAddressAtEveryCall)
{
    set_addr("192.168.1.20");
    bytes first = record_bytes([](std::uint8_t* b, std::size_t& c) { return dns_add_a_record(b, c, "h.local"); });
    set_addr("10.0.0.255");
    bytes second = record_bytes([](std::uint8_t* b, std::size_t& c) { return dns_add_a_record(b, c, "h.local"); });
    EXPECT_EQ(oct({0xC0, 0xA8, 0x01, 0x14}), bytes(first.end() - 4, first.end()));
    EXPECT_EQ(oct({0x0A, 0x00, 0x00, 0xFF}), bytes(second.end() - 4, second.end()));
    set_addr("127.0.0.1");
}

TEST(DnsRecords, PtrRecordBytes)
{
    bytes rec = record_bytes([](std::uint8_t* b, std::size_t& c) {
        return dns_add_ptr_record(b, c, "_services._dns-sd._udp.local", "_ipp._tcp.local");
    });
    const bytes owner = lab("_services") + lab("_dns-sd") + lab("_udp") + lab("local") + end_octet;
    EXPECT_EQ(owner +
                  oct({0x00, 0x0C,               // TYPE PTR
                       0x00, 0x01,               // CLASS IN, shared
                       0x00, 0x00, 0x11, 0x94,   // TTL 4500
                       0x00, 0x11}) +            // RDLENGTH 17
                  lab("_ipp") + lab("_tcp") + lab("local") + end_octet,
              rec);
}

TEST(DnsRecords, SrvRecordBytes)
{
    bytes rec = record_bytes([](std::uint8_t* b, std::size_t& c) {
        return dns_add_srv_record(b, c, "web._http._tcp.local", 8080, "tandrelo.local");
    });
    const bytes target = lab("tandrelo") + lab("local") + end_octet;  // 16 octets
    EXPECT_EQ(lab("web") + lab("_http") + lab("_tcp") + lab("local") + end_octet +
                  oct({0x00, 0x21,               // TYPE SRV
                       0x80, 0x01,               // CLASS IN, cache flush
                       0x00, 0x00, 0x00, 0x78,   // TTL 120
                       0x00, 6 + 16,             // RDLENGTH
                       0x00, 0x00,               // priority
                       0x00, 0x00,               // weight
                       0x1F, 0x90}) +            // port 8080
                  target,
              rec);
}

TEST(DnsRecords, SrvPortKeepsTheLow16Bits)
{
    struct { std::int32_t port; int high, low; } cases[] = {
        {1, 0x00, 0x01}, {65535, 0xFF, 0xFF}, {70000, 0x11, 0x70}, {-1, 0xFF, 0xFF}};
    for (auto& c : cases) {
        std::int32_t port = c.port;
        bytes rec = record_bytes([port](std::uint8_t* b, std::size_t& cur) {
            return dns_add_srv_record(b, cur, "a", port, "b");
        });
        // owner 01 a 00 (3) + 10 fixed + priority, weight (4): port at 17.
        EXPECT_EQ(c.high, rec[17]) << c.port;
        EXPECT_EQ(c.low, rec[18]) << c.port;
    }
}

TEST(DnsRecords, TxtRecordBytes)
{
    const std::uint8_t empty[] = {0x00};
    bytes rec = record_bytes([&](std::uint8_t* b, std::size_t& c) {
        return dns_add_txt_record(b, c, "web._http._tcp.local", empty, 1);
    });
    EXPECT_EQ(lab("web") + lab("_http") + lab("_tcp") + lab("local") + end_octet +
                  oct({0x00, 0x10,               // TYPE TXT
                       0x80, 0x01,               // CLASS IN, cache flush
                       0x00, 0x00, 0x11, 0x94,   // TTL 4500
                       0x00, 0x01,               // RDLENGTH
                       0x00}),                   // one empty string
              rec);

    bytes data(1023);
    for (std::size_t i = 0; i < data.size(); i++) data[i] = static_cast<std::uint8_t>(i * 7);
    rec = record_bytes([&](std::uint8_t* b, std::size_t& c) {
        return dns_add_txt_record(b, c, "a", data.data(), data.size());
    });
    ASSERT_EQ(3u + 10u + 1023u, rec.size());
    EXPECT_EQ(0x03, rec[11]);
    EXPECT_EQ(0xFF, rec[12]);
    EXPECT_EQ(data, bytes(rec.begin() + 13, rec.end()));
}

// ---- the room rule -------------------------------------------------------------------

struct named_writer {
    const char* what;
    writer write;
};

std::vector<named_writer> all_writers()
{
    static bytes txt_data(1023, 'x');
    static const std::uint8_t empty_txt[] = {0x00};
    return {
        {"A", [](std::uint8_t* b, std::size_t& c) { return dns_add_a_record(b, c, "tandrelo.local"); }},
        {"PTR", [](std::uint8_t* b, std::size_t& c) {
             return dns_add_ptr_record(b, c, "_http._tcp.local", "web._http._tcp.local");
         }},
        {"SRV", [](std::uint8_t* b, std::size_t& c) {
             return dns_add_srv_record(b, c, "web._http._tcp.local", 80, "tandrelo.local");
         }},
        {"TXT empty", [](std::uint8_t* b, std::size_t& c) {
             return dns_add_txt_record(b, c, "web._http._tcp.local", empty_txt, 1);
         }},
        {"TXT 1023", [](std::uint8_t* b, std::size_t& c) {
             return dns_add_txt_record(b, c, "web._http._tcp.local", txt_data.data(), txt_data.size());
         }},
    };
}

TEST(DnsRecords, RecordEndingAtTheBoundFitsOneOctetMoreRollsBack)
{
    for (const named_writer& w : all_writers()) {
        SCOPED_TRACE(w.what);
        const bytes rec = record_bytes(w.write);
        const std::size_t fits_at = dns_message_size - rec.size();

        std::vector<std::uint8_t> buffer(dns_message_size, 0xAA);
        std::size_t cursor = fits_at;
        ASSERT_EQ(1, w.write(buffer.data(), cursor));
        EXPECT_EQ(dns_message_size, cursor);
        EXPECT_EQ(rec, bytes(buffer.begin() + fits_at, buffer.end()));

        // Starting anywhere later, the record breaks off in some piece (name,
        // fixed field, RDATA): always 0, the cursor back at its start.
        for (std::size_t start = fits_at + 1; start <= dns_message_size + 1; start++) {
            std::vector<std::uint8_t> exact(dns_message_size, 0xAA);
            cursor = start;
            ASSERT_EQ(0, w.write(exact.data(), cursor)) << "start " << start;
            ASSERT_EQ(start, cursor);
            // Nothing before the start of the record changed.
            for (std::size_t i = 0; i < start && i < dns_message_size; i++) ASSERT_EQ(0xAA, exact[i]);
        }
    }
}

TEST(DnsRecords, TxtDataThatDoesNotFitLeavesRoomForTheNextRecord)
{
    set_addr("127.0.0.1");
    bytes data(1023, 'k');
    const bytes a_rec = record_bytes([](std::uint8_t* b, std::size_t& c) { return dns_add_a_record(b, c, "h.local"); });

    std::vector<std::uint8_t> buffer(dns_message_size, 0);
    // Leave 600 octets: the owner name and fixed fields fit, the data does not.
    std::size_t cursor = dns_message_size - 600;
    const std::size_t before = cursor;
    EXPECT_EQ(0, dns_add_txt_record(buffer.data(), cursor, "web._http._tcp.local", data.data(), data.size()));
    EXPECT_EQ(before, cursor);
    EXPECT_EQ(1, dns_add_a_record(buffer.data(), cursor, "h.local"));
    EXPECT_EQ(before + a_rec.size(), cursor);
    EXPECT_EQ(a_rec, bytes(buffer.begin() + before, buffer.begin() + cursor));
}

// Walks the records of a message and returns their types; stops on the
// first malformed one.
std::vector<std::uint16_t> walk_records(const std::uint8_t* m, std::size_t length, std::size_t& at)
{
    std::vector<std::uint16_t> types;
    char name[dns_name_text_size];
    while (at < length) {
        std::size_t p = at;
        std::uint16_t type = 0, rr_class = 0, ttl_hi = 0, ttl_lo = 0, rdlength = 0;
        if (!dns_read_name(m, length, p, name) || !wire_get_be16(m, length, p, type) ||
            !wire_get_be16(m, length, p, rr_class) || !wire_get_be16(m, length, p, ttl_hi) ||
            !wire_get_be16(m, length, p, ttl_lo) || !wire_get_be16(m, length, p, rdlength) ||
            rdlength > length - p)
            break;
        types.push_back(type);
        at = p + rdlength;
    }
    return types;
}

TEST(DnsRecords, CursorIsTwelvePlusTheSizesOfTheRecordsThatFitted)
{
    set_addr("127.0.0.1");
    const std::vector<named_writer> writers = all_writers();
    const std::uint16_t types[] = {dns_type_a, dns_type_ptr, dns_type_srv, dns_type_txt, dns_type_txt};
    std::vector<std::size_t> sizes;
    for (const named_writer& w : writers) sizes.push_back(record_bytes(w.write).size());

    std::vector<std::uint8_t> buffer(dns_message_size, 0);
    std::size_t cursor = dns_header_size;
    std::size_t expected = dns_header_size;
    std::vector<std::uint16_t> expected_types;
    int failures = 0;
    // Round-robin until every writer has failed at least a few times.
    for (int call = 0; call < 400; call++) {
        std::size_t k = static_cast<std::size_t>(call * 3) % writers.size();
        int ok = writers[k].write(buffer.data(), cursor);
        if (ok) {
            expected += sizes[k];
            expected_types.push_back(types[k]);
        } else {
            failures++;
        }
        ASSERT_EQ(expected, cursor);
    }
    EXPECT_GT(failures, 0);

    std::size_t at = dns_header_size;
    EXPECT_EQ(expected_types, walk_records(buffer.data(), cursor, at));
    EXPECT_EQ(cursor, at);
}

TEST(DnsRecords, NullNamesGiveZero)
{
    std::vector<std::uint8_t> buffer(dns_message_size, 0);
    std::size_t cursor = dns_header_size;
    const std::uint8_t data[] = {0};
    EXPECT_EQ(0, dns_add_a_record(buffer.data(), cursor, nullptr));
    EXPECT_EQ(0, dns_add_ptr_record(buffer.data(), cursor, "a", nullptr));
    EXPECT_EQ(0, dns_add_srv_record(buffer.data(), cursor, "a", 1, nullptr));
    EXPECT_EQ(0, dns_add_txt_record(buffer.data(), cursor, "a", nullptr, 1));
    EXPECT_EQ(0, dns_add_txt_record(buffer.data(), cursor, nullptr, data, 1));
    EXPECT_EQ(dns_header_size, cursor);
}

}  // namespace
