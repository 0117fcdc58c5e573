// The known subnets of this host's links and the check of a query's sender.
#include "net/on_link.h"

#include "core/state.h"
#include "net/adapters.h"

on_link_subnet g_on_link_subnets[max_on_link_subnets];
int g_on_link_count = 0;
bool g_on_link_read_once = false;
std::uint64_t g_on_link_read_ms = 0;
std::uint64_t g_on_link_reads = 0;

namespace {

std::uint32_t mask_of(int prefix)
{
    if (prefix <= 0) return 0;
    if (prefix >= 32) return 0xFFFFFFFFu;
    return ~(0xFFFFFFFFu >> prefix);
}

// Sources that no router forwards, so that a datagram from one of them was
// sent on one of our links whatever our own addresses are: 127.0.0.0/8,
// 0.0.0.0/8 ("this host", the source of a multicast this host sends through
// a loopback adapter that has only 127.0.0.1) and the link-local
// 169.254.0.0/16 of hosts that have no other address.
bool is_never_forwarded(std::uint32_t addr_be)
{
    const std::uint32_t a = plat_htonl(addr_be);
    return (a >> 24) == 127 || (a >> 24) == 0 || (a >> 16) == 0xA9FE;
}

bool in_known_subnet_locked(std::uint32_t addr_be)
{
    for (int i = 0; i < g_on_link_count; i++) {
        if ((addr_be & g_on_link_subnets[i].mask_be) == g_on_link_subnets[i].network_be) return true;
    }
    return false;
}

// Lists the adapters into subnets; the lock need not be held.
int list_subnets(on_link_subnet* subnets)
{
    // About 24 KB of automatic storage, as in enumerate_adapters.
    plat_adapter_raw raw[max_raw_adapters];
    int raw_count = plat_list_adapters(raw, max_raw_adapters);
    return collect_on_link_subnets(raw, raw_count, subnets, max_on_link_subnets);
}

// An empty list is a failed one (every host has its loopback adapter): the
// table then stays as it was.
void install_locked(const on_link_subnet* subnets, int count)
{
    g_on_link_reads++;
    g_on_link_read_once = true;
    if (count <= 0) return;
    for (int i = 0; i < count; i++) g_on_link_subnets[i] = subnets[i];
    g_on_link_count = count;
}

}  // namespace

int collect_on_link_subnets(const plat_adapter_raw* raw, int raw_count, on_link_subnet* out,
                            int capacity)
{
    int count = 0;
    const int max_addresses = static_cast<int>(sizeof raw[0].ipv4_be / sizeof raw[0].ipv4_be[0]);
    for (int r = 0; r < raw_count; r++) {
        const plat_adapter_raw& a = raw[r];
        if (!a.oper_up) continue;
        const int n = a.ipv4_count < max_addresses ? a.ipv4_count : max_addresses;
        for (int i = 0; i < n; i++) {
            on_link_subnet s;
            s.mask_be = plat_htonl(mask_of(a.ipv4_prefix[i]));
            s.network_be = a.ipv4_be[i] & s.mask_be;
            bool known = false;
            for (int k = 0; k < count && !known; k++) {
                known = out[k].network_be == s.network_be && out[k].mask_be == s.mask_be;
            }
            if (known) continue;
            if (count == capacity) return count;
            out[count++] = s;
        }
    }
    return count;
}

void on_link_read_locked(std::uint64_t now_ms)
{
    on_link_subnet subnets[max_on_link_subnets];
    g_on_link_read_ms = now_ms;
    install_locked(subnets, list_subnets(subnets));
}

bool sender_on_link_locked(std::uint32_t addr_be)
{
    return is_never_forwarded(addr_be) || in_known_subnet_locked(addr_be);
}

bool on_link_reread_for(std::uint32_t addr_be, std::uint64_t now_ms)
{
    if (is_never_forwarded(addr_be)) return false;
    lock_enter();
    const bool due = !in_known_subnet_locked(addr_be) &&
                     (!g_on_link_read_once || now_ms >= g_on_link_read_ms + on_link_reread_ms);
    if (due) {
        g_on_link_read_once = true;
        g_on_link_read_ms = now_ms;
    }
    lock_leave();
    if (!due) return false;

    on_link_subnet subnets[max_on_link_subnets];
    const int count = list_subnets(subnets);
    lock_enter();
    install_locked(subnets, count);
    lock_leave();
    return true;
}
