// The few operating-system services the library needs. Everything above this
// header is portable C++; src/platform/posix and src/platform/win32 implement
// it with the same file names on both sides. No OS header leaks through here.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- lock -------------------------------------------------------------------

// Creates the library lock exactly once, however many threads race to be
// first; cheap on every later call.
void plat_lock_init_once();
void plat_lock_enter();
void plat_lock_leave();

// ---- threads, time ------------------------------------------------------------

// An opaque thread handle; 0 means "no thread".
typedef std::uintptr_t plat_thread;

// Starts fn(arg) on a new thread with the default stack size. Returns 0 on
// failure.
plat_thread plat_thread_start(void (*fn)(std::uintptr_t), std::uintptr_t arg);
// Waits at most timeout_ms for the thread to end and releases the handle
// whether or not it ended. Returns 1 if the thread ended in time.
int plat_thread_wait_and_close(plat_thread thread, unsigned timeout_ms);

void plat_sleep_ms(unsigned ms);
// Calendar clock: whole seconds since 1970-01-01 00:00:00 UTC.
std::uint64_t plat_time_seconds();
// A clock that only moves forwards, in milliseconds from an arbitrary start.
std::uint64_t plat_monotonic_ms();

// ---- text ---------------------------------------------------------------------

// Compares two texts ignoring the case of ASCII letters; <0, 0 or >0.
int plat_stricmp(const char* a, const char* b);

// ---- IPv4 addresses -------------------------------------------------------------

// Parses strict dotted-decimal IPv4 text (inet_pton rules). On success stores
// the address in network byte order and returns 1; otherwise returns 0.
int plat_ipv4_parse(const char* text, std::uint32_t* addr_be);
// Converts dotted-decimal text the way inet_addr does; 0xFFFFFFFF on failure.
std::uint32_t plat_ipv4_addr(const char* text);

// ---- UDP sockets ------------------------------------------------------------------

typedef std::uintptr_t plat_socket;
constexpr plat_socket plat_invalid_socket = ~static_cast<plat_socket>(0);

// An IPv4 socket address: address and port, both in network byte order.
struct plat_addr4 {
    std::uint32_t addr_be;
    std::uint16_t port_be;
};

std::uint16_t plat_htons(std::uint16_t v);
std::uint32_t plat_htonl(std::uint32_t v);

// Starts the socket layer (Windows Sockets 2.2); 1 on success. Never undone.
int plat_socket_layer_start();
// The last socket error number of the calling thread.
int plat_socket_error();

plat_socket plat_udp_socket();
// Option setters return 1 on success. Callers that ignore a failed option say so.
int plat_set_reuseaddr(plat_socket s);
int plat_set_multicast_if(plat_socket s, std::uint32_t if_addr_be);
int plat_add_membership(plat_socket s, std::uint32_t group_be, std::uint32_t if_addr_be);
int plat_set_multicast_loop(plat_socket s, std::uint8_t on);
int plat_set_multicast_ttl(plat_socket s, std::uint8_t ttl);
// Binds to 0.0.0.0 and the given port (host byte order); 1 on success.
int plat_bind_any(plat_socket s, std::uint16_t port);

// Sends one datagram; the result is the byte count or -1.
long plat_sendto(plat_socket s, const std::uint8_t* data, std::size_t length,
                 const plat_addr4& to);
// Blocks until one datagram arrives. Returns its length, which is 0 for a
// datagram that carries no bytes, or -1 when the receive failed: a datagram
// longer than capacity (dropped whole, never delivered cut), a socket that
// has been shut down, any other error. One thread at a time receives on a
// socket.
long plat_recvfrom(plat_socket s, std::uint8_t* buffer, std::size_t capacity, plat_addr4* from);
// Shuts the socket down in both directions: a receive blocked on it returns
// -1 at once and later sends and receives fail (Linux may still hand out the
// datagrams that had arrived before). The handle stays allocated.
void plat_socket_shutdown(plat_socket s);
void plat_socket_close(plat_socket s);
// Gives receives on s a time-out. The library's own sockets never have one;
// tests and tools use it so that a missing datagram cannot hang them.
int plat_set_recv_timeout(plat_socket s, unsigned ms);

// ---- network adapters ---------------------------------------------------------------

// One adapter as the system reports it, before any filtering.
struct plat_adapter_raw {
    int oper_up;                  // operationally up
    int software_loopback;        // the loopback adapter
    char name[128];               // friendly name, narrow text, at most 127 bytes
    int ipv4_count;               // IPv4 unicast addresses, system order
    std::uint32_t ipv4_be[8];
    std::uint8_t ipv4_prefix[8];  // the on-link prefix length of each, 0..32
    int has_gateway;              // first IPv4 gateway present
    std::uint32_t gateway_be;
};

// Fills at most capacity records in system order; returns the count, 0 on
// any failure.
int plat_list_adapters(plat_adapter_raw* out, int capacity);
