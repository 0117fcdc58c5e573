// The packet handler with the library in a working state: a host label and
// address, three services (two with TXT attributes, one of them large) and
// the browser's flag on, so that queries are answered and other hosts'
// responses go to the browse cache and the conflict check.
//
// No socket is ever opened. For a query g_sock holds a made-up handle and
// the platform layer's fault table stops every send before any system
// call, so a reply is built whole, its further messages too; for anything
// else g_sock keeps its invalid value, so a conflict's announcement and the
// follow-up questions, planned under the lock, return at once.
//
// The last byte of the input also picks the circumstances: bit 0 a sender
// outside the host's subnets, bit 1 an announcement of the host name in
// progress (claims are settled by the tie-break), bit 2 a burst of renames
// just made (further renames wait).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "browse/cache.h"
#include "browse/followup.h"
#include "core/state.h"
#include "core/text.h"
#include "net/on_link.h"
#include "platform/faults.h"
#include "responder/responder.h"
#include "internal/state_reset.h"
#include "tandrelo_mdns.h"

namespace {

constexpr const char* fuzz_label = "fuzzhost";

void check(bool condition)
{
    if (!condition) std::abort();
}

bool terminated_within(const char* text, std::size_t capacity)
{
    return std::memchr(text, '\0', capacity) != nullptr;
}

void set_up_once()
{
    lock_init();
    state_reset_for_tests();
    lock_enter();
    text_copy(g_hostname, sizeof g_hostname, fuzz_label);
    set_announced_addr_locked("192.168.1.20");
    lock_leave();
    std::string big = "{";
    for (int i = 0; i < 6; i++) {
        if (i > 0) big += ",";
        big += "\"key" + std::to_string(i) + "\":\"" + std::string(150, 'v') + "\"";
    }
    big += "}";
    check(mdns_add_service("_http._tcp", "Web", 8080, R"({"path":"/","v":"1"})") == 0);
    check(mdns_add_service("_ipp._tcp", "Printer", 631, nullptr) == 1);
    check(mdns_add_service("_http._tcp", "Admin", 8443, big.c_str()) == 2);
    g_browsing = 1;
    g_plat_faults.fail[plat_fault_sendto] = plat_fault_always;
    // The sender's subnet is one of this host's, so its queries are answered.
    static plat_adapter_raw link;
    std::memset(&link, 0, sizeof link);
    link.oper_up = 1;
    link.ipv4_count = 1;
    link.ipv4_be[0] = plat_ipv4_addr("192.168.1.20");
    link.ipv4_prefix[0] = 24;
    g_plat_faults.adapters = &link;
    g_plat_faults.adapter_count = 1;
    lock_enter();
    on_link_read_locked(0);
    lock_leave();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool ready = (set_up_once(), true);
    (void)ready;
    // The receive threads hand over at most their 9000-byte buffer.
    if (size > dns_receive_size) return 0;
    const std::uint8_t circumstances = size > 0 ? data[size - 1] : 0;

    // Every input starts from the same state: empty cache, original label,
    // nothing asked, no renames.
    lock_enter();
    g_browse_count = 0;
    g_conflict_count = 0;
    text_copy(g_hostname, sizeof g_hostname, fuzz_label);
    followup_forget_locked();
    g_claims_in_progress = (circumstances & 2) ? 1 : 0;
    text_copy(g_claim_label, sizeof g_claim_label, fuzz_label);
    g_rename_limited = 0;
    g_rename_times_count = (circumstances & 4) ? rename_burst : 0;
    for (std::uint64_t& t : g_rename_times_ms) t = plat_monotonic_ms();
    lock_leave();

    // A query with questions is counted once and answered at most once;
    // anything else is never answered.
    const bool query = size >= dns_header_size && (data[2] & 0x80) == 0 &&
                       (data[4] != 0 || data[5] != 0);
    const std::uint64_t queries_before = g_queries_received;
    const std::uint64_t answers_before = g_answers_sent;

    plat_addr4 sender;
    sender.addr_be = plat_ipv4_addr((circumstances & 1) ? "10.9.9.9" : "192.168.1.5");
    sender.port_be = plat_htons(5353);
    g_sock = query ? static_cast<plat_socket>(1000) : plat_invalid_socket;
    process_incoming(data, size, sender);
    g_sock = plat_invalid_socket;

    // The handler released the lock, opened nothing and kept every text
    // terminated within its field.
    lock_enter();
    check(g_queries_received == queries_before + (query ? 1 : 0));
    check(g_answers_sent - answers_before <= (query ? 1u : 0u));
    if (circumstances & 1) check(g_answers_sent == answers_before);  // off-link: never answered
    check(terminated_within(g_hostname, sizeof g_hostname));
    check(g_browse_count >= 0 && g_browse_count <= browse_capacity);
    for (int i = 0; i < g_browse_count; i++) {
        const browse_entry& e = g_browse[i];
        check(terminated_within(e.name, sizeof e.name) && e.name[0] != '\0');
        check(terminated_within(e.ip, sizeof e.ip));
        check(terminated_within(e.target, sizeof e.target));
        check(terminated_within(e.txt, sizeof e.txt));
        check(std::strcmp(e.from, (circumstances & 1) ? "10.9.9.9" : "192.168.1.5") == 0);
        check(e.rrtype == 1 || e.rrtype == 12 || e.rrtype == 16 || e.rrtype == 33);
        check(e.port >= 0 && e.port <= 65535);
        // Records for our own host name never reach the cache.
        check(plat_stricmp(e.name, "fuzzhost.local") != 0);
    }
    lock_leave();
    return 0;
}
