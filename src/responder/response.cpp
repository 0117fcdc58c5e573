// Other hosts' responses: their records feed the browse cache while the
// browser runs, and lead to the browser's follow-up questions; an address
// record that claims our host name for another address renames the host.
#include <cstdint>
#include <cstring>

#include "browse/cache.h"
#include "core/text.h"
#include "dns/reader.h"
#include "platform/platform.h"
#include "responder/responder.h"

namespace {

constexpr std::size_t address_text_size = 64;

// A name this host answers for: its host name, or a type or instance name
// of one of its services. The browser never asks about these.
bool is_own_name_locked(const char* name)
{
    const std::size_t length = std::strlen(name);
    if (same_name(name, length, host_name_locked())) return true;
    std::uint8_t candidates[max_services];
    const int count = services_named_locked(name, length, candidates);
    for (int c = 0; c < count; c++) {
        const service_names names = service_names_of_locked(candidates[c]);
        if (same_name(name, length, names.type_name) || same_name(name, length, names.instance_name))
            return true;
    }
    return false;
}

// A service type name: "_x._tcp.local" or "_x._udp.local", or a subtype
// "_s._sub._x._tcp.local"; its PTR records name instances.
bool is_service_type_name(const char* name)
{
    const std::size_t n = std::strlen(name);
    const char* tails[] = {"._tcp.local", "._udp.local"};
    for (const char* tail : tails) {
        const std::size_t t = std::strlen(tail);
        if (n > t && name[0] == '_' && plat_stricmp(name + n - t, tail) == 0) return true;
    }
    return false;
}

// What one record of another host does while browsing: a goodbye (TTL 0)
// withdraws the cached answer it repeats, any other record is cached; and
// the names it brings are noted for follow-up questions. A target that
// does not decode, or an empty owner, does nothing.
void browse_record_locked(const std::uint8_t* datagram, std::size_t length, const dns_rr& rr,
                          const char* owner, const char* from, followup_plan& followups)
{
    if (owner[0] == '\0') return;
    const bool goodbye = rr.ttl == 0;
    char target[dns_name_text_size];
    std::uint32_t addr_be = 0;
    std::uint16_t port = 0;
    if (dns_read_a(datagram, rr, addr_be)) {
        char ip[address_text_size];
        text_ipv4(ip, sizeof ip, addr_be);
        if (goodbye) {
            browse_mark_goodbye_locked(owner, dns_type_a, ip, nullptr);
        } else {
            browse_upsert(owner, dns_type_a, ip, 0, nullptr, nullptr, from);
        }
    } else if (rr.type == dns_type_ptr) {
        if (!dns_read_ptr(datagram, length, rr, target)) return;
        if (goodbye) {
            browse_mark_goodbye_locked(owner, dns_type_ptr, nullptr, target);
            return;
        }
        browse_upsert(owner, dns_type_ptr, nullptr, 0, target, nullptr, from);
        if (is_own_name_locked(target)) return;
        if (plat_stricmp(owner, enumeration_name_locked().text) == 0) {
            followup_note(followups, rr.rdata, followup_instances);
        } else if (is_service_type_name(owner)) {
            followup_note(followups, rr.rdata, followup_resolve);
        }
    } else if (rr.type == dns_type_srv) {
        if (!dns_read_srv(datagram, length, rr, port, target)) return;
        if (goodbye) {
            browse_mark_goodbye_locked(owner, dns_type_srv, nullptr, nullptr);
            return;
        }
        browse_upsert(owner, dns_type_srv, nullptr, port, target, nullptr, from);
        if (!is_own_name_locked(target))
            followup_note(followups, rr.rdata + dns_srv_target_at, followup_address);
    } else if (rr.type == dns_type_txt) {
        if (goodbye) {
            browse_mark_goodbye_locked(owner, dns_type_txt, nullptr, nullptr);
            return;
        }
        char txt[browse_txt_field];
        dns_read_txt_joined(datagram, rr, txt, sizeof txt);
        browse_upsert(owner, dns_type_txt, nullptr, 0, nullptr, txt, from);
    }
}

}  // namespace

void response_outcome_begin(response_outcome& outcome)
{
    outcome.announce = false;
    outcome.old_label[0] = '\0';
    followup_begin(outcome.followups);
}

void read_answers_locked(const std::uint8_t* datagram, std::size_t length, const plat_addr4& sender,
                         const dns_header& header, response_outcome& outcome)
{
    std::size_t offset = dns_skip_questions(datagram, length, header.qdcount);
    const char* host = host_name_locked().text;
    // The sender's address text is formed only when a record is cached.
    char from[address_text_size];
    from[0] = '\0';
    const bool browsing = g_browsing.load() != 0;
    if (browsing) {
        browse_begin_datagram_locked();
        refresh_name_index_locked();  // our own names are never asked about
    }

    // Walk the records: the answers, then, while browsing, the authority
    // records, stepped over, and the additional records, which feed the
    // cache as answers do; only answers can claim our name. Invariant:
    // offset < length at the top of a pass, and every pass that goes on
    // moves it forwards by at least 11 bytes (a name of at least one byte
    // and the 10 fixed bytes), so there are at most length / 11 passes, and
    // never more than the counts say.
    const std::uint32_t answers = header.ancount;
    const std::uint32_t authority_end = answers + header.nscount;
    const std::uint32_t records = browsing ? authority_end + header.arcount : answers;
    for (std::uint32_t index = 0; index < records && offset < length; index++) {
        // While not browsing only an address record can matter, when it
        // claims our host name, so the other owners are stepped over unread.
        const std::size_t record_at = offset;
        char owner[dns_name_text_size];
        std::size_t at = offset;
        if (!(browsing ? dns_read_name(datagram, length, at, owner)
                       : dns_skip_name(datagram, length, at)))
            break;
        dns_rr rr;
        if (!dns_read_rr_fixed(datagram, length, at, rr)) break;
        offset = rr.end;
        const bool is_answer = index < answers;
        if (!is_answer && index < authority_end) continue;  // authority: not used
        if (!browsing) {
            if (!dns_rr_is_address(rr)) continue;
            std::size_t owner_at = record_at;
            dns_read_name(datagram, length, owner_at, owner);  // stepped over above: it reads
        }
        const bool ours = plat_stricmp(owner, host) == 0;
        std::uint32_t addr_be = 0;
        if (browsing && !ours) {
            if (from[0] == '\0') text_ipv4(from, sizeof from, sender.addr_be);
            browse_record_locked(datagram, length, rr, owner, from, outcome.followups);
        } else if (ours && is_answer && dns_read_a(datagram, rr, addr_be) &&
                   settle_claim_locked(addr_be, rr.ttl, outcome.old_label,
                                       sizeof outcome.old_label)) {
            // Renamed: the records after the claim are left unread.
            outcome.announce = true;
            break;
        }
    }
    if (browsing) {
        browse_end_datagram_locked();
        followup_plan_locked(outcome.followups, datagram, length);
    }
}
