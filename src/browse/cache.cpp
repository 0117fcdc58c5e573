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

// A full table gives up at most this many entries to the new keys of one
// datagram; later new keys of the datagram are passed over. A flood of new
// names then costs a bounded number of searches for the stalest entry.
// Outside a datagram there is no such bound.
constexpr int browse_replacements_per_datagram = 16;
bool g_in_datagram = false;
int g_replacements_left = 0;

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
// seen longest ago (the lowest such slot on a tie); -1 when a full table
// has given up as many entries as one datagram may take.
int slot_for_new_key_locked()
{
    if (g_browse_count < browse_capacity) return g_browse_count++;
    if (g_in_datagram) {
        if (g_replacements_left == 0) return -1;
        g_replacements_left--;
    }
    int oldest = 0;
    for (int i = 1; i < browse_capacity; i++) {
        if (g_browse[i].last_seen < g_browse[oldest].last_seen) oldest = i;
    }
    return oldest;
}

// The index of the table: open addressing with linear probing over
// index_size buckets, each 0 or a slot number plus one, keyed by a hash of
// the name (ASCII case folded) and the type. A bucket may still point to a
// slot that has since taken another key; every match is checked against
// the slot itself, and the index is built again when it fills up, when
// entries move and when the table is cleared.
constexpr int index_size = 4 * browse_capacity;
static_assert((index_size & (index_size - 1)) == 0, "a power of two");
std::int16_t g_index[index_size];
int g_index_used = 0;

std::uint32_t key_hash(const char* name, std::uint16_t rrtype)
{
    return static_cast<std::uint32_t>(text_fold_hash(name, std::strlen(name), rrtype));
}

void index_put(int slot, std::uint32_t h)
{
    // Invariant: fewer than three quarters of the buckets are used, so the
    // probe meets an empty one within index_size steps.
    for (int step = 0; step < index_size; step++) {
        std::int16_t& bucket = g_index[(h + static_cast<std::uint32_t>(step)) & (index_size - 1)];
        if (bucket == 0) {
            bucket = static_cast<std::int16_t>(slot + 1);
            g_index_used++;
            return;
        }
    }
}

void index_rebuild()
{
    std::memset(g_index, 0, sizeof g_index);
    g_index_used = 0;
    for (int i = 0; i < g_browse_count; i++) index_put(i, key_hash(g_browse[i].name, g_browse[i].rrtype));
}

void index_add(int slot, std::uint32_t h)
{
    if (g_index_used >= index_size * 3 / 4) index_rebuild();
    index_put(slot, h);
}

int index_find(const char* name, std::uint16_t rrtype, std::uint32_t h)
{
    for (int step = 0; step < index_size; step++) {
        const std::int16_t bucket = g_index[(h + static_cast<std::uint32_t>(step)) & (index_size - 1)];
        if (bucket == 0) return -1;
        const int slot = bucket - 1;
        if (slot < g_browse_count && g_browse[slot].rrtype == rrtype &&
            plat_stricmp(g_browse[slot].name, name) == 0)
            return slot;
    }
    return -1;
}

// Removes the entries that goodbyes marked; the others keep their order.
void remove_marked_locked()
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
        std::memset(&g_browse[kept], 0,
                    sizeof g_browse[0] * static_cast<std::size_t>(g_browse_count - kept));
        g_browse_count = kept;
        index_rebuild();
    }
}

}  // namespace

const browse_entry* browse_find_locked(const char* name, std::uint16_t rrtype)
{
    const int slot = index_find(name, rrtype, key_hash(name, rrtype));
    return slot < 0 ? nullptr : &g_browse[slot];
}

void browse_begin_datagram_locked()
{
    g_in_datagram = true;
    g_replacements_left = browse_replacements_per_datagram;
}

void browse_end_datagram_locked()
{
    g_in_datagram = false;
    remove_marked_locked();
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

void browse_upsert(const char* name, std::uint16_t rrtype, const char* ip, std::int32_t port,
                   const char* target, const char* txt, const char* from)
{
    if (!has_text(name)) return;
    const std::uint32_t h = key_hash(name, rrtype);
    const int found = index_find(name, rrtype, h);
    browse_entry* entry = found < 0 ? nullptr : &g_browse[found];
    if (entry == nullptr) {
        const int slot = slot_for_new_key_locked();
        if (slot < 0) return;
        entry = &g_browse[slot];
        std::memset(entry, 0, sizeof *entry);
        text_copy(entry->name, sizeof entry->name, name);
        entry->rrtype = rrtype;
        index_add(slot, key_hash(entry->name, rrtype));  // the name as stored, cut to its field
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
    index_rebuild();
    lock_leave();
    return MDNS_OK;
}

}
