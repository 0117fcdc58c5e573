// The browse cache and its JSON report.
#include "browse/cache.h"

#include <cstring>

#include "core/state.h"
#include "core/text.h"
#include "dns/message.h"
#include "platform/platform.h"
#include "tandrelo_mdns.h"

browse_entry g_browse[browse_capacity];
char g_browse_buffer[browse_buffer_size];

namespace {


constexpr std::size_t element_size = browse_element_size;

// The type of an entry marked for removal; no answer has it.
constexpr std::uint16_t removed_rrtype = 0;

// Scratch texts of the report. They are too large for a host thread's stack
// and are only used with the lock held, so they live here.
char g_escaped_name[browse_escaped_size(browse_name_field)];
char g_escaped_ip[browse_escaped_size(browse_ip_field)];
char g_escaped_target[browse_escaped_size(browse_target_field)];
char g_escaped_txt[browse_escaped_size(browse_txt_field)];
char g_escaped_from[browse_escaped_size(browse_from_field)];
char g_element[element_size];

std::uint64_t now_ms_whole_seconds() { return plat_time_seconds() * 1000u; }

bool has_text(const char* s) { return s != nullptr && s[0] != '\0'; }

// The slot a new key takes: the next free one, or, in a full table, the one
// seen longest ago (the lowest such slot on a tie).
int slot_for_new_key_locked()
{
    if (g_browse_count < browse_capacity) return g_browse_count++;
    int oldest = 0;
    for (int i = 1; i < browse_capacity; i++) {
        if (g_browse[i].last_seen < g_browse[oldest].last_seen) oldest = i;
    }
    return oldest;
}

}  // namespace

const browse_entry* browse_find_locked(const char* name, std::uint16_t rrtype)
{
    for (int i = 0; i < g_browse_count; i++) {
        if (g_browse[i].rrtype == rrtype && plat_stricmp(g_browse[i].name, name) == 0) {
            return &g_browse[i];
        }
    }
    return nullptr;
}

void browse_mark_goodbye_locked(const char* name, std::uint16_t rrtype, const char* ip,
                                const char* target)
{
    if (!has_text(name) || rrtype == removed_rrtype) return;
    browse_entry* e = const_cast<browse_entry*>(browse_find_locked(name, rrtype));
    if (e == nullptr) return;
    if (has_text(ip) && std::strcmp(e->ip, ip) != 0) return;
    if (rrtype == dns_type_ptr && (!has_text(target) || plat_stricmp(e->target, target) != 0))
        return;
    // The slot stays until the removal; the stalest of all, it is also the
    // first to be taken should the table be full meanwhile.
    e->rrtype = removed_rrtype;
    e->last_seen = 0;
}

void browse_remove_marked_locked()
{
    int kept = 0;
    // Invariant: kept <= i; slots below kept hold the entries kept so far,
    // in their order.
    for (int i = 0; i < g_browse_count; i++) {
        if (g_browse[i].rrtype == removed_rrtype) continue;
        if (kept != i) std::memcpy(&g_browse[kept], &g_browse[i], sizeof g_browse[i]);
        kept++;
    }
    if (kept != g_browse_count) {
        std::memset(&g_browse[kept], 0, sizeof g_browse[0] * static_cast<std::size_t>(g_browse_count - kept));
        g_browse_count = kept;
    }
}

void browse_upsert(const char* name, std::uint16_t rrtype, const char* ip, std::int32_t port,
                   const char* target, const char* txt, const char* from)
{
    if (!has_text(name)) return;
    browse_entry* entry = nullptr;
    for (int i = 0; i < g_browse_count && entry == nullptr; i++) {
        if (g_browse[i].rrtype == rrtype && plat_stricmp(g_browse[i].name, name) == 0) {
            entry = &g_browse[i];
        }
    }
    if (entry == nullptr) {
        entry = &g_browse[slot_for_new_key_locked()];
        std::memset(entry, 0, sizeof *entry);
        text_copy(entry->name, sizeof entry->name, name);
        entry->rrtype = rrtype;
    }
    entry->last_seen = now_ms_whole_seconds();
    // An answer only ever adds values: an entry keeps what it last heard.
    if (has_text(ip)) text_copy(entry->ip, sizeof entry->ip, ip);
    if (port != 0) entry->port = port;
    if (has_text(target)) text_copy(entry->target, sizeof entry->target, target);
    if (has_text(txt)) text_copy(entry->txt, sizeof entry->txt, txt);
    if (has_text(from)) text_copy(entry->from, sizeof entry->from, from);
}

const char* browse_results_json_locked()
{
    json_array_writer array = json_array_open(g_browse_buffer, browse_buffer_size);
    for (int i = 0; i < g_browse_count; i++) {
        const browse_entry& e = g_browse[i];
        // Every text came off the wire from another host, so every one is
        // escaped: quotes, backslashes, control bytes and broken UTF-8.
        json_escape(g_escaped_name, sizeof g_escaped_name, e.name);
        json_escape(g_escaped_ip, sizeof g_escaped_ip, e.ip);
        json_escape(g_escaped_target, sizeof g_escaped_target, e.target);
        json_escape(g_escaped_txt, sizeof g_escaped_txt, e.txt);
        json_escape(g_escaped_from, sizeof g_escaped_from, e.from);
        int n = text_format(g_element, sizeof g_element,
                            "%s{\"name\":\"%s\",\"rrtype\":%d,\"ip\":\"%s\",\"port\":%d,"
                            "\"target\":\"%s\",\"txt\":\"%s\",\"from\":\"%s\",\"last_seen\":%llu}",
                            json_array_separator(array), g_escaped_name, static_cast<int>(e.rrtype),
                            g_escaped_ip, static_cast<int>(e.port), g_escaped_target,
                            g_escaped_txt, g_escaped_from,
                            static_cast<unsigned long long>(e.last_seen));
        json_array_add(array, g_element, n, sizeof g_element);
    }
    json_array_close(array);
    return g_browse_buffer;
}

extern "C" {

TANDRELO_MDNS_API const char* mdns_browse_results(void)
{
    lock_init();
    lock_enter();
    const char* report = browse_results_json_locked();
    lock_leave();
    return report;
}

TANDRELO_MDNS_API int32_t mdns_browse_clear(void)
{
    lock_init();
    lock_enter();
    std::memset(g_browse, 0, sizeof g_browse);
    g_browse_count = 0;
    lock_leave();
    return MDNS_OK;
}

}
