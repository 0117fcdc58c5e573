#include "stress/datagrams.h"

#include <string>
#include <vector>

#include "support/response_builder.h"
#include "support/test_net.h"

namespace {

using namespace response_builder;
using rng = std::mt19937;

constexpr std::uint16_t A = 1, PTR = 12, TXT = 16, SRV = 33, AAAA = 28, ANY = 255;

int below(rng& r, int n) { return std::uniform_int_distribution<int>(0, n - 1)(r); }
std::uint8_t any_byte(rng& r) { return static_cast<std::uint8_t>(below(r, 256)); }

template <typename T, std::size_t N>
const T& one_of(rng& r, const T (&table)[N])
{
    return table[static_cast<std::size_t>(below(r, static_cast<int>(N)))];
}

const char* const own_hosts[] = {"stress-a.local", "stress-b.local", "Stress-C.local",
                                  "tandrelo.local"};
const char* const asked_names[] = {"_services._dns-sd._udp.local", "_http._tcp.local",
                                   "_ipp._tcp.local", "Web._http._tcp.local",
                                   "S7._stress._udp.local", "nobody.local"};

bytes query(rng& r)
{
    static const std::uint16_t types[] = {A, PTR, TXT, SRV, AAAA, ANY};
    std::vector<question> questions;
    for (int n = 1 + below(r, 3); n > 0; n--) {
        const char* name = below(r, 3) == 0 ? one_of(r, own_hosts) : one_of(r, asked_names);
        const std::uint16_t qclass = below(r, 4) == 0 ? 0x8001 : 1;  // now and then unicast
        questions.push_back({name, one_of(r, types), qclass});
    }
    return make_query(static_cast<std::uint16_t>(below(r, 65536)), questions);
}

// A service of one of 400 peers, more than the browse cache holds; some
// instance labels hold quotes, backslashes and bytes that are not UTF-8.
bytes announcement(rng& r)
{
    const int peer = below(r, 400);
    const std::string instance =
        (below(r, 8) == 0 ? "q\"b\\\xff-" : "peer-") + std::to_string(peer);
    const std::string host = "peer-" + std::to_string(peer) + ".local";
    const bytes owner = lab(instance) + encode_name("_http._tcp.local");
    return response({rr(encode_name("_http._tcp.local"), PTR, owner),
                     rr(owner, SRV,
                        srv_rdata(static_cast<std::uint16_t>(1 + peer), encode_name(host))),
                     rr(owner, TXT, txt_rdata({"path=/", "n=" + std::to_string(peer)})),
                     rr(encode_name(host), A, a_rdata(10, 1, static_cast<std::uint8_t>(peer >> 8),
                                                      static_cast<std::uint8_t>(peer & 0xFF)))});
}

// An address record for one of the responder's possible host names: a
// claim on it, or now and then a goodbye (TTL 0), which claims nothing.
bytes claim(rng& r)
{
    const std::uint32_t ttl = below(r, 4) == 0 ? 0 : 120;
    return response({rr_ttl(encode_name(one_of(r, own_hosts)), A, a_rdata(10, 66, 0, any_byte(r)), ttl)});
}

// The names of types and instances that lead the browser to follow-up
// questions, or goodbyes of cached answers.
bytes follow_ups(rng& r)
{
    const int peer = below(r, 400);
    const std::string type = "_t" + std::to_string(peer % 40) + "._tcp.local";
    const bytes instance = lab("peer-" + std::to_string(peer)) + encode_name(type);
    const std::uint32_t ttl = below(r, 3) == 0 ? 0 : 4500;
    return response({rr_ttl(encode_name("_services._dns-sd._udp.local"), PTR, encode_name(type), ttl),
                     rr_ttl(encode_name(type), PTR, instance, ttl),
                     rr_ttl(instance, SRV, srv_rdata(80, encode_name("peer-" + std::to_string(peer) + ".local")),
                            ttl)});
}

// A query of up to 9000 bytes whose questions all point to one name: the
// most work one datagram can ask for.
bytes repeated_question(rng& r)
{
    bytes d = make_query(static_cast<std::uint16_t>(below(r, 65536)),
                         {{one_of(r, asked_names), below(r, 2) ? PTR : ANY, 1}});
    std::size_t count = 1;
    const std::size_t size = 100 + static_cast<std::size_t>(below(r, 8900));
    while (d.size() + 6 <= size) {
        d.insert(d.end(), {0xC0, 12, 0, static_cast<std::uint8_t>(below(r, 2) ? PTR : ANY), 0, 1});
        count++;
    }
    d[4] = static_cast<std::uint8_t>(count >> 8);
    d[5] = static_cast<std::uint8_t>(count);
    return d;
}

bytes spoil(bytes d, rng& r)
{
    switch (below(r, 6)) {
    case 0:  // cut anywhere, the header too
        d.resize(static_cast<std::size_t>(below(r, static_cast<int>(d.size()))));
        break;
    case 1:  // a few bytes changed
        for (int n = 1 + below(r, 8); n > 0; n--) {
            d[static_cast<std::size_t>(below(r, static_cast<int>(d.size())))] = any_byte(r);
        }
        break;
    case 2:  // every count at its largest
        for (std::size_t i = 4; i < 12 && i < d.size(); i++) d[i] = 0xFF;
        break;
    case 3:  // the first name becomes a pointer to itself
        if (d.size() > 13) {
            d[12] = 0xC0;
            d[13] = 0x0C;
        }
        break;
    case 4:  // noise
        d.resize(static_cast<std::size_t>(below(r, 600)));
        for (std::uint8_t& b : d) b = any_byte(r);
        break;
    default:  // longer than any receive buffer of the library, or empty
        d.resize(below(r, 2) ? 9001 : 0, 0xC0);
        break;
    }
    return d;
}

}  // namespace

bytes stress_datagram(rng& r, bool& malformed)
{
    const int kind = below(r, 1000);
    bytes d = kind < 400   ? query(r)
              : kind < 420 ? repeated_question(r)
              : kind < 850 ? announcement(r)
              : kind < 998 ? follow_ups(r)
                           : claim(r);
    malformed = below(r, 3) == 0;
    return malformed ? spoil(d, r) : d;
}
