// Failures that tests inject into the platform layer, and the counts that
// show whether sockets and threads are given back.
//
// Only the internal test library is built with TANDRELO_PLATFORM_FAULTS and
// faults.cpp; in the shipped library every check below is an inline
// function that injects nothing and counts nothing, and compiles away.
//
// Both backends ask plat_fault_injected at the top of each call that can
// fail: the socket layer start-up, socket creation, each option setter,
// bind, receive, send and thread start. A table of zeros injects nothing,
// so a program that never writes g_plat_faults behaves as if this module
// did not exist. The backends also count the sockets they open and close and
// the threads they start and that end, so a test can see that the library
// gave every one of them back. Includes no operating-system header.
#pragma once

#include <atomic>

#include "platform/platform.h"

enum plat_fault_point {
    plat_fault_socket_layer_start,
    plat_fault_udp_socket,
    plat_fault_set_reuseaddr,
    plat_fault_set_multicast_if,
    plat_fault_add_membership,
    plat_fault_set_multicast_loop,
    plat_fault_set_multicast_ttl,
    plat_fault_set_recv_timeout,
    plat_fault_bind,
    plat_fault_recvfrom,
    plat_fault_sendto,
    plat_fault_thread_start,
    plat_fault_point_count
};

// fail[p]: 0 injects nothing; n > 0 makes the next n calls at p fail;
// plat_fault_always (any negative value) makes every call at p fail.
constexpr int plat_fault_always = -1;

struct plat_fault_table {
    std::atomic<int> fail[plat_fault_point_count];
    // The socket error number that an injected failure leaves for
    // plat_socket_error; 0 leaves the error as it was.
    std::atomic<int> error;
    // When set, socket calls fail only on this socket; calls that take no
    // socket (start-up, creation, thread start) are not filtered.
    std::atomic<bool> only_on_socket;
    std::atomic<plat_socket> socket;
    // Calls seen at each point (on the chosen socket only, when one is
    // chosen), and how many of them failed by injection.
    std::atomic<long> calls[plat_fault_point_count];
    std::atomic<long> injected[plat_fault_point_count];
    // Sockets created minus sockets released, and threads started minus
    // threads that have ended: never reset, so a test compares them with
    // the values it saw before.
    std::atomic<long> open_sockets;
    std::atomic<long> live_threads;
    // A fake adapter list that plat_list_adapters returns instead of asking
    // the system, when adapters is not null. It must outlive its use.
    std::atomic<const plat_adapter_raw*> adapters;
    std::atomic<int> adapter_count;
};

#if defined(TANDRELO_PLATFORM_FAULTS)

extern plat_fault_table g_plat_faults;

// Counts the call and says whether it is to fail; when it is, the injected
// error number has been made the calling thread's socket error.
bool plat_fault_injected(plat_fault_point point, plat_socket s = plat_invalid_socket);

// The backend's counts of its own resources.
inline void plat_fault_count_socket(long change) { g_plat_faults.open_sockets += change; }
inline void plat_fault_count_thread(long change) { g_plat_faults.live_threads += change; }

// Whether a fake adapter list is in place, and the copy of it into out (at
// most capacity records); the count copied.
bool plat_fault_adapters_faked();
int plat_fault_list_adapters(plat_adapter_raw* out, int capacity);

// Puts every injection back to zero (the counts of sockets and threads stay).
void plat_fault_clear();

// Implemented by each backend: makes error the calling thread's socket error.
void plat_fault_set_socket_error(int error);

#else

inline bool plat_fault_injected(plat_fault_point, plat_socket = plat_invalid_socket) { return false; }
inline void plat_fault_count_socket(long) {}
inline void plat_fault_count_thread(long) {}
inline bool plat_fault_adapters_faked() { return false; }
inline int plat_fault_list_adapters(plat_adapter_raw*, int) { return 0; }

#endif

