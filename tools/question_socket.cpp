// The tool's own small socket: it sends multicast DNS questions for names
// that the library's browser would not ask about by itself. The answers go
// to the group, where the browser caches them; this socket reads nothing.
// The only operating-system code of the tool, with a Windows and a POSIX
// branch.
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "tool.h"

namespace tool {
namespace {

#ifdef _WIN32
using socket_handle = SOCKET;
const socket_handle no_socket = INVALID_SOCKET;
void close_socket(socket_handle s) { closesocket(s); }
bool start_sockets()
{
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}
void end_sockets() { WSACleanup(); }
#else
using socket_handle = int;
const socket_handle no_socket = -1;
void close_socket(socket_handle s) { close(s); }
bool start_sockets() { return true; }
void end_sockets() {}
#endif

constexpr std::size_t datagram_max = 512;

void put16(std::string& out, unsigned value)
{
    out += static_cast<char>((value >> 8) & 0xFF);
    out += static_cast<char>(value & 0xFF);
}

// A query: ID 0, no flags, the questions, class IN with the unicast-response
// bit clear.
std::string query(const std::vector<Question>& questions)
{
    std::string out;
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<unsigned>(questions.size()));
    put16(out, 0);
    put16(out, 0);
    put16(out, 0);
    for (const Question& q : questions) {
        for (const std::string& label : q.labels) {
            out += static_cast<char>(label.size());
            out += label;
        }
        out += '\0';
        put16(out, q.type);
        put16(out, 1);
    }
    return out;
}

}  // namespace

std::vector<std::string> name_labels(const std::string& name)
{
    std::vector<std::string> labels;
    std::string text = name;
    if (!text.empty() && text.back() == '.') text.pop_back();
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = text.find('.', start);
        labels.push_back(text.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return labels;
}

bool valid_dns_name(const std::vector<std::string>& labels)
{
    std::size_t wire = 1;
    for (const std::string& label : labels) {
        if (label.empty() || label.size() > 63) return false;
        wire += 1 + label.size();
    }
    return !labels.empty() && wire <= 255;
}

bool send_questions(const std::vector<Question>& questions, const std::string& adapter, std::string* error)
{
    // Several questions share a datagram, up to the classic 512 bytes.
    std::vector<std::string> datagrams;
    std::vector<Question> batch;
    for (const Question& q : questions) {
        if (!valid_dns_name(q.labels)) continue;
        batch.push_back(q);
        if (batch.size() > 1 && query(batch).size() > datagram_max) {
            batch.pop_back();
            datagrams.push_back(query(batch));
            batch.assign(1, q);
        }
    }
    if (!batch.empty()) datagrams.push_back(query(batch));
    if (datagrams.empty()) return true;

    auto failed = [&](const char* what) {
        if (error != nullptr) *error = what;
        return false;
    };
    if (!start_sockets()) return failed("the socket layer did not start");
    const socket_handle s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == no_socket) {
        end_sockets();
        return failed("socket() failed");
    }
    // From port 5353, beside the browser: responders answer a question from
    // another port to that port alone, out of the browser's hearing.
    const int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one);
    sockaddr_in local;
    std::memset(&local, 0, sizeof local);
    local.sin_family = AF_INET;
    local.sin_port = htons(5353);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local);  // else from any port
    const int ttl = 255;  // an int suits both systems
    const int loop = 1;
    setsockopt(s, IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<const char*>(&ttl), sizeof ttl);
    setsockopt(s, IPPROTO_IP, IP_MULTICAST_LOOP, reinterpret_cast<const char*>(&loop), sizeof loop);
    if (!adapter.empty()) {
        in_addr out_if;
        out_if.s_addr = inet_addr(adapter.c_str());
        setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&out_if), sizeof out_if);
    }
    sockaddr_in group;
    std::memset(&group, 0, sizeof group);
    group.sin_family = AF_INET;
    group.sin_port = htons(5353);
    group.sin_addr.s_addr = inet_addr("224.0.0.251");
    bool sent = false;
    for (const std::string& d : datagrams)
        if (sendto(s, d.data(), static_cast<int>(d.size()), 0, reinterpret_cast<const sockaddr*>(&group),
                   sizeof group) == static_cast<int>(d.size()))
            sent = true;
    close_socket(s);
    end_sockets();
    return sent || failed("sendto() failed");
}

}  // namespace tool
