// mdns_interfaces and mdns_set_interface: the report of the usable adapters
// and the choice of the one the responder joins and sends on.
#include "net/interfaces.h"

#include <cstring>

#include "core/state.h"
#include "core/text.h"
#include "tandrelo_mdns.h"

namespace {

// Every byte of a name may become a six-character \u00XX escape.
constexpr std::size_t name_max = sizeof(adapter_entry{}.name) - 1;
constexpr std::size_t escaped_name_size = 6 * name_max + 1;

constexpr char entry_format[] =
    "%s{\"ip\":\"%s\",\"name\":\"%s\",\"gateway\":\"%s\",\"up\":%d,\"loopback\":%d}";
// The literal characters of the format, the widest values and the
// terminator: separator, ip, escaped name, gateway, two 32-bit integers.
constexpr std::size_t entry_literal_chars = sizeof entry_format - 1 - 6 * 2;
constexpr std::size_t entry_size = entry_literal_chars + 1 + (sizeof(adapter_entry{}.ip) - 1) +
                                   (escaped_name_size - 1) +
                                   (sizeof(adapter_entry{}.gateway) - 1) + 2 * 11 + 1;

}  // namespace

std::size_t render_interfaces_json(const adapter_entry* list, int count, char* buffer,
                                   std::size_t cap)
{
    json_array_writer array = json_array_open(buffer, cap);
    for (int i = 0; i < count; i++) {
        const adapter_entry& a = list[i];
        char name[escaped_name_size];
        json_escape(name, sizeof name, a.name);
        char entry[entry_size];
        int n = text_format(entry, sizeof entry, entry_format, json_array_separator(array), a.ip, name,
                            a.gateway, a.up, a.loopback);
        // n < entry_size always holds by the size above; the check in
        // json_array_add keeps a cut entry out should that ever change.
        json_array_add(array, entry, n, sizeof entry);
    }
    return json_array_close(array);
}

extern "C" TANDRELO_MDNS_API const char* mdns_interfaces(void)
{
    lock_init();
    lock_enter();
    // The report is rendered under the lock too, so two callers never write
    // the shared buffer at the same time.
    adapter_entry list[max_adapters];
    int count = enumerate_adapters(list);
    render_interfaces_json(list, count, g_ifaces_buffer, sizeof g_ifaces_buffer);
    lock_leave();
    return g_ifaces_buffer;
}

extern "C" TANDRELO_MDNS_API int32_t mdns_set_interface(const char* ipv4)
{
    lock_init();
    if (ipv4 == nullptr || ipv4[0] == '\0') {
        // Back to automatic. A running responder keeps its interface until
        // its next start.
        lock_enter();
        g_selected_if[0] = '\0';
        lock_leave();
        return MDNS_OK;
    }
    std::uint32_t addr_be;
    if (!plat_ipv4_parse(ipv4, &addr_be)) {
        set_last_error("Invalid interface IPv4 address format");
        return MDNS_ERR_INVALID;
    }
    // The enumeration asks the system and may take a while: not under the lock.
    adapter_entry list[max_adapters];
    int count = enumerate_adapters(list);
    bool listed = false;
    for (int i = 0; i < count && !listed; i++) listed = std::strcmp(list[i].ip, ipv4) == 0;
    if (!listed) {
        set_last_error_fmt("Interface %s is not an active non-loopback adapter", ipv4);
        return MDNS_ERR_INVALID;
    }
    lock_enter();
    text_copy(g_selected_if, sizeof g_selected_if, ipv4);
    bool running = g_running.load() != 0;
    std::int32_t port = g_port.load();
    lock_leave();
    if (running) {
        // The group membership and the outgoing interface are set when the
        // socket opens, so the responder restarts on its port. The selection
        // stands either way, but a restart that fails leaves the responder
        // stopped, and the caller hears of it: the start's code comes back
        // with its message in the last-error text.
        mdns_stop();
        return mdns_start(port);
    }
    return MDNS_OK;
}
