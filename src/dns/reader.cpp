// The read side of the codec: small readers, one per field or record kind.
#include "dns/reader.h"

#include "dns/wire.h"

namespace {

constexpr std::size_t question_fixed_size = 4;  // QTYPE, QCLASS
constexpr std::uint16_t srv_min_rdlength = 6;   // priority, weight, port; the target follows
constexpr std::size_t srv_port_at = 4;
static_assert(srv_port_at + 2 == dns_srv_target_at, "the target follows the port");

}  // namespace

/*
 * Header, 12 bytes:
 *
 *   ID (2) | FLAGS (2) | QDCOUNT (2) | ANCOUNT (2) | NSCOUNT (2) | ARCOUNT (2)
 */
int dns_read_header(const std::uint8_t* message, std::size_t length, dns_header& header)
{
    if (message == nullptr || length < dns_header_size) return 0;
    header.id = wire_be16_at(message, 0);
    header.flags = wire_be16_at(message, 2);
    header.qdcount = wire_be16_at(message, 4);
    header.ancount = wire_be16_at(message, 6);
    header.nscount = wire_be16_at(message, 8);
    header.arcount = wire_be16_at(message, 10);
    return 1;
}

/*
 * Question:
 *
 *   QNAME (labels, maybe a pointer) | QTYPE (2) | QCLASS (2, top bit: unicast response)
 */
int dns_read_question(const std::uint8_t* message, std::size_t length, std::size_t& cursor,
                      char* name, std::uint16_t& qtype, std::uint16_t& qclass)
{
    std::size_t at = cursor;
    if (!(name != nullptr ? dns_read_name(message, length, at, name)
                          : dns_skip_name(message, length, at)))
        return 0;
    if (!wire_get_be16(message, length, at, qtype)) return 0;
    if (!wire_get_be16(message, length, at, qclass)) return 0;
    cursor = at;
    return 1;
}

std::size_t dns_skip_questions(const std::uint8_t* message, std::size_t length,
                               std::uint16_t qdcount)
{
    // Invariant: every pass that goes on moves offset forwards by at least 5
    // bytes (a name of at least one byte, QTYPE and QCLASS), so there are at
    // most length / 5 passes. A question cut inside its last 4 bytes ends
    // the section at the end of the message.
    std::size_t offset = dns_header_size;
    for (std::uint16_t q = 0; q < qdcount && offset < length; q++) {
        if (!dns_skip_name(message, length, offset)) break;
        offset = (length - offset < question_fixed_size) ? length : offset + question_fixed_size;
    }
    return offset;
}

/*
 * Resource record, after its owner name:
 *
 *   TYPE (2) | CLASS (2, top bit: cache flush) | TTL (4) | RDLENGTH (2) | RDATA (RDLENGTH)
 */
int dns_read_rr_fixed(const std::uint8_t* message, std::size_t length, std::size_t& cursor,
                      dns_rr& rr)
{
    std::size_t at = cursor;
    dns_rr r;
    if (!wire_get_be16(message, length, at, r.type)) return 0;
    if (!wire_get_be16(message, length, at, r.rrclass)) return 0;
    if (!wire_get_be32(message, length, at, r.ttl)) return 0;
    if (!wire_get_be16(message, length, at, r.rdlength)) return 0;
    if (r.rdlength > length - at) return 0;
    r.rdata = at;
    r.end = at + r.rdlength;
    rr = r;
    cursor = at;
    return 1;
}

/*
 * A RDATA: the address, 4 bytes in network order.
 */
int dns_read_a(const std::uint8_t* message, const dns_rr& rr, std::uint32_t& addr_be)
{
    if (!dns_rr_is_address(rr)) return 0;
    std::size_t at = rr.rdata;
    return wire_get_bytes(message, rr.end, at, &addr_be, sizeof addr_be);
}

/*
 * PTR RDATA: one name, which may end in a pointer into the message.
 */
int dns_read_ptr(const std::uint8_t* message, std::size_t length, const dns_rr& rr, char* target)
{
    if (rr.type != dns_type_ptr) return 0;
    std::size_t at = rr.rdata;
    return dns_read_name(message, length, at, target);
}

/*
 * SRV RDATA:
 *
 *   PRIORITY (2) | WEIGHT (2) | PORT (2) | TARGET (name, may end in a pointer)
 */
int dns_read_srv(const std::uint8_t* message, std::size_t length, const dns_rr& rr,
                 std::uint16_t& port, char* target)
{
    if (rr.type != dns_type_srv || rr.rdlength < srv_min_rdlength) return 0;
    std::size_t at = rr.rdata + srv_port_at;
    if (!wire_get_be16(message, rr.end, at, port)) return 0;
    return dns_read_name(message, length, at, target);
}

/*
 * TXT RDATA: character-strings, each a length byte L and L bytes.
 *
 *   03 a = 1  03 b = 2     ->  "a=1;b=2"
 *   01 a  00  01 b         ->  "a;;b"
 *   00                     ->  ""
 *
 * Reads are bounded by the end of RDATA, so a string that runs past it ends
 * the walk with the strings before it.
 */
void dns_read_txt_joined(const std::uint8_t* message, const dns_rr& rr, char* text,
                         std::size_t cap)
{
    if (text == nullptr || cap == 0) return;
    const std::size_t text_max = cap - 1;
    std::size_t n = 0;
    std::size_t at = rr.rdata;
    // Invariant: rr.rdata <= at <= rr.end and n <= text_max; every pass
    // moves at forwards by 1 + L, so there are at most RDLENGTH passes.
    while (at < rr.end) {
        std::uint8_t l = 0;
        std::size_t string_at = at;
        if (!wire_get_u8(message, rr.end, string_at, l)) break;
        if (l > rr.end - string_at) break;
        if (n != 0 && n < text_max) text[n++] = ';';
        std::size_t keep = text_max - n;  // bytes past the capacity are dropped
        if (keep > l) keep = l;
        std::size_t bytes_at = string_at;
        wire_get_bytes(message, rr.end, bytes_at, text + n, keep);  // inside: checked above
        n += keep;
        at = string_at + l;
    }
    text[n] = '\0';
}
