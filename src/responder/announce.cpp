// Unsolicited announcements of every record the responder owns.
#include "dns/wire.h"
#include "platform/platform.h"
#include "responder/responder.h"

void send_on_responder_socket(std::uint32_t epoch, const std::uint8_t* data, std::size_t length,
                              const plat_addr4& to)
{
    lock_enter();
    plat_socket s = g_sock.load();
    if (g_sock_epoch.load() == epoch && s != plat_invalid_socket) {
        plat_sendto(s, data, length, to);  // a failed send is not reported
    }
    lock_leave();
}

std::size_t build_announcement_locked(std::uint8_t* message)
{
    std::size_t cursor = dns_header_size;
    std::uint16_t records = 0;

    const dns_name_arg host = host_name_locked();
    const dns_name_arg enumeration = enumeration_name_locked();
    records += dns_add_a_record(message, cursor, host);
    for (int i = 0; i < g_service_count; i++) {
        const service_entry& s = g_services[i];
        const service_names names = service_names_of_locked(i);
        const dns_name_arg& type_name = names.type_name;
        const dns_name_arg& instance_name = names.instance_name;
        records += dns_add_ptr_record(message, cursor, enumeration, type_name);
        records += dns_add_ptr_record(message, cursor, type_name, instance_name);
        records += dns_add_srv_record(message, cursor, instance_name, s.port, host);
        records += dns_add_txt_record(message, cursor, instance_name, s.txt_wire,
                                      static_cast<std::size_t>(s.txt_wire_len));
    }
    dns_write_header(message, 0, dns_flags_response, 0, records, 0);
    return cursor;
}

void send_announcements()
{
    std::uint8_t message[dns_message_size];
    // The message is built from one consistent view of the host label,
    // address and services, then sent with the lock released: the lock is
    // never held across the pauses.
    lock_enter();
    if (g_sock.load() == plat_invalid_socket) {
        lock_leave();
        return;
    }
    std::size_t length = build_announcement_locked(message);
    std::uint32_t epoch = g_sock_epoch.load();
    plat_addr4 group;
    group.addr_be = plat_htonl(mdns_group_host_order);
    group.port_be = plat_htons(static_cast<std::uint16_t>(g_port.load()));
    lock_leave();

    for (unsigned i = 0; i < announce_repeats; i++) {
        if (i > 0) plat_sleep_ms(announce_gap_ms);
        // Each send checks that the responder still has the socket the
        // message was built for; after a stop the rest is dropped.
        if (g_sock_epoch.load() != epoch) return;
        send_on_responder_socket(epoch, message, length, group);
    }
}
