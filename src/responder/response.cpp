// Other hosts' responses: their answers feed the browse cache while the
// browser runs, and an address record that claims our host name for another
// address renames the host.
#include <cstdint>
#include <cstring>

#include "browse/cache.h"
#include "core/announced_addr.h"
#include "core/text.h"
#include "dns/wire.h"
#include "platform/platform.h"
#include "responder/responder.h"

namespace {

constexpr std::uint16_t a_rdlength = 4;
constexpr std::uint16_t srv_min_rdlength = 6;  // priority, weight, port; the target follows
constexpr std::size_t srv_port_at = 4;
constexpr std::size_t txt_text_max = browse_txt_field - 1;  // 1023 characters
constexpr std::size_t address_text_size = 64;

// Copies of our own packets sent before the announced address changed may
// still come back for this long afterwards.
constexpr std::uint64_t own_echo_window_ms = 2000;

// The fixed part of a record and where its RDATA lies.
struct rr_view {
    std::uint16_t type;
    std::uint16_t rdlength;
    std::size_t rdata;  // offset of RDATA
    std::size_t end;    // offset just past RDATA
};

// Reads TYPE, CLASS, TTL and RDLENGTH at offset. False when the 10 bytes or
// the RDATA they announce do not lie wholly inside the datagram.
bool read_rr_fixed(const std::uint8_t* datagram, std::size_t length, std::size_t offset, rr_view& rr)
{
    std::uint16_t rrclass, ttl_high, ttl_low;  // not examined
    if (!wire_get_be16(datagram, length, offset, rr.type)) return false;
    if (!wire_get_be16(datagram, length, offset, rrclass)) return false;
    if (!wire_get_be16(datagram, length, offset, ttl_high)) return false;
    if (!wire_get_be16(datagram, length, offset, ttl_low)) return false;
    if (!wire_get_be16(datagram, length, offset, rr.rdlength)) return false;
    if (rr.rdlength > length - offset) return false;
    rr.rdata = offset;
    rr.end = offset + rr.rdlength;
    return true;
}

bool is_address_record(const rr_view& rr) { return rr.type == dns_type_a && rr.rdlength == a_rdlength; }

// An address record's 4 bytes, as they stand: network order.
std::uint32_t address_of(const std::uint8_t* datagram, const rr_view& rr)
{
    std::uint32_t addr_be = 0;
    std::size_t at = rr.rdata;
    wire_get_bytes(datagram, rr.end, at, &addr_be, sizeof addr_be);  // inside: RDLENGTH is 4
    return addr_be;
}

// The dotted-decimal text of an address record's 4 bytes.
void address_text(const std::uint8_t* datagram, const rr_view& rr, char* out)
{
    text_ipv4(out, address_text_size, address_of(datagram, rr));
}

/*
 * TXT RDATA: character-strings, each a length byte L and L bytes.
 *
 *   03 a = 1  03 b = 2     ->  "a=1;b=2"
 *   01 a  00  01 b         ->  "a;;b"
 *   00                     ->  ""
 *
 * Reads are bounded by the end of RDATA, so a string that runs past it ends
 * the walk with the strings before it. The text holds at most 1023 bytes.
 */
void join_txt(const std::uint8_t* datagram, const rr_view& rr, char* text)
{
    std::size_t n = 0;
    std::size_t at = rr.rdata;
    // Invariant: rr.rdata <= at <= rr.end and n <= txt_text_max; every pass
    // moves at forwards by 1 + L, so there are at most RDLENGTH passes.
    while (at < rr.end) {
        std::uint8_t l = 0;
        std::size_t string_at = at;
        if (!wire_get_u8(datagram, rr.end, string_at, l)) break;
        if (l > rr.end - string_at) break;
        if (n != 0 && n < txt_text_max) text[n++] = ';';
        std::size_t keep = txt_text_max - n;  // bytes past 1023 are dropped
        if (keep > l) keep = l;
        std::size_t bytes_at = string_at;
        wire_get_bytes(datagram, rr.end, bytes_at, text + n, keep);  // inside: checked above
        n += keep;
        at = string_at + l;
    }
    text[n] = '\0';
}

// Hands one record of another host to the cache. A target that does not
// decode, or an empty owner, passes nothing.
void cache_record_locked(const std::uint8_t* datagram, std::size_t length, const rr_view& rr,
                         const char* owner, const char* from)
{
    if (owner[0] == '\0') return;
    char target[dns_name_text_size];
    if (is_address_record(rr)) {
        char ip[address_text_size];
        address_text(datagram, rr, ip);
        browse_upsert(owner, dns_type_a, ip, 0, nullptr, nullptr, from);
    } else if (rr.type == dns_type_ptr) {
        // Targets may use compression, so the whole datagram bounds them.
        std::size_t at = rr.rdata;
        if (!dns_read_name(datagram, length, at, target)) return;
        browse_upsert(owner, dns_type_ptr, nullptr, 0, target, nullptr, from);
    } else if (rr.type == dns_type_srv && rr.rdlength >= srv_min_rdlength) {
        // SRV RDATA: priority(2) weight(2) port(2) target; only the port and
        // the target are kept.
        std::size_t at = rr.rdata + srv_port_at;
        std::uint16_t port = 0;
        wire_get_be16(datagram, rr.end, at, port);  // inside: RDLENGTH is at least 6
        if (!dns_read_name(datagram, length, at, target)) return;
        browse_upsert(owner, dns_type_srv, nullptr, port, target, nullptr, from);
    } else if (rr.type == dns_type_txt) {
        char txt[browse_txt_field];
        join_txt(datagram, rr, txt);
        browse_upsert(owner, dns_type_txt, nullptr, 0, nullptr, txt, from);
    }
}

// An address record for our host name is ours when its address text is the
// announced address, or, shortly after that address changed, the one before
// it. The first test, made for every copy of our own replies, compares the
// 4 bytes with the announced address already converted.
bool is_own_address_locked(const std::uint8_t* datagram, const rr_view& rr)
{
    if (is_announced_addr_text_locked(address_of(datagram, rr))) return true;
    if (g_addr_previous[0] == '\0') return false;
    char ip[address_text_size];
    address_text(datagram, rr, ip);
    return std::strcmp(ip, g_addr_previous) == 0 &&
           plat_monotonic_ms() - g_addr_changed_ms < own_echo_window_ms;
}

// Takes the next fallback label. The count stops at its largest value
// rather than overflowing.
void rename_host_locked()
{
    if (g_conflict_count < INT32_MAX) g_conflict_count++;
    text_format(g_hostname, sizeof g_hostname, "tandrelo-%lld",
                static_cast<long long>(g_conflict_count) + 1);
}

// Walks the answers of a response. Returns true when the host was renamed;
// the records after the conflicting one are then left unread.
bool read_answers_locked(const std::uint8_t* datagram, std::size_t length, const plat_addr4& sender,
                         std::uint16_t qdcount, std::uint16_t ancount)
{
    // Skip the questions. Invariant: every pass that goes on moves offset
    // forwards by at least 5 bytes (a name of at least one byte, QTYPE and
    // QCLASS), so there are at most length / 5 passes. A name that does not
    // decode stops the skip with offset still on it; the answer walk then
    // fails on the same name at once.
    std::size_t offset = dns_header_size;
    for (std::uint16_t q = 0; q < qdcount && offset < length; q++) {
        if (!dns_skip_name(datagram, length, offset)) break;
        offset = (length - offset < 4) ? length : offset + 4;
    }

    const char* host = host_name_locked().text;
    // The sender's address text is formed only when a record is cached.
    char from[address_text_size];
    from[0] = '\0';
    const bool browsing = g_browsing.load() != 0;

    // Walk the answers. Invariant: offset < length at the top of a pass, and
    // every pass that goes on moves it forwards by at least 11 bytes (a name
    // of at least one byte and the 10 fixed bytes), so there are at most
    // length / 11 passes, and never more than ANCOUNT.
    std::uint16_t index = 0;
    while (offset < length) {
        // While not browsing only an address record can matter, when it
        // claims our host name, so the other owners are stepped over unread.
        char owner[dns_name_text_size];
        std::size_t at = offset;
        if (!(browsing ? dns_read_name(datagram, length, at, owner)
                       : dns_skip_name(datagram, length, at)))
            break;
        rr_view rr;
        if (!read_rr_fixed(datagram, length, at, rr)) break;

        if (browsing || is_address_record(rr)) {
            if (!browsing) {
                std::size_t owner_at = offset;
                dns_read_name(datagram, length, owner_at, owner);  // stepped over above: it reads
            }
            const bool ours = plat_stricmp(owner, host) == 0;
            if (browsing && !ours) {
                if (from[0] == '\0') text_ipv4(from, sizeof from, sender.addr_be);
                cache_record_locked(datagram, length, rr, owner, from);
            } else if (ours && is_address_record(rr)) {
                if (!is_own_address_locked(datagram, rr)) {
                    rename_host_locked();
                    return true;
                }
            }
        }
        offset = rr.end;
        index++;
        if (index == ancount) break;
    }
    return false;
}

}  // namespace

void read_response_and_leave_lock(const std::uint8_t* datagram, std::size_t length,
                                  const plat_addr4& sender, std::uint16_t qdcount,
                                  std::uint16_t ancount)
{
    bool renamed = read_answers_locked(datagram, length, sender, qdcount, ancount);
    lock_leave();
    // The new name is announced without the lock: the announcement pauses
    // between its sends. It does nothing while the responder has no socket.
    if (renamed) send_announcements();
}
