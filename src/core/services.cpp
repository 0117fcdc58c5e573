// The table of advertised services.
#include "core/state.h"
#include "core/text.h"
#include "dns/txt_json.h"
#include "platform/platform.h"
#include "responder/responder.h"
#include "tandrelo_mdns.h"

namespace {

// The entry with this type and instance name (ASCII case ignored), or -1.
int find_service_locked(const char* type, const char* name)
{
    for (int i = 0; i < g_service_count; i++) {
        if (plat_stricmp(g_services[i].type, type) == 0 &&
            plat_stricmp(g_services[i].name, name) == 0) {
            return i;
        }
    }
    return -1;
}

void fill_service_locked(service_entry& entry, const char* type, const char* name, int32_t port,
                         const char* txt)
{
    text_copy(entry.type, sizeof entry.type, type);
    text_copy(entry.name, sizeof entry.name, name);
    entry.port = port;
    if (txt != nullptr && txt[0] != '\0') {
        const std::size_t copied = text_copy(entry.txt_json, sizeof entry.txt_json, txt);
        // As it stands only when it begins with "{" and is one whole flat
        // JSON object: not cut, no control bytes, nothing after the "}".
        entry.txt_json_reportable = txt[copied] == '\0' && entry.txt_json[0] == '{' &&
                                    txt_json_is_flat_object(entry.txt_json);
        // The record data comes from the whole text, not the stored copy.
        std::size_t length = 0;
        parse_txt_json(txt, entry.txt_wire, length);
        entry.txt_wire_len = length;
    } else {
        text_copy(entry.txt_json, sizeof entry.txt_json, "{}");
        entry.txt_json_reportable = 1;
        entry.txt_wire[0] = 0;
        entry.txt_wire_len = 1;
    }
}

}  // namespace

extern "C" {

TANDRELO_MDNS_API int32_t mdns_add_service(const char* type, const char* name, int32_t port,
                                           const char* txt_json)
{
    lock_init();
    if (type == nullptr || type[0] == '\0') {
        set_last_error("Service type cannot be empty (e.g. '_http._tcp')");
        return MDNS_ERR_INVALID;
    }
    if (name == nullptr || name[0] == '\0') {
        set_last_error("Service instance name cannot be empty");
        return MDNS_ERR_INVALID;
    }
    if (port < 1 || port > 65535) {
        set_last_error("Port must be between 1 and 65535");
        return MDNS_ERR_INVALID;
    }
    lock_enter();
    int index = find_service_locked(type, name);
    if (index < 0) {
        if (g_service_count == max_services) {
            lock_leave();
            set_last_error("Maximum service count reached");
            return MDNS_ERR_INVALID;
        }
        index = g_service_count++;
    }
    fill_service_locked(g_services[index], type, name, port, txt_json);
    lock_leave();

    if (responder_open()) send_announcements();
    return index;
}

TANDRELO_MDNS_API int32_t mdns_clear_services(void)
{
    lock_init();
    lock_enter();
    if (responder_open()) send_goodbye_services_locked();
    g_service_count = 0;
    lock_leave();
    return MDNS_OK;
}

}  // extern "C"
