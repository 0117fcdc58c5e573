// The names the responder answers for and writes. They come from the host
// label and the service table, which change only on configuration calls, so
// each is kept formed, as text and in wire form, and is formed again only
// when the text it comes from no longer equals the copy kept beside it.
// Checking the source on every use keeps the names right whoever changes
// the label or the table: a configuration call, a rename after a conflict,
// or a test that writes the state directly.
#include <cstring>

#include "core/text.h"
#include "responder/responder.h"

namespace {

// "%.63s.local" holds at most 69 characters, "%.63s.%.63s.local" 133. A
// name's wire form is at most two octets longer than its text.
constexpr std::size_t type_name_size = text_field + 6;
constexpr std::size_t instance_name_size = 2 * text_field + 6;
constexpr std::size_t wire_extra = 2;

template <std::size_t text_size>
struct formed_name {
    char text[text_size];
    std::size_t text_length;
    std::uint8_t wire[text_size + wire_extra];
    std::size_t wire_length;  // 0: the wire form did not fit, the text is used
};

struct formed_host_name {
    bool formed;
    char label[text_field];  // the g_hostname it was formed from
    formed_name<dns_name_text_size> host;
};

struct formed_service_names {
    bool formed;
    char type[text_field];  // the type and instance name it was formed from
    char name[text_field];
    formed_name<type_name_size> type_name;
    formed_name<instance_name_size> instance_name;
};

formed_name<sizeof "_services._dns-sd._udp.local"> g_enumeration_name;
bool g_enumeration_name_formed = false;
formed_host_name g_host_name;
formed_service_names g_service_names[max_services];

// Measures the text, which the caller has just formed, and encodes it the
// way the record writers would.
template <std::size_t text_size>
void encode(formed_name<text_size>& f)
{
    f.text_length = std::strlen(f.text);
    std::size_t length = 0;
    f.wire_length = dns_write_name(f.wire, sizeof f.wire, length, f.text) ? length : 0;
}

template <std::size_t text_size>
dns_name_arg as_arg(const formed_name<text_size>& f)
{
    if (f.wire_length == 0) return dns_name_arg(f.text);
    return dns_name_arg(f.text, f.text_length, f.wire, f.wire_length);
}

// Whole fields are compared, eight bytes at a time without an early exit
// (the compiler turns this into a few vector instructions), and whole fields
// are copied, so equal fields always mean equal texts whatever follows the
// terminator.
static_assert(text_field % sizeof(std::uint64_t) == 0, "fields are compared in 8-byte words");

bool same_text(const char (&kept)[text_field], const char (&source)[text_field])
{
    std::uint64_t difference = 0;
    for (std::size_t i = 0; i < text_field; i += sizeof(std::uint64_t)) {
        std::uint64_t a, b;
        std::memcpy(&a, kept + i, sizeof a);
        std::memcpy(&b, source + i, sizeof b);
        difference |= a ^ b;
    }
    return difference == 0;
}

// The name index: open hashing into index_buckets chains of services per
// kind of name, each chain in table order.
constexpr int index_buckets = 128;
static_assert(max_services <= 255, "service indices are kept in one byte");
struct name_index {
    bool built;
    int count;                         // g_service_count when built
    std::uint32_t hash[2][max_services];  // [0] type name, [1] instance name
    std::int16_t head[2][index_buckets];
    std::int16_t next[2][max_services];
};
name_index g_index;
bool g_index_stale = true;  // a name was formed anew since the index was built

std::uint32_t fold_hash(const char* text, std::size_t length)
{
    return static_cast<std::uint32_t>(text_fold_hash(text, length, length));
}

const formed_service_names& service_names_locked(int index)
{
    formed_service_names& f = g_service_names[index];
    const service_entry& s = g_services[index];
    if (!f.formed || !same_text(f.type, s.type) || !same_text(f.name, s.name)) {
        g_index_stale = true;
        std::memcpy(f.type, s.type, sizeof f.type);
        std::memcpy(f.name, s.name, sizeof f.name);
        text_format(f.type_name.text, sizeof f.type_name.text, "%.63s.local", s.type);
        text_format(f.instance_name.text, sizeof f.instance_name.text, "%.63s.%.63s.local", s.name,
                    s.type);
        encode(f.type_name);
        encode(f.instance_name);
        f.formed = true;
    }
    return f;
}

}  // namespace

dns_name_arg enumeration_name_locked()
{
    if (!g_enumeration_name_formed) {
        text_copy(g_enumeration_name.text, sizeof g_enumeration_name.text, enumeration_name);
        encode(g_enumeration_name);
        g_enumeration_name_formed = true;
    }
    return as_arg(g_enumeration_name);
}

dns_name_arg host_name_locked()
{
    formed_host_name& f = g_host_name;
    if (!f.formed || !same_text(f.label, g_hostname)) {
        std::memcpy(f.label, g_hostname, sizeof f.label);
        text_format(f.host.text, sizeof f.host.text, "%s.local", g_hostname);
        encode(f.host);
        f.formed = true;
    }
    return as_arg(f.host);
}

service_names service_names_of_locked(int index)
{
    const formed_service_names& f = service_names_locked(index);
    return service_names{as_arg(f.type_name), as_arg(f.instance_name)};
}

void refresh_name_index_locked()
{
    for (int i = 0; i < g_service_count; i++) service_names_locked(i);  // forms what changed
    if (g_index.built && !g_index_stale && g_index.count == g_service_count) return;
    for (int kind = 0; kind < 2; kind++) {
        for (std::int16_t& h : g_index.head[kind]) h = -1;
        std::int16_t tail[index_buckets];
        for (std::int16_t& t : tail) t = -1;
        for (int i = 0; i < g_service_count; i++) {
            const formed_service_names& f = g_service_names[i];
            const char* text = kind == 0 ? f.type_name.text : f.instance_name.text;
            const std::size_t length = kind == 0 ? f.type_name.text_length : f.instance_name.text_length;
            const std::uint32_t h = fold_hash(text, length);
            const int bucket = static_cast<int>(h % index_buckets);
            g_index.hash[kind][i] = h;
            g_index.next[kind][i] = -1;
            if (tail[bucket] < 0) {
                g_index.head[kind][bucket] = static_cast<std::int16_t>(i);
            } else {
                g_index.next[kind][tail[bucket]] = static_cast<std::int16_t>(i);
            }
            tail[bucket] = static_cast<std::int16_t>(i);
        }
    }
    g_index.count = g_service_count;
    g_index.built = true;
    g_index_stale = false;
}

int services_named_locked(const char* name, std::size_t name_length, std::uint8_t* out)
{
    if (!g_index.built) return 0;
    const std::uint32_t h = fold_hash(name, name_length);
    const int bucket = static_cast<int>(h % index_buckets);
    // Merges the two chains, each in table order, into one list in table
    // order; a service on both chains is listed once.
    std::int16_t a = g_index.head[0][bucket];
    std::int16_t b = g_index.head[1][bucket];
    int count = 0;
    while (a >= 0 || b >= 0) {
        int i;
        bool match;
        if (b < 0 || (a >= 0 && a < b)) {
            i = a;
            match = g_index.hash[0][i] == h;
            a = g_index.next[0][a];
        } else if (a < 0 || b < a) {
            i = b;
            match = g_index.hash[1][i] == h;
            b = g_index.next[1][b];
        } else {
            i = a;
            match = g_index.hash[0][i] == h || g_index.hash[1][i] == h;
            a = g_index.next[0][a];
            b = g_index.next[1][b];
        }
        if (match) out[count++] = static_cast<std::uint8_t>(i);
    }
    return count;
}
