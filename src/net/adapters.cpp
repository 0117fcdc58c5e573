// Usable IPv4 adapters: the filter over the system's raw list, the choice of
// the best one and the address auto-detection.
#include "net/adapters.h"

#include <cstring>

#include "core/state.h"
#include "core/text.h"

// Addresses that never identify this host on the network.
static bool is_loopback_or_link_local(const char* text)
{
    return std::strncmp(text, "127.", 4) == 0 || std::strncmp(text, "169.254.", 8) == 0;
}

// Writes the first usable address of the adapter into ip; false if it has
// none.
static bool first_usable_address(const plat_adapter_raw& raw, char (&ip)[64])
{
    const int max_addresses = static_cast<int>(sizeof raw.ipv4_be / sizeof raw.ipv4_be[0]);
    int n = raw.ipv4_count < max_addresses ? raw.ipv4_count : max_addresses;
    for (int i = 0; i < n; i++) {
        std::memset(ip, 0, sizeof ip);
        text_ipv4(ip, sizeof ip, raw.ipv4_be[i]);
        if (!is_loopback_or_link_local(ip)) return true;
    }
    return false;
}

int filter_adapters(const plat_adapter_raw* raw, int raw_count, adapter_entry* list)
{
    int count = 0;
    for (int r = 0; r < raw_count && count < max_adapters; r++) {
        const plat_adapter_raw& a = raw[r];
        if (!a.oper_up || a.software_loopback) continue;
        char ip[64];
        if (!first_usable_address(a, ip)) continue;
        adapter_entry& e = list[count];
        std::memset(&e, 0, sizeof e);
        text_copy(e.ip, sizeof e.ip, ip);
        text_copy(e.name, sizeof e.name, a.name);
        if (a.has_gateway) text_ipv4(e.gateway, sizeof e.gateway, a.gateway_be);
        e.up = 1;
        e.loopback = 0;
        count++;
    }
    return count;
}

int enumerate_adapters(adapter_entry* list)
{
    // About 23 KB of automatic storage; nothing is kept between calls.
    plat_adapter_raw raw[max_raw_adapters];
    int raw_count = plat_list_adapters(raw, max_raw_adapters);
    return filter_adapters(raw, raw_count, list);
}

int pick_best_from(const adapter_entry* list, int count, adapter_entry* out)
{
    if (count <= 0) return 0;
    int chosen = 0;
    for (int i = 0; i < count; i++) {
        if (list[i].gateway[0] != '\0') {
            chosen = i;
            break;
        }
    }
    *out = list[chosen];
    return 1;
}

int pick_best_adapter(adapter_entry* out)
{
    adapter_entry list[max_adapters];
    int count = enumerate_adapters(list);
    return pick_best_from(list, count, out);
}

bool auto_detect_ipv4_locked(char* out, std::size_t cap)
{
    adapter_entry best;
    if (pick_best_adapter(&best)) {
        text_copy(out, cap, best.ip);
        return true;
    }
    text_copy(out, cap, "127.0.0.1");
    return false;
}
