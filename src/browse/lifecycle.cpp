// Starting and stopping the browser, its receive thread and its question.
#include "browse/browse.h"

#include "browse/cache.h"
#include "core/state.h"
#include "dns/message.h"
#include "dns/wire.h"
#include "responder/responder.h"
#include "tandrelo_mdns.h"

std::atomic<plat_socket> g_browse_sock{plat_invalid_socket};
plat_thread g_browse_thread = 0;
std::int32_t g_browse_thread_live = 0;
std::atomic<std::uint64_t> g_browse_seed_deadline_ms{0};

namespace {

bool still_browsing(plat_socket s) { return g_browsing.load() != 0 && g_browse_sock.load() == s; }

// Receives on the socket it was started with until that socket is no longer
// the browser's. Like the responder's thread, it closes its socket itself as
// it leaves, so the descriptor is never freed (and reused by the system)
// while a receive may still be made on it.
//
// The repeats are timed on the monotonic clock: a calendar clock that is set
// back would otherwise hold them off for as long as it was set back.
void browse_thread(std::uintptr_t arg)
{
    plat_socket s = static_cast<plat_socket>(arg);
    std::uint8_t buffer[dns_message_size];
    // The thread keeps its own deadline and only shows it in the global, so
    // a thread of an earlier start that is still finishing cannot move it.
    std::uint64_t deadline = plat_monotonic_ms() + browse_first_seed_ms;
    g_browse_seed_deadline_ms = deadline;
    while (still_browsing(s)) {
        // The deadline is looked at once per datagram: the thread blocks in
        // the receive and never wakes up just to ask again.
        if (plat_monotonic_ms() >= deadline) {
            browse_send_seed();
            deadline = plat_monotonic_ms() + browse_seed_interval_ms;
            g_browse_seed_deadline_ms = deadline;
        }
        plat_addr4 from = {0, 0};
        long n = plat_recvfrom(s, buffer, sizeof buffer, &from);
        if (n > 0) {
            process_incoming(buffer, static_cast<std::size_t>(n), from);
        } else if (still_browsing(s)) {
            plat_sleep_ms(failed_receive_pause_ms);
        }
    }
    plat_socket_close(s);
}

}  // namespace

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
    dns_write_name(buffer, browse_seed_buffer_size, cursor, enumeration_name);
    wire_put_be16(buffer, browse_seed_buffer_size, cursor, dns_type_ptr);  // QTYPE
    wire_put_be16(buffer, browse_seed_buffer_size, cursor, dns_class_in);  // QCLASS
    return cursor;
}

void browse_send_seed()
{
    std::uint8_t message[browse_seed_buffer_size];
    std::size_t length = browse_build_seed(message);
    plat_addr4 group;
    group.addr_be = plat_ipv4_addr(mdns_group);
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

void browse_reset_for_tests()
{
    browse_cache_reset_for_tests();
    g_browsing = 0;
    g_browse_sock = plat_invalid_socket;
    g_browse_thread = 0;
    g_browse_thread_live = 0;
    g_browse_seed_deadline_ms = 0;
}

extern "C" {

TANDRELO_MDNS_API int32_t mdns_browse_start(void)
{
    static std::int32_t wsa_done = 0;  // the socket layer was started here; under the lock

    lock_init();
    lock_enter();
    if (g_browsing.load()) {
        lock_leave();
        set_last_error("browse already running");
        return MDNS_ERR_ALREADY_RUNNING;
    }
    if (responder_open()) {
        // Rides on the responder: its thread feeds the cache from now on.
        g_browsing = 1;
        lock_leave();
        browse_send_seed();
        return MDNS_OK;
    }
    if (!wsa_done) {
        if (!plat_socket_layer_start()) {
            lock_leave();
            set_last_error("WSAStartup failed");
            return MDNS_ERR_INVALID;
        }
        wsa_done = 1;
    }
    plat_socket s = plat_udp_socket();
    if (s == plat_invalid_socket) {
        lock_leave();
        set_last_error("browse socket() failed");
        return MDNS_ERR_INVALID;
    }
    // Option results are deliberately not examined: a failed option, even a
    // failed group join, does not stop the start.
    plat_set_reuseaddr(s);
    if (!plat_bind_any(s, browse_port)) {
        int err = plat_socket_error();
        plat_socket_close(s);
        lock_leave();
        set_last_error_fmt("browse bind() failed with error %d", err);
        return MDNS_ERR_BIND;
    }
    std::uint32_t interface_addr = plat_htonl(0);
    if (g_selected_if[0] != '\0') interface_addr = plat_ipv4_addr(g_selected_if);
    plat_add_membership(s, plat_ipv4_addr(mdns_group), interface_addr);
    plat_set_multicast_ttl(s, 255);

    g_browse_sock = s;
    g_browsing = 1;  // before the thread starts, so its first check finds it set
    // The thread is recorded under the lock, so a stop on another thread
    // always finds it.
    plat_thread thread = plat_thread_start(browse_thread, static_cast<std::uintptr_t>(s));
    if (thread == 0) {
        // A browser that cannot receive is not running: undo and say so.
        g_browsing = 0;
        g_browse_sock = plat_invalid_socket;
        plat_socket_close(s);
        lock_leave();
        set_last_error("CreateThread failed");
        return MDNS_ERR_THREAD;
    }
    g_browse_thread = thread;
    g_browse_thread_live = 1;
    lock_leave();

    browse_send_seed();
    return MDNS_OK;
}

TANDRELO_MDNS_API int32_t mdns_browse_stop(void)
{
    lock_init();
    lock_enter();
    if (!g_browsing.load()) {
        lock_leave();
        return MDNS_OK;
    }
    plat_socket s = g_browse_sock.load();
    plat_thread thread = g_browse_thread;
    bool live = g_browse_thread_live != 0;
    g_browsing = 0;
    g_browse_sock = plat_invalid_socket;
    g_browse_thread_live = 0;
    // Shutting the socket down wakes the blocked receive; the receive thread
    // then closes it. Nothing else can reach it any more: the seed sender
    // looks at g_browse_sock under this lock first.
    if (s != plat_invalid_socket) plat_socket_shutdown(s);
    lock_leave();

    if (thread != 0 && live) plat_thread_wait_and_close(thread, stop_wait_ms);
    return MDNS_OK;
}

}
