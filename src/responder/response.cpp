// Other hosts' responses: their answers feed the browse cache while the
// browser runs, and an address record that claims our host name for another
// address renames the host.
#include <cstdint>
#include <cstring>

#include "browse/cache.h"
#include "core/announced_addr.h"
#include "core/text.h"
#include "dns/reader.h"
#include "platform/platform.h"
#include "responder/responder.h"

namespace {

constexpr std::size_t address_text_size = 64;

// Copies of our own packets sent before the announced address changed may
// still come back for this long afterwards.
constexpr std::uint64_t own_echo_window_ms = 2000;

// Hands one record of another host to the cache. A target that does not
// decode, or an empty owner, passes nothing.
void cache_record_locked(const std::uint8_t* datagram, std::size_t length, const dns_rr& rr,
                         const char* owner, const char* from)
{
    if (owner[0] == '\0') return;
    char target[dns_name_text_size];
    std::uint32_t addr_be = 0;
    std::uint16_t port = 0;
    if (dns_read_a(datagram, rr, addr_be)) {
        char ip[address_text_size];
        text_ipv4(ip, sizeof ip, addr_be);
        browse_upsert(owner, dns_type_a, ip, 0, nullptr, nullptr, from);
    } else if (rr.type == dns_type_ptr) {
        if (!dns_read_ptr(datagram, length, rr, target)) return;
        browse_upsert(owner, dns_type_ptr, nullptr, 0, target, nullptr, from);
    } else if (rr.type == dns_type_srv) {
        if (!dns_read_srv(datagram, length, rr, port, target)) return;
        browse_upsert(owner, dns_type_srv, nullptr, port, target, nullptr, from);
    } else if (rr.type == dns_type_txt) {
        char txt[browse_txt_field];
        dns_read_txt_joined(datagram, rr, txt, sizeof txt);
        browse_upsert(owner, dns_type_txt, nullptr, 0, nullptr, txt, from);
    }
}

// An address record for our host name is ours when its address is the
// announced address, or one that this host announced within the echo window
// before it changed. The first test, made for every copy of our own
// replies, compares the 4 bytes with the announced address already
// converted.
bool is_own_address_locked(std::uint32_t addr_be)
{
    if (is_announced_addr_text_locked(addr_be)) return true;
    char ip[address_text_size];
    ip[0] = '\0';
    const std::uint64_t now = plat_monotonic_ms();
    for (const announced_addr_record& old : g_addr_history) {
        if (old.text[0] == '\0' || now - old.replaced_ms >= own_echo_window_ms) continue;
        if (ip[0] == '\0') text_ipv4(ip, sizeof ip, addr_be);
        if (std::strcmp(ip, old.text) == 0) return true;
    }
    return false;
}

// Takes the next fallback label and notes when. The count stops at its
// largest value rather than overflowing.
void rename_host_locked(std::uint64_t now)
{
    if (g_conflict_count < INT32_MAX) g_conflict_count++;
    text_format(g_hostname, sizeof g_hostname, "tandrelo-%lld",
                static_cast<long long>(g_conflict_count) + 1);
    for (int i = rename_burst - 1; i > 0; i--) g_rename_times_ms[i] = g_rename_times_ms[i - 1];
    g_rename_times_ms[0] = now;
    if (g_rename_times_count < rename_burst) g_rename_times_count++;
}

// After rename_burst renames within the burst window, each further rename
// waits until rename_pause_ms have passed since the one before; a claim
// that comes sooner is passed over. This also bounds what forged claims can
// do.
bool rename_allowed_locked(std::uint64_t now)
{
    if (g_rename_times_count < rename_burst) return true;
    if (now - g_rename_times_ms[rename_burst - 1] >= rename_burst_window_ms) return true;
    return now - g_rename_times_ms[0] >= rename_pause_ms;
}

// While an announcement of the current label is between its first and its
// last send, a rival claim is settled as simultaneous probes are: the
// addresses are compared as unsigned bytes, and the later one keeps the
// name. True when this host keeps it.
bool wins_tie_break_locked(std::uint32_t their_addr_be)
{
    if (g_claims_in_progress <= 0 || std::strcmp(g_claim_label, g_hostname) != 0) return false;
    const std::uint32_t ours_be = announced_addr_be_locked();
    return std::memcmp(&ours_be, &their_addr_be, sizeof ours_be) > 0;
}

}  // namespace

response_outcome read_answers_locked(const std::uint8_t* datagram, std::size_t length,
                                     const plat_addr4& sender, const dns_header& header)
{
    response_outcome outcome;
    outcome.announce = false;
    outcome.old_label[0] = '\0';

    std::size_t offset = dns_skip_questions(datagram, length, header.qdcount);
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
        dns_rr rr;
        if (!dns_read_rr_fixed(datagram, length, at, rr)) break;

        if (browsing || dns_rr_is_address(rr)) {
            if (!browsing) {
                std::size_t owner_at = offset;
                dns_read_name(datagram, length, owner_at, owner);  // stepped over above: it reads
            }
            const bool ours = plat_stricmp(owner, host) == 0;
            std::uint32_t addr_be = 0;
            if (browsing && !ours) {
                if (from[0] == '\0') text_ipv4(from, sizeof from, sender.addr_be);
                cache_record_locked(datagram, length, rr, owner, from);
            } else if (ours && dns_read_a(datagram, rr, addr_be) && rr.ttl != 0 &&
                       !is_own_address_locked(addr_be) && !wins_tie_break_locked(addr_be)) {
                // A claim on our name: a goodbye (TTL 0) claims nothing. The
                // records after the claim that renames are left unread.
                const std::uint64_t now = plat_monotonic_ms();
                if (rename_allowed_locked(now)) {
                    text_copy(outcome.old_label, sizeof outcome.old_label, g_hostname);
                    rename_host_locked(now);
                    outcome.announce = true;
                    return outcome;
                }
            }
        }
        offset = rr.end;
        index++;
        if (index == header.ancount) break;
    }
    return outcome;
}
