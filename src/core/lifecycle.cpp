// Starting and stopping the responder.
#include "core/receiver.h"
#include "core/state.h"
#include "platform/platform.h"
#include "responder/responder.h"
#include "tandrelo_mdns.h"

namespace {

call_result start_locked(std::int32_t port)
{
    if (g_running.load())
        return call_failed(MDNS_ERR_ALREADY_RUNNING, "mDNS responder is already running");
    if (port == 0) port = default_port;
    if (static_cast<std::uint32_t>(port) > 65535u)
        return call_failed(MDNS_ERR_INVALID, "Invalid port specified");
    g_port = port;

    plat_socket s = plat_invalid_socket;
    call_result opened =
        open_receiver_socket_locked(responder_receiver, static_cast<std::uint16_t>(port), s);
    if (opened.code != MDNS_OK) return opened;

    g_sock = s;
    g_sock_epoch++;
    g_running = 1;  // before the thread starts, so its first check finds it set
    plat_thread thread = start_receiver_thread(responder_receiver, s);
    g_thread = thread;
    if (thread == 0) {
        g_running = 0;
        g_sock = plat_invalid_socket;
        g_sock_epoch++;
        plat_socket_close(s);
        return call_failed(MDNS_ERR_THREAD, "CreateThread failed");
    }
    return call_ok();
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
    call_result result = start_locked(port);
    lock_leave();
    if (result.code == MDNS_OK) send_announcements();
    return finish_call(result);
}

TANDRELO_MDNS_API int32_t mdns_stop(void)
{
    lock_init();
    lock_enter();
    if (!g_running.load()) {
        lock_leave();
        return MDNS_OK;
    }
    // Every record is withdrawn before the socket goes.
    send_goodbye_all_locked();
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
