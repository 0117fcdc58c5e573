// Starting and stopping the responder, and its receive thread.
#include "core/state.h"
#include "dns/message.h"
#include "platform/platform.h"
#include "responder/responder.h"
#include "tandrelo_mdns.h"

namespace {

bool still_serving(plat_socket s) { return g_running.load() != 0 && g_sock.load() == s; }

// Receives on the socket it was started with until that socket is no longer
// the responder's. The thread closes its socket itself as it leaves, so the
// descriptor is never freed (and reused by the system) while a receive may
// still be made on it.
void worker_thread(std::uintptr_t arg)
{
    plat_socket s = static_cast<plat_socket>(arg);
    std::uint8_t buffer[dns_message_size];
    while (still_serving(s)) {
        plat_addr4 from = {0, 0};
        long n = plat_recvfrom(s, buffer, sizeof buffer, &from);
        if (n > 0) {
            process_incoming(buffer, static_cast<std::size_t>(n), from);
        } else if (still_serving(s)) {
            plat_sleep_ms(failed_receive_pause_ms);
        }
    }
    plat_socket_close(s);
}

}  // namespace

extern "C" {

TANDRELO_MDNS_API int32_t mdns_start(int32_t port)
{
    lock_init();
    if (!plat_socket_layer_start()) {
        set_last_error("WSAStartup failed");
        return MDNS_ERR_INVALID;
    }
    lock_enter();
    if (g_running.load()) {
        lock_leave();
        set_last_error("mDNS responder is already running");
        return MDNS_ERR_ALREADY_RUNNING;
    }
    if (port == 0) port = default_port;
    if (static_cast<std::uint32_t>(port) > 65535u) {
        lock_leave();
        set_last_error("Invalid port specified");
        return MDNS_ERR_INVALID;
    }
    g_port = port;

    plat_socket s = plat_udp_socket();
    if (s == plat_invalid_socket) {
        int err = plat_socket_error();
        lock_leave();
        set_last_error_fmt("socket() failed with error %d", err);
        return MDNS_ERR_INVALID;
    }
    // Option results are deliberately not examined: a failed option, even a
    // failed group join, does not stop the start.
    plat_set_reuseaddr(s);
    if (!plat_bind_any(s, static_cast<std::uint16_t>(port))) {
        int err = plat_socket_error();
        plat_socket_close(s);
        lock_leave();
        set_last_error_fmt("bind() on port %d failed with error %d", port, err);
        return MDNS_ERR_BIND;
    }
    std::uint32_t group = plat_ipv4_addr(mdns_group);
    std::uint32_t interface_addr = plat_htonl(0);
    if (g_selected_if[0] != '\0') {
        interface_addr = plat_ipv4_addr(g_selected_if);
        plat_set_multicast_if(s, interface_addr);
    }
    plat_add_membership(s, group, interface_addr);
    plat_set_multicast_loop(s, 1);
    plat_set_multicast_ttl(s, 255);

    g_sock = s;
    g_sock_epoch++;
    g_running = 1;  // before the thread starts, so its first check finds it set
    plat_thread thread = plat_thread_start(worker_thread, static_cast<std::uintptr_t>(s));
    g_thread = thread;
    if (thread == 0) {
        g_running = 0;
        g_sock = plat_invalid_socket;
        g_sock_epoch++;
        plat_socket_close(s);
        lock_leave();
        set_last_error("CreateThread failed");
        return MDNS_ERR_THREAD;
    }
    lock_leave();

    send_announcements();
    return MDNS_OK;
}

TANDRELO_MDNS_API int32_t mdns_stop(void)
{
    lock_init();
    lock_enter();
    if (!g_running.load()) {
        lock_leave();
        return MDNS_OK;
    }
    plat_socket s = g_sock.load();
    g_running = 0;
    g_sock = plat_invalid_socket;
    g_sock_epoch++;
    // Shutting the socket down wakes the blocked receive; the receive thread
    // then closes it. Nothing else can reach it any more: every other user
    // checks the epoch under this lock first.
    if (s != plat_invalid_socket) plat_socket_shutdown(s);
    plat_thread thread = g_thread;
    lock_leave();

    if (thread != 0) plat_thread_wait_and_close(thread, stop_wait_ms);
    return MDNS_OK;
}

}
