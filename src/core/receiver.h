// The two receiving sockets, the responder's and the browser's own: opening
// and configuring them, and the receive thread that serves each.
#pragma once

#include <cstdint>

#include "core/state.h"
#include "platform/platform.h"

enum receiver_role {
    responder_receiver,  // g_sock, g_running, worker_thread
    browser_receiver,    // g_browse_sock, g_browsing, browse_thread (asks again every 30 s)
};

// Opens a UDP socket for the role, sets its options, binds it to the port
// and joins the group, in the order and with the messages each role has.
// Option results are not examined: a failed option, even a failed group
// join, does not stop the start. On success s holds the socket; on failure
// nothing is left open. The caller holds the lock.
call_result open_receiver_socket_locked(receiver_role role, std::uint16_t port, plat_socket& s);

// Starts the role's receive thread on s; 0 when it could not be created.
// The thread receives until s is no longer the role's socket and then
// closes s itself.
plat_thread start_receiver_thread(receiver_role role, plat_socket s);
