// UDP sockets on Windows Sockets 2.
//
// Stopping a receive thread. The library wakes a thread out of its blocking
// receive by shutting the socket down from another thread, and may close the
// socket before that thread has noticed. Winsock's shutdown() on an
// unconnected UDP socket only marks the socket: Windows does not document
// that it wakes a blocked recvfrom(), and under Wine it does not. So each
// socket here carries a wake event. A receive runs as an overlapped operation
// and waits for its completion or for the wake event, which shutdown and
// close set and which stays set, so that a receive that starts after the
// shutdown fails at once instead of blocking for good. The completion event
// belongs to the socket too, which is why one thread at a time receives.
//
// A socket handle is the address of a slot in a fixed table. The slot holds
// the Winsock socket, the two events and a count of users: the owner's one
// reference plus one for each receive in progress. plat_socket_close wakes
// the receive and drops the owner's reference; whoever drops the last one
// closes the Winsock socket and frees the slot. A receive therefore never
// works on a Winsock socket that has been closed and reused meanwhile.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <climits>
#include <cstring>

#include "platform/faults.h"
#include "platform/platform.h"

// From mswsock.h, which older mingw-w64 headers lack.
#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace {

struct socket_slot {
    std::atomic<int> claimed;     // the slot belongs to an open or closing socket
    std::atomic<int> users;       // the owner's reference plus receives in progress
    std::atomic<int> closing;     // plat_socket_close has run
    std::atomic<int> shut;        // shut down: receives fail at once
    std::atomic<SOCKET> sock;
    std::atomic<unsigned> timeout_ms;  // 0: receives wait without limit
    // Both manual-reset; made when the slot is first used and kept for the
    // slot's later sockets.
    HANDLE wake;                  // set by shutdown and close, stays set
    HANDLE completed;             // completion of the overlapped receive
};

constexpr int max_sockets = 64;
socket_slot g_slots[max_sockets];
std::atomic<unsigned> g_next_slot{0};

socket_slot* slot_of(plat_socket s)
{
    const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(&g_slots[0]);
    if (s < first || s - first >= sizeof g_slots || (s - first) % sizeof(socket_slot) != 0) {
        WSASetLastError(WSAENOTSOCK);
        return nullptr;
    }
    return reinterpret_cast<socket_slot*>(s);
}

// The Winsock socket of an open slot, or INVALID_SOCKET (with WSAENOTSOCK as
// the last error) for a handle that is not, or no longer, a socket.
SOCKET sock_of(plat_socket s)
{
    socket_slot* slot = slot_of(s);
    SOCKET sock = slot != nullptr ? slot->sock.load() : INVALID_SOCKET;
    if (sock == INVALID_SOCKET) WSASetLastError(WSAENOTSOCK);
    return sock;
}

bool slot_acquire(socket_slot* slot)
{
    int n = slot->users.load();
    while (n > 0) {
        if (slot->users.compare_exchange_weak(n, n + 1)) return true;
    }
    WSASetLastError(WSAENOTSOCK);
    return false;
}

void slot_release(socket_slot* slot)
{
    if (slot->users.fetch_sub(1) != 1) return;
    int error = WSAGetLastError();
    closesocket(slot->sock.exchange(INVALID_SOCKET));
    plat_fault_count_socket(-1);
    slot->claimed.store(0);
    WSASetLastError(error);
}

long receive(socket_slot* slot, std::uint8_t* buffer, std::size_t capacity, plat_addr4* from)
{
    if (slot->shut.load()) {
        WSASetLastError(WSAESHUTDOWN);
        return -1;
    }
    SOCKET sock = slot->sock.load();
    struct sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    INT sa_len = sizeof sa;
    WSABUF buf;
    buf.len = capacity > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(capacity);
    buf.buf = reinterpret_cast<CHAR*>(buffer);
    DWORD received = 0;
    DWORD flags = 0;
    WSAOVERLAPPED ov;
    std::memset(&ov, 0, sizeof ov);
    ov.hEvent = slot->completed;
    ResetEvent(slot->completed);

    if (WSARecvFrom(sock, &buf, 1, &received, &flags, reinterpret_cast<struct sockaddr*>(&sa),
                    &sa_len, &ov, nullptr) != 0) {
        // A datagram longer than the buffer fails here or at completion with
        // WSAEMSGSIZE; Winsock has then dropped its tail, so it is refused.
        if (WSAGetLastError() != WSA_IO_PENDING) return -1;
        HANDLE events[2] = {slot->wake, slot->completed};
        unsigned timeout = slot->timeout_ms.load();
        DWORD woke = WaitForMultipleObjects(2, events, FALSE, timeout != 0 ? timeout : INFINITE);
        if (woke != WAIT_OBJECT_0 + 1) {
            // The receive must be over before its buffer and address go out
            // of scope: cancel it and wait until the cancellation completes.
            // It may have completed just before; a datagram is still taken
            // after a time-out, but not after a shutdown.
            CancelIoEx(reinterpret_cast<HANDLE>(sock), &ov);
            BOOL done = WSAGetOverlappedResult(sock, &ov, &received, TRUE, &flags);
            if (woke == WAIT_OBJECT_0 || !done) {
                WSASetLastError(woke == WAIT_OBJECT_0 ? WSAESHUTDOWN : WSAETIMEDOUT);
                return -1;
            }
        } else if (!WSAGetOverlappedResult(sock, &ov, &received, FALSE, &flags)) {
            return -1;
        }
    }
    if (from != nullptr) {
        from->addr_be = sa.sin_addr.s_addr;
        from->port_be = sa.sin_port;
    }
    return static_cast<long>(received);
}

}  // namespace

#if defined(TANDRELO_PLATFORM_FAULTS)
void plat_fault_set_socket_error(int error) { WSASetLastError(error); }
#endif

int plat_socket_layer_start()
{
    if (plat_fault_injected(plat_fault_socket_layer_start)) return 0;
    // Each successful WSAStartup counts one more user of the socket layer;
    // the library never calls WSACleanup, so the count only grows.
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

int plat_socket_error() { return WSAGetLastError(); }

plat_socket plat_udp_socket()
{
    if (plat_fault_injected(plat_fault_udp_socket)) return plat_invalid_socket;
    SOCKET sock = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (sock == INVALID_SOCKET) return plat_invalid_socket;
    // Windows reports an ICMP port-unreachable for an earlier send (a reply
    // to a querier that has gone) as a failure of the next receive. Turned
    // off, so that no other host can make our receives fail; the result is
    // not examined, a system without the option behaves the same.
    BOOL report_resets = FALSE;
    DWORD returned = 0;
    WSAIoctl(sock, SIO_UDP_CONNRESET, &report_resets, sizeof report_resets, nullptr, 0, &returned,
             nullptr, nullptr);
    // The search starts after the slot taken last, so a handle value comes
    // back only after many other sockets: a thread that still holds a closed
    // handle does not meet the next socket under it.
    const unsigned first = g_next_slot.fetch_add(1);
    for (int i = 0; i < max_sockets; ++i) {
        socket_slot& slot = g_slots[(first + static_cast<unsigned>(i)) % max_sockets];
        int free_slot = 0;
        if (!slot.claimed.compare_exchange_strong(free_slot, 1)) continue;
        if (slot.wake == nullptr) slot.wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (slot.completed == nullptr) slot.completed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (slot.wake == nullptr || slot.completed == nullptr) {
            int error = static_cast<int>(GetLastError());
            slot.claimed.store(0);
            closesocket(sock);
            WSASetLastError(error);
            return plat_invalid_socket;
        }
        ResetEvent(slot.wake);
        slot.shut.store(0);
        slot.closing.store(0);
        slot.timeout_ms.store(0);
        slot.sock.store(sock);
        slot.users.store(1);
        plat_fault_count_socket(1);
        return reinterpret_cast<plat_socket>(&slot);
    }
    closesocket(sock);
    WSASetLastError(WSAEMFILE);
    return plat_invalid_socket;
}

int plat_set_reuseaddr(plat_socket s)
{
    if (plat_fault_injected(plat_fault_set_reuseaddr, s)) return 0;
    int one = 1;
    return setsockopt(sock_of(s), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one),
                      sizeof one) == 0;
}

int plat_set_multicast_if(plat_socket s, std::uint32_t if_addr_be)
{
    if (plat_fault_injected(plat_fault_set_multicast_if, s)) return 0;
    IN_ADDR a;
    a.s_addr = if_addr_be;
    return setsockopt(sock_of(s), IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&a),
                      sizeof a) == 0;
}

int plat_add_membership(plat_socket s, std::uint32_t group_be, std::uint32_t if_addr_be)
{
    if (plat_fault_injected(plat_fault_add_membership, s)) return 0;
    struct ip_mreq mreq;
    mreq.imr_multiaddr.s_addr = group_be;
    mreq.imr_interface.s_addr = if_addr_be;
    return setsockopt(sock_of(s), IPPROTO_IP, IP_ADD_MEMBERSHIP,
                      reinterpret_cast<const char*>(&mreq), sizeof mreq) == 0;
}

// Winsock documents these two options as DWORD values. The library sends the
// BSD form, one byte with option length 1, which Wine takes as the whole
// value (reading the option back gives exactly that byte).
int plat_set_multicast_loop(plat_socket s, std::uint8_t on)
{
    if (plat_fault_injected(plat_fault_set_multicast_loop, s)) return 0;
    return setsockopt(sock_of(s), IPPROTO_IP, IP_MULTICAST_LOOP, reinterpret_cast<const char*>(&on),
                      1) == 0;
}

int plat_set_multicast_ttl(plat_socket s, std::uint8_t ttl)
{
    if (plat_fault_injected(plat_fault_set_multicast_ttl, s)) return 0;
    return setsockopt(sock_of(s), IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<const char*>(&ttl),
                      1) == 0;
}

int plat_bind_any(plat_socket s, std::uint16_t port)
{
    if (plat_fault_injected(plat_fault_bind, s)) return 0;
    struct sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    sa.sin_port = htons(port);
    return bind(sock_of(s), reinterpret_cast<struct sockaddr*>(&sa), sizeof sa) == 0;
}

long plat_sendto(plat_socket s, const std::uint8_t* data, std::size_t length, const plat_addr4& to)
{
    if (plat_fault_injected(plat_fault_sendto, s)) return -1;
    if (length > INT_MAX) {
        WSASetLastError(WSAEMSGSIZE);
        return -1;
    }
    struct sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = to.addr_be;
    sa.sin_port = to.port_be;
    int n = sendto(sock_of(s), reinterpret_cast<const char*>(data), static_cast<int>(length), 0,
                   reinterpret_cast<struct sockaddr*>(&sa), sizeof sa);
    return n == SOCKET_ERROR ? -1 : n;
}

long plat_recvfrom(plat_socket s, std::uint8_t* buffer, std::size_t capacity, plat_addr4* from)
{
    if (plat_fault_injected(plat_fault_recvfrom, s)) return -1;
    socket_slot* slot = slot_of(s);
    if (slot == nullptr || !slot_acquire(slot)) return -1;
    long n = receive(slot, buffer, capacity, from);
    slot_release(slot);
    return n;
}

void plat_socket_shutdown(plat_socket s)
{
    socket_slot* slot = slot_of(s);
    if (slot == nullptr || !slot_acquire(slot)) return;
    slot->shut.store(1);
    SetEvent(slot->wake);
    // Later sends fail as well. Winsock answers success here even though the
    // socket is not connected.
    shutdown(slot->sock.load(), SD_BOTH);
    slot_release(slot);
}

void plat_socket_close(plat_socket s)
{
    socket_slot* slot = slot_of(s);
    if (slot == nullptr || slot->users.load() == 0 || slot->closing.exchange(1) != 0) return;
    // A receive still waiting on the socket wakes, leaves and drops its own
    // reference; the last reference closes the Winsock socket.
    slot->shut.store(1);
    SetEvent(slot->wake);
    slot_release(slot);
}

// Overlapped receives ignore SO_RCVTIMEO, so the time-out is kept with the
// socket and bounds the receive's wait.
int plat_set_recv_timeout(plat_socket s, unsigned ms)
{
    if (plat_fault_injected(plat_fault_set_recv_timeout, s)) return 0;
    socket_slot* slot = slot_of(s);
    if (slot == nullptr || slot->sock.load() == INVALID_SOCKET) return 0;
    slot->timeout_ms.store(ms);
    return 1;
}
