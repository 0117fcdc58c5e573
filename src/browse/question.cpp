// The browser's enumeration question.
#include "browse/question.h"

#include "core/state.h"
#include "dns/message.h"
#include "platform/platform.h"

/*
 * The question, 46 bytes:
 *
 *   00 00  ID               00 00  flags (standard query)
 *   00 01  QDCOUNT          00 00  ANCOUNT   00 00  NSCOUNT   00 00  ARCOUNT
 *   09 _services 07 _dns-sd 04 _udp 05 local 00
 *   00 0C  QTYPE PTR        00 01  QCLASS IN, unicast-response bit clear
 */
std::size_t browse_build_seed(std::uint8_t* buffer)
{
    dns_write_header(buffer, 0, 0, 1, 0, 0);
    std::size_t cursor = dns_header_size;
    dns_add_question(buffer, browse_seed_buffer_size, cursor, enumeration_name, dns_type_ptr,
                     dns_class_in);
    return cursor;
}

void browse_send_seed()
{
    std::uint8_t message[browse_seed_buffer_size];
    std::size_t length = browse_build_seed(message);
    browse_send_question(message, length);
}

void browse_send_question(const std::uint8_t* message, std::size_t length)
{
    plat_addr4 group;
    group.addr_be = plat_htonl(mdns_group_host_order);
    // The socket is chosen and used under the lock: a socket that a stop has
    // released is never sent on. A failed send is not reported.
    lock_enter();
    plat_socket s = plat_invalid_socket;
    if (responder_open()) {
        s = g_sock.load();
        group.port_be = plat_htons(static_cast<std::uint16_t>(g_port.load()));
    } else {
        s = g_browse_sock.load();
        group.port_be = plat_htons(browse_port);
    }
    if (s != plat_invalid_socket) plat_sendto(s, message, length, group);
    lock_leave();
}
