// The JSON reports built from state that other hosts and the host
// application fill in:
//
//  - the browse report: the input becomes a series of browse_upsert calls
//    (names and values of any bytes and lengths, updates of earlier names in
//    other letter case, enough distinct names to fill the table and replace
//    entries), then browse_results_json_locked renders the table;
//  - the status report: the host label, address and interface texts and the
//    services' type, name and attributes come from the input, then
//    mdns_stats renders them;
//  - the interface report: a raw adapter list as the system would give it
//    (names of any bytes, any addresses and states) goes through the same
//    filter as the system's list, then render_interfaces_json renders what
//    is left into a heap block of exactly the report buffer's size.
//
// Each report must be terminated inside its buffer, be valid JSON (checked
// by nlohmann::json's strict parser, which also rejects broken UTF-8), and carry the stored
// values: every text decodes back to the bytes stored, where a byte that is
// not part of valid UTF-8 stands for the code point of the same value.
#include <fuzzer/FuzzedDataProvider.h>
#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "browse/cache.h"
#include "core/state.h"
#include "core/text.h"
#include "net/interfaces.h"
#include "internal/state_reset.h"
#include "tandrelo_mdns.h"

using nlohmann::json;

namespace {

void check(bool condition)
{
    if (!condition) std::abort();
}

// Length of the valid UTF-8 sequence at s[0..n), or 0.
std::size_t utf8_length(const unsigned char* s, std::size_t n)
{
    const unsigned c = s[0];
    if (c < 0x80) return 1;
    std::size_t len = 0;
    std::uint32_t cp = 0;
    if ((c & 0xE0) == 0xC0) {
        len = 2;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (len > n) return 0;
    for (std::size_t i = 1; i < len; i++) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    static const std::uint32_t smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < smallest[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

// What a stored text must read as once the report has been parsed.
std::string expected_text(const char* stored)
{
    const auto* s = reinterpret_cast<const unsigned char*>(stored);
    const std::size_t n = std::strlen(stored);
    std::string out;
    for (std::size_t i = 0; i < n;) {
        std::size_t len = utf8_length(s + i, n - i);
        if (len == 0) {
            out += static_cast<char>(0xC0 | (s[i] >> 6));  // U+0080..U+00FF
            out += static_cast<char>(0x80 | (s[i] & 0x3F));
            i++;
        } else {
            out.append(stored + i, len);
            i += len;
        }
    }
    return out;
}

bool is_string_equal(const json& j, const char* key, const char* stored)
{
    auto it = j.find(key);
    return it != j.end() && it->is_string() && it->get<std::string>() == expected_text(stored);
}

// A text of the given bytes; 00 cannot be part of a C text and becomes 01.
std::string text_of(std::string s)
{
    for (char& c : s) {
        if (c == '\0') c = '\x01';
    }
    return s;
}

// A text for one field: from the input, or the whole field filled with one
// byte (the longest escaped forms).
std::string field_text(FuzzedDataProvider& in, std::size_t field)
{
    if (in.ConsumeBool()) {
        const std::uint8_t fill = in.ConsumeIntegralInRange<std::uint8_t>(1, 255);
        return std::string(field - 1 + in.ConsumeIntegralInRange<std::size_t>(0, 3),
                           static_cast<char>(fill));
    }
    return text_of(in.ConsumeRandomLengthString(field + 8));
}

// ---- browse report ------------------------------------------------------------------

// Longest element of the report: every field at its longest escaped form,
// the keys and the numbers, with room to spare.
constexpr std::size_t longest_element = 6 * (browse_name_field - 1) + 6 * (browse_ip_field - 1) +
                                        6 * (browse_target_field - 1) +
                                        6 * (browse_txt_field - 1) + 6 * (browse_from_field - 1) +
                                        200;

void fill_cache(FuzzedDataProvider& in)
{
    static const std::uint16_t types[] = {1, 12, 16, 33};
    std::vector<std::string> used;
    const int calls = in.ConsumeIntegralInRange<int>(0, 320);
    for (int i = 0; i < calls && in.remaining_bytes() > 0; i++) {
        std::string name;
        switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: name = text_of(in.ConsumeRandomLengthString(600)); break;
        case 1: name = "host-" + std::to_string(in.ConsumeIntegral<std::uint16_t>() % 400) + ".local"; break;
        case 2:  // an earlier name in another letter case
            if (!used.empty()) {
                name = used[in.ConsumeIntegralInRange<std::size_t>(0, used.size() - 1)];
                for (char& c : name) {
                    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
                }
            }
            break;
        default: name = field_text(in, browse_name_field); break;
        }
        std::uint16_t rrtype = in.ConsumeBool() ? types[in.ConsumeIntegralInRange<int>(0, 3)]
                                                : in.ConsumeIntegral<std::uint16_t>();
        const std::string ip = field_text(in, browse_ip_field);
        const std::int32_t port = in.ConsumeIntegral<std::int32_t>();
        const std::string target = field_text(in, browse_target_field);
        const std::string txt = field_text(in, browse_txt_field);
        const std::string from = field_text(in, browse_from_field);
        const bool with_nulls = in.ConsumeBool();
        browse_upsert(name.c_str(), rrtype, with_nulls ? nullptr : ip.c_str(), port,
                      with_nulls ? nullptr : target.c_str(), with_nulls ? nullptr : txt.c_str(),
                      from.c_str());
        used.push_back(name);
    }
}

void check_browse_report(const char* report)
{
    check(report == g_browse_buffer);
    const void* end = std::memchr(g_browse_buffer, '\0', sizeof g_browse_buffer);
    check(end != nullptr);
    const std::size_t length = static_cast<std::size_t>(static_cast<const char*>(end) - report);
    const json array = json::parse(report, nullptr, false);
    check(!array.is_discarded() && array.is_array());
    check(array.size() <= static_cast<std::size_t>(g_browse_count));
    // Entries are only left out when the rest of the buffer is too small.
    if (length + longest_element + 2 <= browse_buffer_size - 1) {
        check(array.size() == static_cast<std::size_t>(g_browse_count));
    }

    // The elements stand in slot order; the ones left out are skipped.
    int slot = 0;
    for (const json& element : array) {
        check(element.is_object() && element.size() == 8);
        bool found = false;
        for (; slot < g_browse_count && !found; slot++) {
            const browse_entry& e = g_browse[slot];
            found = element.value("rrtype", -1) == e.rrtype &&
                    element.value("port", -1LL) == e.port &&
                    element.value("last_seen", 0ULL) == e.last_seen &&
                    is_string_equal(element, "name", e.name) &&
                    is_string_equal(element, "ip", e.ip) &&
                    is_string_equal(element, "target", e.target) &&
                    is_string_equal(element, "txt", e.txt) &&
                    is_string_equal(element, "from", e.from);
        }
        check(found);
    }
}

// ---- status report --------------------------------------------------------------------

struct service_seen {
    std::string type, name, txt;
};

std::string short_text(FuzzedDataProvider& in)
{
    std::string s = field_text(in, text_field);
    return s.size() > 63 ? s.substr(0, 63) : s;
}

// Attribute text for a service. Text that begins with "{" goes into the
// report as it stands, so only well-formed JSON of at most 1023 characters
// is given that way; anything else is passed as it is.
std::string attributes(FuzzedDataProvider& in)
{
    std::string txt = text_of(in.ConsumeRandomLengthString(1100));
    if (!txt.empty() && txt[0] == '{' && (txt.size() > txt_json_field - 1 || !json::accept(txt))) {
        txt = "{\"k\":\"" + std::to_string(txt.size()) + "\"}";
    }
    return txt;
}

void fill_status(FuzzedDataProvider& in)
{
    mdns_clear_services();
    lock_enter();
    text_copy(g_hostname, sizeof g_hostname, short_text(in).c_str());
    text_copy(g_addr, sizeof g_addr, short_text(in).c_str());
    text_copy(g_selected_if, sizeof g_selected_if, short_text(in).c_str());
    g_queries_received = in.ConsumeIntegral<std::uint64_t>();
    g_answers_sent = in.ConsumeIntegral<std::uint64_t>();
    g_port = in.ConsumeIntegral<std::int32_t>();
    lock_leave();
    const int services = in.ConsumeIntegralInRange<int>(0, max_services + 2);
    for (int i = 0; i < services && in.remaining_bytes() > 0; i++) {
        std::string type = short_text(in);
        std::string name = short_text(in);
        if (type.empty()) type = "_t" + std::to_string(i);
        if (name.empty()) name = "n" + std::to_string(i);
        const std::int32_t port = in.ConsumeIntegralInRange<std::int32_t>(1, 65535);
        const std::string txt = attributes(in);
        mdns_add_service(type.c_str(), name.c_str(), port, txt.empty() ? nullptr : txt.c_str());
    }
}

void check_status_report(const char* report)
{
    check(report == g_stats_buffer);
    check(std::memchr(g_stats_buffer, '\0', sizeof g_stats_buffer) != nullptr);
    const json status = json::parse(report, nullptr, false);
    check(!status.is_discarded() && status.is_object() && status.size() == 11);
    check(is_string_equal(status, "hostname", g_hostname));
    check(is_string_equal(status, "addr", g_addr));
    check(is_string_equal(status, "interface", g_selected_if[0] != '\0' ? g_selected_if : "auto"));
    check(status.value("queries", 0ULL) == g_queries_received);
    check(status.value("answers", 0ULL) == g_answers_sent);
    check(status.value("port", 0LL) == g_port.load());
    check(status.value("services_count", -1) == g_service_count);
    check(status.contains("services"));
    const json& services = status.at("services");
    check(services.is_array() && services.size() <= static_cast<std::size_t>(g_service_count));
    int index = 0;
    for (const json& element : services) {
        check(element.is_object() && element.size() == 4);
        bool found = false;
        for (; index < g_service_count && !found; index++) {
            const service_entry& s = g_services[index];
            const json txt = s.txt_json[0] == '{' ? json::parse(s.txt_json) : json("{}");
            found = is_string_equal(element, "type", s.type) &&
                    is_string_equal(element, "name", s.name) &&
                    element.value("port", -1) == s.port && element.contains("txt") &&
                    element.at("txt") == txt;
        }
        check(found);
    }
}

// ---- interface report -------------------------------------------------------------

std::uint32_t address_be(FuzzedDataProvider& in)
{
    // Mostly ordinary addresses, now and then loopback, link-local or any.
    static const std::uint32_t firsts[] = {10, 127, 169, 192, 0, 255};
    std::uint8_t a[4] = {static_cast<std::uint8_t>(firsts[in.ConsumeIntegralInRange<int>(0, 5)]),
                         in.ConsumeIntegral<std::uint8_t>(), in.ConsumeIntegral<std::uint8_t>(),
                         in.ConsumeIntegral<std::uint8_t>()};
    if (in.ConsumeBool()) a[0] = in.ConsumeIntegral<std::uint8_t>();
    std::uint32_t be = 0;
    std::memcpy(&be, a, sizeof be);
    return be;
}

void check_interface_report(FuzzedDataProvider& in)
{
    const int raw_count = in.ConsumeIntegralInRange<int>(0, 40);
    std::vector<plat_adapter_raw> raw(static_cast<std::size_t>(raw_count));
    for (plat_adapter_raw& r : raw) {
        std::memset(&r, 0, sizeof r);
        r.oper_up = in.ConsumeIntegralInRange<int>(0, 4) != 0;
        r.software_loopback = in.ConsumeIntegralInRange<int>(0, 4) == 0;
        text_copy(r.name, sizeof r.name, field_text(in, sizeof r.name).c_str());
        r.ipv4_count = in.ConsumeIntegralInRange<int>(0, 8);
        for (int i = 0; i < r.ipv4_count; i++) r.ipv4_be[i] = address_be(in);
        r.has_gateway = in.ConsumeBool();
        r.gateway_be = address_be(in);
    }
    adapter_entry list[max_adapters];
    const int count = filter_adapters(raw.data(), static_cast<int>(raw.size()), list);
    check(count >= 0 && count <= max_adapters && static_cast<std::size_t>(count) <= raw.size());

    std::vector<char> buffer(ifaces_buffer_size);
    const std::size_t length = render_interfaces_json(list, count, buffer.data(), buffer.size());
    check(length < buffer.size() && buffer[length] == '\0');
    check(std::strlen(buffer.data()) == length);
    const json array = json::parse(buffer.data(), nullptr, false);
    check(!array.is_discarded() && array.is_array());
    check(array.size() <= static_cast<std::size_t>(count));
    // The widest element: escaped name, two addresses, the keys and numbers.
    constexpr std::size_t longest = 6 * (sizeof(adapter_entry{}.name) - 1) + 2 * 63 + 100;
    if (length + longest + 2 <= ifaces_buffer_size - 1) {
        check(array.size() == static_cast<std::size_t>(count));
    }
    int slot = 0;
    for (const json& element : array) {
        check(element.is_object() && element.size() == 5);
        bool found = false;
        for (; slot < count && !found; slot++) {
            const adapter_entry& a = list[slot];
            found = is_string_equal(element, "ip", a.ip) &&
                    is_string_equal(element, "name", a.name) &&
                    is_string_equal(element, "gateway", a.gateway) &&
                    element.value("up", -1) == a.up && element.value("loopback", -1) == a.loopback;
        }
        check(found);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool ready = (lock_init(), state_reset_for_tests(), true);
    (void)ready;
    FuzzedDataProvider in(data, size);

    lock_enter();
    g_browse_count = 0;  // every input starts from an empty table
    fill_cache(in);
    check_browse_report(browse_results_json_locked());
    lock_leave();

    fill_status(in);
    check_status_report(mdns_stats());

    check_interface_report(in);
    return 0;
}
