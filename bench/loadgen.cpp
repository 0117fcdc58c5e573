// mDNS load generator: keeps a window of queries in flight against one
// responder on a loopback address, matches replies by ID, and prints
// replies/s and latency percentiles over a fixed duration.
//
//   bench_loadgen --target 127.0.0.1 --port 5354 --name bench.local --type A
//                 --window 32 --duration 5 [--save-reply FILE]
//
// Only targets that this network namespace delivers to itself are accepted:
// 127.0.0.0/8 and the addresses of its own interfaces. The queries never
// leave from port 5353. The run stops by itself after the duration (at most
// 60 s).
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int max_window = 256;           // the low byte of the ID is the slot
constexpr double max_duration_s = 60.0;
constexpr std::uint64_t reply_timeout_ns = 200 * 1000 * 1000ull;

std::uint64_t now_ns()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<std::uint64_t>(ts.tv_nsec);
}

int type_code(const std::string& t)
{
    if (t == "A") return 1;
    if (t == "PTR") return 12;
    if (t == "TXT") return 16;
    if (t == "SRV") return 33;
    if (t == "ANY") return 255;
    return -1;
}

// A query with one question, QU bit clear, ID patched per send.
std::vector<std::uint8_t> build_query(const std::string& name, int qtype)
{
    std::vector<std::uint8_t> q = {0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0};
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t dot = name.find('.', start);
        if (dot == std::string::npos) dot = name.size();
        std::size_t len = dot - start;
        if (len > 0) {
            q.push_back(static_cast<std::uint8_t>(len));
            q.insert(q.end(), name.begin() + static_cast<long>(start), name.begin() + static_cast<long>(dot));
        }
        start = dot + 1;
    }
    q.push_back(0);
    q.push_back(static_cast<std::uint8_t>(qtype >> 8));
    q.push_back(static_cast<std::uint8_t>(qtype));
    q.push_back(0);
    q.push_back(1);  // class IN
    return q;
}

// True when the address (network order) is in 127.0.0.0/8 or belongs to an
// interface of this namespace: datagrams to it never leave the machine.
bool is_own_address(in_addr target)
{
    if ((ntohl(target.s_addr) >> 24) == 127) return true;
    ifaddrs* all = nullptr;
    if (getifaddrs(&all) != 0) return false;
    bool found = false;
    for (ifaddrs* a = all; a != nullptr && !found; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
        found = reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr == target.s_addr;
    }
    freeifaddrs(all);
    return found;
}

struct slot {
    bool busy;
    std::uint16_t id;
    std::uint64_t sent_ns;
};

void usage()
{
    std::fprintf(stderr,
                 "usage: bench_loadgen --target ADDRESS --port N [--name NAME] [--type A|PTR|SRV|TXT|ANY]\n"
                 "                     [--window 1..256] [--duration SECONDS] [--save-reply FILE]\n");
}

}  // namespace

int main(int argc, char** argv)
{
    std::string target = "127.0.0.1", name = "bench.local", type = "A", save_reply;
    int port = 0, window = 1;
    double duration = 5.0;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string k = argv[i], v = argv[i + 1];
        if (k == "--target") target = v;
        else if (k == "--port") port = std::atoi(v.c_str());
        else if (k == "--name") name = v;
        else if (k == "--type") type = v;
        else if (k == "--window") window = std::atoi(v.c_str());
        else if (k == "--duration") duration = std::atof(v.c_str());
        else if (k == "--save-reply") save_reply = v;
        else { usage(); return 2; }
    }
    if (argc % 2 == 0) { usage(); return 2; }
    int qtype = type_code(type);
    in_addr target_addr;
    if (inet_pton(AF_INET, target.c_str(), &target_addr) != 1 || !is_own_address(target_addr)) {
        std::fprintf(stderr,
                     "bench_loadgen: refusing target %s: only 127.0.0.0/8 and this namespace's "
                     "own addresses are allowed\n",
                     target.c_str());
        return 2;
    }
    if (port < 1 || port > 65535 || qtype < 0 || window < 1 || window > max_window ||
        !(duration > 0) || duration > max_duration_s) {
        usage();
        return 2;
    }

    int fd = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (fd < 0) { std::perror("socket"); return 1; }
    int buf = 1 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buf, sizeof buf);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    local.sin_port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) { std::perror("bind"); return 1; }
    socklen_t llen = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &llen);
    if (ntohs(local.sin_port) == 5353) {
        std::fprintf(stderr, "bench_loadgen: got source port 5353, refusing\n");
        return 1;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr = target_addr;
    to.sin_port = htons(static_cast<std::uint16_t>(port));

    std::vector<std::uint8_t> query = build_query(name, qtype);
    std::vector<slot> slots(static_cast<std::size_t>(window), slot{false, 0, 0});
    std::vector<std::uint8_t> seq(static_cast<std::size_t>(window), 0);
    std::vector<std::uint32_t> latencies_ns;
    latencies_ns.reserve(16u << 20);
    std::uint64_t sent = 0, lost = 0, reply_bytes = 0, strays = 0;
    bool saved = save_reply.empty();

    const std::uint64_t start = now_ns();
    const std::uint64_t end = start + static_cast<std::uint64_t>(duration * 1e9);
    std::uint8_t rx[9000];
    std::uint64_t now = start;
    while (now < end) {
        // Fill the window.
        for (int s = 0; s < window; s++) {
            if (slots[s].busy) continue;
            std::uint16_t id = static_cast<std::uint16_t>((seq[s]++ << 8) | s);
            query[0] = static_cast<std::uint8_t>(id >> 8);
            query[1] = static_cast<std::uint8_t>(id);
            slots[s].busy = true;
            slots[s].id = id;
            slots[s].sent_ns = now_ns();
            sendto(fd, query.data(), query.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            sent++;
        }
        pollfd p = {fd, POLLIN, 0};
        poll(&p, 1, 10);
        for (;;) {
            ssize_t n = recv(fd, rx, sizeof rx, MSG_DONTWAIT);
            if (n < 0) break;
            std::uint64_t t = now_ns();
            if (n < 12 || (rx[2] & 0x80) == 0) { strays++; continue; }
            std::uint16_t id = static_cast<std::uint16_t>((rx[0] << 8) | rx[1]);
            int s = id & 0xFF;
            if (s >= window || !slots[s].busy || slots[s].id != id) { strays++; continue; }
            slots[s].busy = false;
            latencies_ns.push_back(static_cast<std::uint32_t>(t - slots[s].sent_ns));
            reply_bytes += static_cast<std::uint64_t>(n);
            if (!saved) {
                FILE* f = std::fopen(save_reply.c_str(), "wb");
                if (f != nullptr) {
                    std::fwrite(rx, 1, static_cast<std::size_t>(n), f);
                    std::fclose(f);
                }
                saved = true;
            }
        }
        now = now_ns();
        for (int s = 0; s < window; s++) {
            if (slots[s].busy && now - slots[s].sent_ns > reply_timeout_ns) {
                slots[s].busy = false;
                lost++;
            }
        }
    }
    close(fd);

    const double elapsed = static_cast<double>(now - start) / 1e9;
    std::size_t n = latencies_ns.size();
    double p50 = 0, p99 = 0, mx = 0;
    if (n > 0) {
        std::sort(latencies_ns.begin(), latencies_ns.end());
        p50 = latencies_ns[n / 2] / 1000.0;
        p99 = latencies_ns[std::min(n - 1, n * 99 / 100)] / 1000.0;
        mx = latencies_ns[n - 1] / 1000.0;
    }
    std::printf("replies=%zu sent=%llu lost=%llu strays=%llu rps=%.0f p50_us=%.1f p99_us=%.1f "
                "max_us=%.1f reply_bytes=%.0f\n",
                n, static_cast<unsigned long long>(sent), static_cast<unsigned long long>(lost),
                static_cast<unsigned long long>(strays), n / elapsed, p50, p99, mx,
                n > 0 ? static_cast<double>(reply_bytes) / n : 0.0);
    return n > 0 ? 0 : 1;
}
