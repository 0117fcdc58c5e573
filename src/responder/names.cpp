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

const formed_service_names& service_names_locked(int index)
{
    formed_service_names& f = g_service_names[index];
    const service_entry& s = g_services[index];
    if (!f.formed || !same_text(f.type, s.type) || !same_text(f.name, s.name)) {
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
