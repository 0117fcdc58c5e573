#include "support/test_net.h"

#include <cstdio>

test_socket::~test_socket()
{
    if (s != plat_invalid_socket) plat_socket_close(s);
}

bool test_socket::open(std::uint16_t port, bool join_group, unsigned timeout_ms)
{
    plat_socket_layer_start();
    s = plat_udp_socket();
    if (s == plat_invalid_socket) return false;
    plat_set_reuseaddr(s);
    if (!plat_bind_any(s, port)) return false;
    if (join_group) {
        plat_add_membership(s, plat_ipv4_addr("224.0.0.251"), 0);
        plat_set_multicast_loop(s, 1);
    }
    plat_set_recv_timeout(s, timeout_ms);
    return true;
}

void test_socket::send(const bytes& data, std::uint16_t port, const char* to) const
{
    plat_addr4 addr;
    addr.addr_be = plat_ipv4_addr(to);
    addr.port_be = plat_htons(port);
    plat_sendto(s, data.data(), data.size(), addr);
}

bytes test_socket::receive(plat_addr4* from) const
{
    bytes buffer(9000);
    plat_addr4 sender = {0, 0};
    long n = plat_recvfrom(s, buffer.data(), buffer.size(), &sender);
    if (n <= 0) return {};
    buffer.resize(static_cast<std::size_t>(n));
    if (from != nullptr) *from = sender;
    return buffer;
}

std::vector<bytes> test_socket::drain() const
{
    std::vector<bytes> all;
    for (bytes b = receive(); !b.empty(); b = receive()) all.push_back(b);
    return all;
}

bytes encode_name(const std::string& name)
{
    bytes out;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t dot = name.find('.', start);
        if (dot == std::string::npos) dot = name.size();
        if (dot > start) {
            out.push_back(static_cast<std::uint8_t>(dot - start));
            out.insert(out.end(), name.begin() + static_cast<long>(start),
                       name.begin() + static_cast<long>(dot));
        }
        start = dot + 1;
    }
    out.push_back(0);
    return out;
}

static void put16(bytes& b, std::uint16_t v)
{
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
}

bytes make_query(std::uint16_t id, const std::vector<question>& questions)
{
    bytes b;
    put16(b, id);
    put16(b, 0);
    put16(b, static_cast<std::uint16_t>(questions.size()));
    put16(b, 0);
    put16(b, 0);
    put16(b, 0);
    for (const question& q : questions) {
        bytes n = encode_name(q.name);
        b.insert(b.end(), n.begin(), n.end());
        put16(b, q.qtype);
        put16(b, q.qclass);
    }
    return b;
}

std::uint16_t be16(const bytes& b, std::size_t at)
{
    return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

std::string decode_name(const bytes& data, std::size_t offset)
{
    std::string out;
    while (offset < data.size() && data[offset] != 0) {
        std::size_t len = data[offset];
        if (len > 63 || offset + 1 + len > data.size()) return "";
        if (!out.empty()) out += '.';
        out.append(reinterpret_cast<const char*>(&data[offset + 1]), len);
        offset += 1 + len;
    }
    return out;
}

static bool skip_name(const bytes& data, std::size_t& offset)
{
    while (offset < data.size()) {
        std::size_t len = data[offset];
        if (len == 0) {
            offset++;
            return true;
        }
        if (len > 63) return false;
        offset += 1 + len;
    }
    return false;
}

message parse_message(const bytes& data)
{
    message m;
    if (data.size() < 12) return m;
    m.id = be16(data, 0);
    m.flags = be16(data, 2);
    m.qdcount = be16(data, 4);
    m.ancount = be16(data, 6);
    m.nscount = be16(data, 8);
    m.arcount = be16(data, 10);
    std::size_t offset = 12;
    for (int q = 0; q < m.qdcount; q++) {
        if (!skip_name(data, offset) || offset + 4 > data.size()) return m;
        offset += 4;
    }
    int total = m.ancount + m.nscount + m.arcount;
    for (int i = 0; i < total; i++) {
        record r;
        r.name = decode_name(data, offset);
        if (!skip_name(data, offset) || offset + 10 > data.size()) return m;
        r.type = be16(data, offset);
        r.rrclass = be16(data, offset + 2);
        r.ttl = (static_cast<std::uint32_t>(be16(data, offset + 4)) << 16) | be16(data, offset + 6);
        std::size_t rdlength = be16(data, offset + 8);
        offset += 10;
        if (offset + rdlength > data.size()) return m;
        r.rdata.assign(data.begin() + static_cast<long>(offset),
                       data.begin() + static_cast<long>(offset + rdlength));
        offset += rdlength;
        m.records.push_back(r);
    }
    m.ok = offset == data.size();
    return m;
}

std::string ipv4_text(const bytes& four)
{
    if (four.size() != 4) return "";
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", four[0], four[1], four[2], four[3]);
    return text;
}
