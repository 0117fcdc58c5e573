// The status report: the whole state as one JSON object.
#include "core/state.h"
#include "core/text.h"
#include "tandrelo_mdns.h"

namespace {

constexpr std::size_t services_array_size = 4096;
// Host texts are escaped before they go into the report; one character of
// up to 63 can grow to six ("\u00XX").
constexpr std::size_t escaped_field_size = 6 * 63 + 1;
// One service element: the escaped type and name, the port and up to 1023
// characters of TXT text, with room to spare.
constexpr std::size_t element_size = 2048;

// The TXT value of a service: its attribute text, inserted as it stands,
// when that is one whole flat JSON object (checked when the service was
// added); otherwise the JSON string "{}". So the report is always JSON, and
// no attribute text can end the object early or add keys to it.
const char* txt_value(const service_entry& s)
{
    return s.txt_json_reportable ? s.txt_json : "\"{}\"";
}

// Renders the services array into out. An element that does not fit the
// array is left out and later, shorter ones are still tried.
void render_services_locked(char* out)
{
    json_array_writer array = json_array_open(out, services_array_size);
    for (int i = 0; i < g_service_count; i++) {
        const service_entry& s = g_services[i];
        char type[escaped_field_size];
        char name[escaped_field_size];
        char element[element_size];
        json_escape(type, sizeof type, s.type);
        json_escape(name, sizeof name, s.name);
        int n = text_format(element, sizeof element,
                            "%s{\"type\":\"%s\",\"name\":\"%s\",\"port\":%d,\"txt\":%s}",
                            json_array_separator(array), type, name, s.port, txt_value(s));
        json_array_add(array, element, n, sizeof element);
    }
    json_array_close(array);
}

}  // namespace

extern "C" TANDRELO_MDNS_API const char* mdns_stats(void)
{
    lock_init();
    lock_enter();
    char services[services_array_size];
    render_services_locked(services);
    char hostname[escaped_field_size];
    char addr[escaped_field_size];
    char interface_text[escaped_field_size];
    json_escape(hostname, sizeof hostname, g_hostname);
    json_escape(addr, sizeof addr, g_addr);
    json_escape(interface_text, sizeof interface_text,
                g_selected_if[0] != '\0' ? g_selected_if : "auto");
    text_format(g_stats_buffer, sizeof g_stats_buffer,
                "{\"running\":%d,\"port\":%d,\"queries\":%llu,\"answers\":%llu,"
                "\"hostname\":\"%s\",\"addr\":\"%s\",\"interface\":\"%s\",\"browsing\":%d,"
                "\"browse_count\":%d,\"services_count\":%d,\"services\":%s}",
                g_running.load() != 0 ? 1 : 0, static_cast<int>(g_port.load()),
                static_cast<unsigned long long>(g_queries_received),
                static_cast<unsigned long long>(g_answers_sent), hostname, addr, interface_text,
                g_browsing.load() != 0 ? 1 : 0, static_cast<int>(g_browse_count),
                static_cast<int>(g_service_count), services);
    lock_leave();
    return g_stats_buffer;
}
