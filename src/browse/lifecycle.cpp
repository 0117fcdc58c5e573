// Starting and stopping the browser: on the responder's socket while the
// responder runs, otherwise on a socket and receive thread of its own.
#include "browse/followup.h"
#include "browse/question.h"
#include "core/receiver.h"
#include "core/state.h"
#include "platform/platform.h"
#include "tandrelo_mdns.h"

namespace {

// The socket layer was started by a browser start; under the lock.
std::int32_t g_browse_socket_layer_started = 0;

call_result browse_start_locked()
{
    if (g_browsing.load())
        return call_failed(MDNS_ERR_ALREADY_RUNNING, "browse already running");
    followup_forget_locked();  // a new start asks afresh
    if (responder_open()) {
        // Rides on the responder: its thread feeds the cache from now on.
        g_browsing = 1;
        return call_ok();
    }
    if (!g_browse_socket_layer_started) {
        if (!plat_socket_layer_start()) return call_failed(MDNS_ERR_INVALID, "WSAStartup failed");
        g_browse_socket_layer_started = 1;
    }
    plat_socket s = plat_invalid_socket;
    call_result opened = open_receiver_socket_locked(browser_receiver, browse_port, s);
    if (opened.code != MDNS_OK) return opened;

    g_browse_sock = s;
    g_browsing = 1;  // before the thread starts, so its first check finds it set
    // The thread is recorded under the lock, so a stop on another thread
    // always finds it.
    plat_thread thread = start_receiver_thread(browser_receiver, s);
    if (thread == 0) {
        // A browser that cannot receive is not running: undo and say so.
        g_browsing = 0;
        g_browse_sock = plat_invalid_socket;
        plat_socket_close(s);
        return call_failed(MDNS_ERR_THREAD, "CreateThread failed");
    }
    g_browse_thread = thread;
    g_browse_thread_live = 1;
    return call_ok();
}

}  // namespace

extern "C" {

TANDRELO_MDNS_API int32_t mdns_browse_start(void)
{
    lock_init();
    lock_enter();
    call_result result = browse_start_locked();
    lock_leave();
    if (result.code == MDNS_OK) browse_send_seed();
    return finish_call(result);
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
