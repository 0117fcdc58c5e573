// UDP sockets on BSD sockets.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>

#include "platform/faults.h"
#include "platform/platform.h"

static int fd_of(plat_socket s) { return static_cast<int>(s); }

#if defined(TANDRELO_PLATFORM_FAULTS)
void plat_fault_set_socket_error(int error) { errno = error; }
#endif

int plat_socket_layer_start()
{
    if (plat_fault_injected(plat_fault_socket_layer_start)) return 0;
    return 1;
}

int plat_socket_error() { return errno; }

plat_socket plat_udp_socket()
{
    if (plat_fault_injected(plat_fault_udp_socket)) return plat_invalid_socket;
    int fd = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (fd < 0) return plat_invalid_socket;
    plat_fault_count_socket(1);
    return static_cast<plat_socket>(fd);
}

int plat_set_reuseaddr(plat_socket s)
{
    if (plat_fault_injected(plat_fault_set_reuseaddr, s)) return 0;
    int one = 1;
    return setsockopt(fd_of(s), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0;
}

int plat_set_multicast_if(plat_socket s, std::uint32_t if_addr_be)
{
    if (plat_fault_injected(plat_fault_set_multicast_if, s)) return 0;
    struct in_addr a;
    a.s_addr = if_addr_be;
    return setsockopt(fd_of(s), IPPROTO_IP, IP_MULTICAST_IF, &a, sizeof a) == 0;
}

int plat_add_membership(plat_socket s, std::uint32_t group_be, std::uint32_t if_addr_be)
{
    if (plat_fault_injected(plat_fault_add_membership, s)) return 0;
    struct ip_mreq mreq;
    mreq.imr_multiaddr.s_addr = group_be;
    mreq.imr_interface.s_addr = if_addr_be;
    return setsockopt(fd_of(s), IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq) == 0;
}

int plat_set_multicast_loop(plat_socket s, std::uint8_t on)
{
    if (plat_fault_injected(plat_fault_set_multicast_loop, s)) return 0;
    return setsockopt(fd_of(s), IPPROTO_IP, IP_MULTICAST_LOOP, &on, 1) == 0;
}

int plat_set_multicast_ttl(plat_socket s, std::uint8_t ttl)
{
    if (plat_fault_injected(plat_fault_set_multicast_ttl, s)) return 0;
    return setsockopt(fd_of(s), IPPROTO_IP, IP_MULTICAST_TTL, &ttl, 1) == 0;
}

int plat_bind_any(plat_socket s, std::uint16_t port)
{
    if (plat_fault_injected(plat_fault_bind, s)) return 0;
    struct sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    sa.sin_port = htons(port);
    return bind(fd_of(s), reinterpret_cast<struct sockaddr*>(&sa), sizeof sa) == 0;
}

long plat_sendto(plat_socket s, const std::uint8_t* data, std::size_t length, const plat_addr4& to)
{
    if (plat_fault_injected(plat_fault_sendto, s)) return -1;
    struct sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = to.addr_be;
    sa.sin_port = to.port_be;
    return static_cast<long>(sendto(fd_of(s), data, length, MSG_NOSIGNAL,
                                    reinterpret_cast<struct sockaddr*>(&sa), sizeof sa));
}

long plat_recvfrom(plat_socket s, std::uint8_t* buffer, std::size_t capacity, plat_addr4* from)
{
    if (plat_fault_injected(plat_fault_recvfrom, s)) return -1;
    struct sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    socklen_t sa_len = sizeof sa;
    // Linux hands back a long datagram cut to the buffer; MSG_TRUNC makes it
    // report the real length instead, so such a datagram can be refused whole
    // as Winsock does.
    ssize_t n = recvfrom(fd_of(s), buffer, capacity, MSG_TRUNC,
                         reinterpret_cast<struct sockaddr*>(&sa), &sa_len);
    if (n > static_cast<ssize_t>(capacity)) {
        errno = EMSGSIZE;
        return -1;
    }
    // A socket that has been shut down answers 0 at once, forever, as if an
    // empty datagram had come; it gives no sender, which every datagram has.
    if (n == 0 && sa_len == 0) {
        errno = ESHUTDOWN;
        return -1;
    }
    if (from != nullptr) {
        from->addr_be = sa.sin_addr.s_addr;
        from->port_be = sa.sin_port;
    }
    return static_cast<long>(n);
}

// On Linux, shutdown of an unconnected UDP socket answers ENOTCONN but still
// marks it shut and wakes every receive blocked on it, which is all we need.
void plat_socket_shutdown(plat_socket s) { shutdown(fd_of(s), SHUT_RDWR); }

void plat_socket_close(plat_socket s)
{
    plat_fault_count_socket(-1);
    close(fd_of(s));
}

int plat_set_recv_timeout(plat_socket s, unsigned ms)
{
    if (plat_fault_injected(plat_fault_set_recv_timeout, s)) return 0;
    struct timeval tv;
    tv.tv_sec = ms / 1000;
    tv.tv_usec = static_cast<long>(ms % 1000) * 1000L;
    return setsockopt(fd_of(s), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}
