// The DNS header and the four resource records the responder sends.
//
// Resource record layout (names uncompressed):
//
//   owner name | TYPE (2) | CLASS (2) | TTL (4) | RDLENGTH (2) | RDATA
//
// Every writer notes where its record starts and, at the first piece that
// does not fit the dns_message_size buffer, puts the cursor back there: a
// record is appended whole or not at all.
#include "core/announced_addr.h"
#include "core/state.h"
#include "dns/message.h"
#include "dns/wire.h"

namespace {

constexpr std::size_t ipv4_size = 4;
constexpr std::uint16_t srv_priority = 0;
constexpr std::uint16_t srv_weight = 0;

// A name: its prepared wire form in one block, or its text encoded.
bool put_name(std::uint8_t* buffer, std::size_t& cursor, const dns_name_arg& name)
{
    if (name.wire != nullptr)
        return wire_put_bytes(buffer, dns_message_size, cursor, name.wire, name.wire_length);
    return dns_write_name(buffer, dns_message_size, cursor, name.text);
}

// Owner name, TYPE, CLASS and TTL: the part every record begins with. The
// eight fixed bytes go in as one block, with one room check.
bool put_record_head(std::uint8_t* buffer, std::size_t& cursor, const dns_name_arg& name,
                     std::uint16_t type, std::uint16_t rr_class, std::uint32_t ttl)
{
    const std::uint8_t fixed[8] = {
        static_cast<std::uint8_t>(type >> 8),     static_cast<std::uint8_t>(type),      /* TYPE */
        static_cast<std::uint8_t>(rr_class >> 8), static_cast<std::uint8_t>(rr_class),  /* CLASS */
        static_cast<std::uint8_t>(ttl >> 24),     static_cast<std::uint8_t>(ttl >> 16), /* TTL */
        static_cast<std::uint8_t>(ttl >> 8),      static_cast<std::uint8_t>(ttl),
    };
    return put_name(buffer, cursor, name) &&
           wire_put_bytes(buffer, dns_message_size, cursor, fixed, sizeof fixed);
}

// A goodbye is the same record with TTL 0: it withdraws the record.
std::uint32_t ttl_of(std::uint32_t ttl, bool goodbye) { return goodbye ? 0 : ttl; }

int rollback(std::size_t& cursor, std::size_t record_start)
{
    cursor = record_start;
    return 0;
}

}  // namespace

/*
 *  0  ID       2  flags    4  QDCOUNT
 *  6  ANCOUNT  8  NSCOUNT  10 ARCOUNT
 */
void dns_write_header(std::uint8_t* buffer, std::uint16_t id, std::uint16_t flags,
                      std::uint16_t qdcount, std::uint16_t ancount, std::uint16_t arcount)
{
    // Twelve bytes always fit a header-sized area, so the results need no check.
    std::size_t cursor = 0;
    wire_put_be16(buffer, dns_header_size, cursor, id);       /* ID */
    wire_put_be16(buffer, dns_header_size, cursor, flags);    /* flags */
    wire_put_be16(buffer, dns_header_size, cursor, qdcount);  /* QDCOUNT */
    wire_put_be16(buffer, dns_header_size, cursor, ancount);  /* ANCOUNT */
    wire_put_be16(buffer, dns_header_size, cursor, 0);        /* NSCOUNT */
    wire_put_be16(buffer, dns_header_size, cursor, arcount);  /* ARCOUNT */
}

/*
 * Question:
 *
 *   QNAME (labels, uncompressed) | QTYPE (2) | QCLASS (2, top bit: unicast response)
 */
int dns_add_question(std::uint8_t* buffer, std::size_t capacity, std::size_t& cursor,
                     const dns_name_arg& name, std::uint16_t qtype, std::uint16_t qclass)
{
    const std::size_t start = cursor;
    const bool written =
        (name.wire != nullptr
             ? wire_put_bytes(buffer, capacity, cursor, name.wire, name.wire_length)
             : dns_write_name(buffer, capacity, cursor, name.text)) &&
        wire_put_be16(buffer, capacity, cursor, qtype) &&  /* QTYPE */
        wire_put_be16(buffer, capacity, cursor, qclass);   /* QCLASS */
    if (!written) return rollback(cursor, start);
    return 1;
}

// RDATA: the announced IPv4 address, 4 bytes in network order.
int dns_add_a_record(std::uint8_t* buffer, std::size_t& cursor, const dns_name_arg& name,
                     bool goodbye)
{
    const std::size_t start = cursor;
    // g_addr always holds valid dotted-decimal text; the conversion yields
    // the address already in network order, stored byte for byte.
    const std::uint32_t addr_be = announced_addr_be_locked();
    const std::uint32_t ttl = ttl_of(dns_ttl_host, goodbye);
    if (!put_record_head(buffer, cursor, name, dns_type_a, dns_class_in_flush, ttl) ||
        !wire_put_be16(buffer, dns_message_size, cursor, ipv4_size) ||         /* RDLENGTH */
        !wire_put_bytes(buffer, dns_message_size, cursor, &addr_be, ipv4_size)) /* address */
        return rollback(cursor, start);
    return 1;
}

// RDATA: the target name. RDLENGTH is written as 0 and patched afterwards.
int dns_add_ptr_record(std::uint8_t* buffer, std::size_t& cursor, const dns_name_arg& name,
                       const dns_name_arg& target, bool goodbye)
{
    const std::size_t start = cursor;
    const std::uint32_t ttl = ttl_of(dns_ttl_other, goodbye);
    if (!put_record_head(buffer, cursor, name, dns_type_ptr, dns_class_in, ttl))
        return rollback(cursor, start);
    const std::size_t rdlength_at = cursor;
    if (!wire_put_be16(buffer, dns_message_size, cursor, 0)) return rollback(cursor, start);
    const std::size_t rdata_start = cursor;
    if (!put_name(buffer, cursor, target)) return rollback(cursor, start);
    wire_patch_be16(buffer, rdlength_at, static_cast<std::uint16_t>(cursor - rdata_start));
    return 1;
}

// RDATA: priority (2), weight (2), port (2), target name.
int dns_add_srv_record(std::uint8_t* buffer, std::size_t& cursor, const dns_name_arg& name,
                       std::int32_t port, const dns_name_arg& target, bool goodbye)
{
    const std::size_t start = cursor;
    const std::uint32_t ttl = ttl_of(dns_ttl_host, goodbye);
    if (!put_record_head(buffer, cursor, name, dns_type_srv, dns_class_in_flush, ttl))
        return rollback(cursor, start);
    const std::size_t rdlength_at = cursor;
    if (!wire_put_be16(buffer, dns_message_size, cursor, 0)) return rollback(cursor, start);
    const std::size_t rdata_start = cursor;
    if (!wire_put_be16(buffer, dns_message_size, cursor, srv_priority) ||  /* priority */
        !wire_put_be16(buffer, dns_message_size, cursor, srv_weight) ||    /* weight */
        !wire_put_be16(buffer, dns_message_size, cursor,
                       static_cast<std::uint16_t>(port & 0xFFFF)) ||       /* port */
        !put_name(buffer, cursor, target))                                  /* target */
        return rollback(cursor, start);
    wire_patch_be16(buffer, rdlength_at, static_cast<std::uint16_t>(cursor - rdata_start));
    return 1;
}

// RDATA: the TXT data as given, one block.
int dns_add_txt_record(std::uint8_t* buffer, std::size_t& cursor, const dns_name_arg& name,
                       const std::uint8_t* data, std::size_t data_length, bool goodbye)
{
    const std::size_t start = cursor;
    const std::uint32_t ttl = ttl_of(dns_ttl_other, goodbye);
    if (!put_record_head(buffer, cursor, name, dns_type_txt, dns_class_in_flush, ttl) ||
        !wire_put_be16(buffer, dns_message_size, cursor,
                       static_cast<std::uint16_t>(data_length & 0xFFFF)) ||   /* RDLENGTH */
        !wire_put_bytes(buffer, dns_message_size, cursor, data, data_length))  /* data */
        return rollback(cursor, start);
    return 1;
}
