#include "platform/faults.h"

#include <cstring>

plat_fault_table g_plat_faults;

namespace {

// Takes one failure off the point's budget: true when this call is to fail.
bool take_failure(std::atomic<int>& budget)
{
    int left = budget.load();
    while (left != 0) {
        if (left < 0) return true;
        if (budget.compare_exchange_weak(left, left - 1)) return true;
    }
    return false;
}

}  // namespace

bool plat_fault_injected(plat_fault_point point, plat_socket s)
{
    if (s != plat_invalid_socket && g_plat_faults.only_on_socket.load() &&
        g_plat_faults.socket.load() != s) {
        return false;
    }
    g_plat_faults.calls[point]++;
    if (!take_failure(g_plat_faults.fail[point])) return false;
    g_plat_faults.injected[point]++;
    int error = g_plat_faults.error.load();
    if (error != 0) plat_fault_set_socket_error(error);
    return true;
}

bool plat_fault_adapters_faked() { return g_plat_faults.adapters.load() != nullptr; }

int plat_fault_list_adapters(plat_adapter_raw* out, int capacity)
{
    const plat_adapter_raw* fake = g_plat_faults.adapters.load();
    int count = g_plat_faults.adapter_count.load();
    if (fake == nullptr || count < 0) return 0;
    if (count > capacity) count = capacity;
    if (count > 0) std::memcpy(out, fake, sizeof *out * static_cast<std::size_t>(count));
    return count;
}

void plat_fault_clear()
{
    for (std::atomic<int>& f : g_plat_faults.fail) f = 0;
    g_plat_faults.error = 0;
    g_plat_faults.only_on_socket = false;
    g_plat_faults.socket = plat_invalid_socket;
    g_plat_faults.adapters = nullptr;
    g_plat_faults.adapter_count = 0;
}
