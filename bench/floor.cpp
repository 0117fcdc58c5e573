// The floor: the least a responder can do per query on this machine. It
// makes exactly the system calls of the library's reply path, nothing else:
// one receive, one send to the sender, one send to 224.0.0.251 at its own
// port, with a fixed reply (a copy of a real reply of the library, saved by
// bench_loadgen --save-reply) whose ID is patched to the query's.
//
// The socket is set up as the library sets up its own: address reuse, bound
// to 0.0.0.0:port, member of 224.0.0.251 with multicast loop on and TTL 255.
// So, like the library, it receives a copy of each multicast reply it sends;
// it reads and drops those (QR set) without replying.
//
//   bench_floor --port 5355 --reply FILE [--seconds N]
//
// It stops by itself after --seconds (default 120, at most 600).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    int port = 0;
    int seconds = 120;
    std::string reply_file;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string k = argv[i];
        if (k == "--port") port = std::atoi(argv[i + 1]);
        else if (k == "--reply") reply_file = argv[i + 1];
        else if (k == "--seconds") seconds = std::atoi(argv[i + 1]);
    }
    if (port < 1 || port > 65535 || reply_file.empty() || seconds < 1 || seconds > 600) {
        std::fprintf(stderr, "usage: bench_floor --port N --reply FILE [--seconds N]\n");
        return 2;
    }
    std::uint8_t reply[4096];
    FILE* f = std::fopen(reply_file.c_str(), "rb");
    if (f == nullptr) { std::perror(reply_file.c_str()); return 1; }
    std::size_t reply_len = std::fread(reply, 1, sizeof reply, f);
    std::fclose(f);
    if (reply_len < 12) { std::fprintf(stderr, "bench_floor: reply too short\n"); return 1; }

    int fd = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) { std::perror("bind"); return 1; }
    ip_mreq mreq{};
    mreq.imr_multiaddr.s_addr = inet_addr("224.0.0.251");
    mreq.imr_interface.s_addr = htonl(INADDR_ANY);
    setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq);
    std::uint8_t loop = 1, ttl = 255;
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, 1);
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, 1);
    // A receive time-out lets the loop notice the deadline when idle.
    timeval tv = {1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);

    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_addr.s_addr = inet_addr("224.0.0.251");
    group.sin_port = htons(static_cast<std::uint16_t>(port));

    const time_t deadline = time(nullptr) + seconds;
    std::uint8_t rx[4096];
    while (time(nullptr) < deadline) {
        sockaddr_in from{};
        socklen_t flen = sizeof from;
        ssize_t n = recvfrom(fd, rx, sizeof rx, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &flen);
        if (n < 12 || n > static_cast<ssize_t>(sizeof rx)) continue;
        if (rx[2] & 0x80) continue;  // a response (our own multicast copy): dropped
        reply[0] = rx[0];
        reply[1] = rx[1];
        if (from.sin_port != 0)
            sendto(fd, reply, reply_len, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&from), sizeof from);
        sendto(fd, reply, reply_len, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&group), sizeof group);
    }
    close(fd);
    return 0;
}
