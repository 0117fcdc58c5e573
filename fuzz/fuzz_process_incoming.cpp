// The packet handler with the library in a working state: a host label and
// address, three services (two with TXT attributes, one of them large) and
// the browser's flag on, so that queries are answered and other hosts'
// responses go to the browse cache and the conflict check.
//
// No socket is ever opened: g_sock keeps its invalid value, so replies are
// built and counted, and answer_query_locked returns before its sends;
// a conflict's send_announcements returns at once for the same reason.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "browse/cache.h"
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
    // The receive threads hand over at most their 4096-byte buffer.
    if (size > dns_message_size) return 0;

    // Every input starts from the same state: empty cache, original label.
    lock_enter();
    g_browse_count = 0;
    g_conflict_count = 0;
    text_copy(g_hostname, sizeof g_hostname, fuzz_label);
    lock_leave();

    // A query with questions is counted once and answered at most once;
    // anything else is never answered.
    const bool query = size >= dns_header_size && (data[2] & 0x80) == 0 &&
                       (data[4] != 0 || data[5] != 0);
    const std::uint64_t queries_before = g_queries_received;
    const std::uint64_t answers_before = g_answers_sent;

    plat_addr4 sender;
    sender.addr_be = plat_ipv4_addr("192.168.1.5");
    sender.port_be = plat_htons(5353);
    process_incoming(data, size, sender);

    // The handler released the lock, opened nothing and kept every text
    // terminated within its field.
    lock_enter();
    check(g_sock.load() == plat_invalid_socket);
    check(g_queries_received == queries_before + (query ? 1 : 0));
    check(g_answers_sent - answers_before <= (query ? 1u : 0u));
    check(terminated_within(g_hostname, sizeof g_hostname));
    check(g_browse_count >= 0 && g_browse_count <= browse_capacity);
    for (int i = 0; i < g_browse_count; i++) {
        const browse_entry& e = g_browse[i];
        check(terminated_within(e.name, sizeof e.name) && e.name[0] != '\0');
        check(terminated_within(e.ip, sizeof e.ip));
        check(terminated_within(e.target, sizeof e.target));
        check(terminated_within(e.txt, sizeof e.txt));
        check(std::strcmp(e.from, "192.168.1.5") == 0);
        check(e.rrtype == 1 || e.rrtype == 12 || e.rrtype == 16 || e.rrtype == 33);
        check(e.port >= 0 && e.port <= 65535);
        // Records for our own host name never reach the cache.
        check(plat_stricmp(e.name, "fuzzhost.local") != 0);
    }
    lock_leave();
    return 0;
}
