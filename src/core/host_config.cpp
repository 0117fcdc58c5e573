// The host label and the announced address.
#include <cstring>

#include "core/state.h"
#include "core/text.h"
#include "net/adapters.h"
#include "platform/platform.h"
#include "responder/responder.h"
#include "tandrelo_mdns.h"

extern "C" {

TANDRELO_MDNS_API int32_t mdns_set_hostname(const char* label)
{
    lock_init();
    if (label == nullptr || label[0] == '\0') {
        set_last_error("Hostname cannot be empty");
        return MDNS_ERR_INVALID;
    }
    if (std::strchr(label, '.') != nullptr) {
        set_last_error("Hostname label cannot contain dots (provide label without .local)");
        return MDNS_ERR_INVALID;
    }
    if (std::strlen(label) > 63) {
        set_last_error("Hostname label exceeds maximum length (63 characters)");
        return MDNS_ERR_INVALID;
    }
    char old_label[text_field];
    lock_enter();
    text_copy(old_label, sizeof old_label, g_hostname);
    text_copy(g_hostname, sizeof g_hostname, label);
    lock_leave();

    // A new label withdraws the old name after announcing the new one.
    if (responder_open()) send_announcements_after_rename(old_label);
    return MDNS_OK;
}

TANDRELO_MDNS_API int32_t mdns_set_addr(const char* ipv4)
{
    lock_init();
    lock_enter();
    if (ipv4 == nullptr || ipv4[0] == '\0') {
        char detected[text_field];
        if (!auto_detect_ipv4_locked(detected, sizeof detected)) {
            set_last_error("No non-loopback IPv4 adapter found; announcing on 127.0.0.1");
        }
        set_announced_addr_locked(detected);
    } else {
        std::uint32_t parsed;
        if (!plat_ipv4_parse(ipv4, &parsed)) {
            lock_leave();
            set_last_error("Invalid IPv4 address format");
            return MDNS_ERR_INVALID;
        }
        set_announced_addr_locked(ipv4);
    }
    lock_leave();

    if (responder_open()) send_announcements();
    return MDNS_OK;
}

}  // extern "C"
