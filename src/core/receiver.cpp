// The receiving sockets and their receive threads.
#include "core/receiver.h"

#include "browse/question.h"
#include "dns/message.h"
#include "net/on_link.h"
#include "responder/responder.h"
#include "tandrelo_mdns.h"

namespace {

bool still_receiving(receiver_role role, plat_socket s)
{
    if (role == responder_receiver) return g_running.load() != 0 && g_sock.load() == s;
    return g_browsing.load() != 0 && g_browse_sock.load() == s;
}

// Receives on the socket it was started with until that socket is no longer
// the role's. The thread closes its socket itself as it leaves, so the
// descriptor is never freed (and reused by the system) while a receive may
// still be made on it.
//
// The browser's thread also asks the enumeration question again when its
// deadline has passed. The deadline is looked at once per datagram: the
// thread blocks in the receive and never wakes up just to ask again. It is
// timed on the monotonic clock: a calendar clock that is set back would
// otherwise hold the repeats off for as long as it was set back. The thread
// keeps its own deadline and only shows it in the global, so a thread of an
// earlier start that is still finishing cannot move it.
void receive_loop(receiver_role role, plat_socket s)
{
    std::uint8_t buffer[dns_receive_size];
    const bool asks_again = role == browser_receiver;
    std::uint64_t deadline = 0;
    if (asks_again) {
        deadline = plat_monotonic_ms() + browse_first_seed_ms;
        g_browse_seed_deadline_ms = deadline;
    }
    while (still_receiving(role, s)) {
        if (asks_again && plat_monotonic_ms() >= deadline) {
            browse_send_seed();
            deadline = plat_monotonic_ms() + browse_seed_interval_ms;
            g_browse_seed_deadline_ms = deadline;
        }
        plat_addr4 from = {0, 0};
        long n = plat_recvfrom(s, buffer, sizeof buffer, &from);
        if (n < 0) {
            // Only a failed receive pauses, so that a socket that keeps
            // failing cannot make the thread spin. Whatever any host sends,
            // even an empty datagram, is a datagram and costs no pause.
            if (still_receiving(role, s)) plat_sleep_ms(failed_receive_pause_ms);
            continue;
        }
        if (n == 0) continue;
        process_incoming(buffer, static_cast<std::size_t>(n), from);
    }
    plat_socket_close(s);
}

void worker_thread(std::uintptr_t arg)
{
    receive_loop(responder_receiver, static_cast<plat_socket>(arg));
}

void browse_thread(std::uintptr_t arg)
{
    receive_loop(browser_receiver, static_cast<plat_socket>(arg));
}

}  // namespace

call_result open_receiver_socket_locked(receiver_role role, std::uint16_t port, plat_socket& s)
{
    const bool responder = role == responder_receiver;
    s = plat_udp_socket();
    if (s == plat_invalid_socket) {
        if (!responder) return call_failed(MDNS_ERR_INVALID, "browse socket() failed");
        return call_failed(MDNS_ERR_INVALID, "socket() failed with error %d", plat_socket_error());
    }
    plat_set_reuseaddr(s);  // results of the options are not examined, as above
    if (!plat_bind_any(s, port)) {
        int err = plat_socket_error();
        plat_socket_close(s);
        s = plat_invalid_socket;
        if (!responder) return call_failed(MDNS_ERR_BIND, "browse bind() failed with error %d", err);
        return call_failed(MDNS_ERR_BIND, "bind() on port %d failed with error %d",
                           static_cast<int>(port), err);
    }
    std::uint32_t interface_addr = plat_htonl(0);
    if (g_selected_if[0] != '\0') {
        interface_addr = plat_ipv4_addr(g_selected_if);
        // Only the responder sends its multicast through the selected adapter.
        if (responder) plat_set_multicast_if(s, interface_addr);
    }
    plat_add_membership(s, plat_htonl(mdns_group_host_order), interface_addr);
    if (responder) plat_set_multicast_loop(s, 1);
    plat_set_multicast_ttl(s, 255);
    // The subnets whose hosts get answers, as they are now.
    on_link_read_locked(plat_monotonic_ms());
    return call_ok();
}

plat_thread start_receiver_thread(receiver_role role, plat_socket s)
{
    return plat_thread_start(role == responder_receiver ? worker_thread : browse_thread,
                             static_cast<std::uintptr_t>(s));
}
