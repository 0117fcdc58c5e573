// Hand-made mDNS responses, the way other hosts send them: a header and a
// list of resource records, each written out byte by byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_net.h"

namespace response_builder {

inline void be16_to(bytes& b, std::uint16_t v)
{
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
}

inline void append(bytes& to, const bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

// ID 0, flags 0x8400 (QR, AA), then the four counts.
inline bytes header(std::uint16_t qdcount, std::uint16_t ancount, std::uint16_t nscount = 0,
                    std::uint16_t arcount = 0)
{
    bytes b;
    be16_to(b, 0);       // ID
    be16_to(b, 0x8400);  // flags
    be16_to(b, qdcount);
    be16_to(b, ancount);
    be16_to(b, nscount);
    be16_to(b, arcount);
    return b;
}

// owner (wire form) TYPE CLASS TTL RDLENGTH RDATA; RDLENGTH is the size of
// rdata unless given.
inline bytes rr(const bytes& owner, std::uint16_t type, const bytes& rdata, int rdlength = -1)
{
    bytes b = owner;
    be16_to(b, type);
    be16_to(b, 0x8001);  // IN, cache-flush
    be16_to(b, 0);       // TTL, high half
    be16_to(b, 120);     // TTL, low half
    be16_to(b, static_cast<std::uint16_t>(rdlength < 0 ? rdata.size() : static_cast<std::size_t>(rdlength)));
    append(b, rdata);
    return b;
}

// The same with a TTL of one's choosing (0: a goodbye).
inline bytes rr_ttl(const bytes& owner, std::uint16_t type, const bytes& rdata, std::uint32_t ttl)
{
    bytes b = owner;
    be16_to(b, type);
    be16_to(b, 0x8001);
    be16_to(b, static_cast<std::uint16_t>(ttl >> 16));
    be16_to(b, static_cast<std::uint16_t>(ttl & 0xFFFF));
    be16_to(b, static_cast<std::uint16_t>(rdata.size()));
    append(b, rdata);
    return b;
}

inline bytes a_rdata(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) { return {a, b, c, d}; }

inline bytes srv_rdata(std::uint16_t port, const bytes& target)
{
    bytes b;
    be16_to(b, 0);  // priority
    be16_to(b, 0);  // weight
    be16_to(b, port);
    append(b, target);
    return b;
}

inline bytes txt_rdata(const std::vector<std::string>& strings)
{
    bytes b;
    for (const std::string& s : strings) {
        b.push_back(static_cast<std::uint8_t>(s.size()));
        b.insert(b.end(), s.begin(), s.end());
    }
    return b;
}

// A response whose answer section holds the given records.
inline bytes response(const std::vector<bytes>& answers)
{
    bytes b = header(0, static_cast<std::uint16_t>(answers.size()));
    for (const bytes& r : answers) append(b, r);
    return b;
}

}  // namespace response_builder
