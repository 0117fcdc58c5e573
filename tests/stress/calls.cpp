#include "stress/calls.h"

#include <chrono>
#include <nlohmann/json.hpp>

#include <climits>
#include <cstring>

#include "tandrelo_mdns.h"

const std::string stress_long_text(3000, 'k');
const std::string stress_label_64(64, 'h');
const std::string stress_txt_1023 = "{\"k\":\"" + std::string(1023 - 9, 'v') + "\"}";

namespace {

using json = nlohmann::json;
using rng = std::mt19937;

const std::string label_63(63, 'h');

// The member key of an object, or null when there is none.
json field(const json& j, const char* key)
{
    if (!j.is_object()) return nullptr;
    auto it = j.find(key);
    return it == j.end() ? json() : *it;
}

bool is_int_in(const json& j, const char* key, long long low, long long high)
{
    const json v = field(j, key);
    return v.is_number_integer() && v.get<long long>() >= low && v.get<long long>() <= high;
}

bool is_text_up_to(const json& j, const char* key, std::size_t longest)
{
    const json v = field(j, key);
    return v.is_string() && v.get<std::string>().size() <= longest;
}

}  // namespace

// ---- the three reports ------------------------------------------------------------

void check_stats(stress_run& run)
{
    std::lock_guard<std::mutex> hold(run.stats_mutex);
    const auto asked = std::chrono::steady_clock::now();
    const char* report = mdns_stats();
    const long long us = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::steady_clock::now() - asked)
                             .count();
    if (us > run.longest_stats_us) run.longest_stats_us = us;
    const json s = json::parse(report, nullptr, false);
    run.reports++;
    if (s.is_discarded() || !s.is_object() || s.size() != 11) {
        return run.fault(std::string("status report is not the object: ") + mdns_stats());
    }
    const json q = field(s, "queries"), a = field(s, "answers");
    if (!q.is_number_unsigned() || !a.is_number_unsigned()) {
        return run.fault("status report without counters");
    }
    const unsigned long long queries = q.get<unsigned long long>();
    const unsigned long long answers = a.get<unsigned long long>();
    // A query is answered at most once.
    if (answers > queries) run.fault("more answers than queries");
    if (queries < run.last_queries || answers < run.last_answers) run.fault("a counter went back");
    run.last_queries = queries;
    run.last_answers = answers;
    const json services = field(s, "services");
    bool ok = is_int_in(s, "running", 0, 1) && is_int_in(s, "browsing", 0, 1) &&
              is_int_in(s, "port", 1, 65535) && is_int_in(s, "browse_count", 0, 256) &&
              is_int_in(s, "services_count", 0, 64) && is_text_up_to(s, "hostname", 63) &&
              is_text_up_to(s, "addr", 63) && is_text_up_to(s, "interface", 63) &&
              services.is_array() &&
              services.size() <= field(s, "services_count").get<std::size_t>();
    for (const json& e : ok ? services : json::array()) {
        const json txt = field(e, "txt");
        ok = ok && is_text_up_to(e, "type", 63) && is_text_up_to(e, "name", 63) &&
             is_int_in(e, "port", 1, 65535) && (txt.is_object() || txt == "{}");
    }
    if (!ok) run.fault(std::string("status report out of bounds: ") + s.dump());
}

void check_interfaces(stress_run& run)
{
    std::lock_guard<std::mutex> hold(run.interfaces_mutex);
    const json list = json::parse(mdns_interfaces(), nullptr, false);
    run.reports++;
    bool ok = !list.is_discarded() && list.is_array() && list.size() <= 32;
    for (const json& e : ok ? list : json::array()) {
        ok = ok && is_text_up_to(e, "ip", 15) && field(e, "name").is_string() &&
             is_text_up_to(e, "gateway", 15) && is_int_in(e, "up", 0, 1) &&
             is_int_in(e, "loopback", 0, 1);
    }
    if (!ok) run.fault(std::string("interface report: ") + mdns_interfaces());
}

void check_browse_results(stress_run& run)
{
    std::lock_guard<std::mutex> hold(run.browse_mutex);
    const char* text = mdns_browse_results();
    const json list = json::parse(text, nullptr, false);
    run.reports++;
    bool ok = !list.is_discarded() && list.is_array() && list.size() <= 256;
    for (const json& e : ok ? list : json::array()) {
        const json type = field(e, "rrtype");
        ok = ok && e.size() == 8 &&
             (type == 1 || type == 12 || type == 16 || type == 33) &&
             is_text_up_to(e, "name", 511) && field(e, "name") != "" &&
             is_int_in(e, "port", 0, 65535) && is_text_up_to(e, "ip", 15) &&
             is_text_up_to(e, "from", 15) && is_text_up_to(e, "target", 511) &&
             is_text_up_to(e, "txt", 1023) && field(e, "last_seen").is_number_unsigned();
    }
    if (!ok) run.fault(std::string("browse report: ") + std::string(text).substr(0, 400));
}

// ---- one random call of each function ----------------------------------------------

namespace {

template <typename T, std::size_t N>
const T& pick(rng& r, const T (&table)[N])
{
    return table[std::uniform_int_distribution<std::size_t>(0, N - 1)(r)];
}

bool has_text(const char* s) { return s != nullptr && s[0] != '\0'; }

void call_start(stress_run& run, rng& r)
{
    static const std::int32_t ports[] = {stress_port_a, stress_port_a, stress_port_b, 0,
                                         -1, 65536, INT32_MIN, INT32_MAX};
    const std::int32_t port = pick(r, ports);
    const int code = mdns_start(port);
    if (port >= 0 && port <= 65535) {
        run.expect_code("mdns_start", code, {MDNS_OK, MDNS_ERR_BIND, MDNS_ERR_ALREADY_RUNNING});
    } else {
        run.expect_code("mdns_start(invalid port)", code,
                        {MDNS_ERR_INVALID, MDNS_ERR_ALREADY_RUNNING});
    }
}

void call_add_service(stress_run& run, rng& r)
{
    static const std::string odd_type = "_q\"b\\\x01._tcp", odd_name = "N\"a\\m\x7f\xc3\x28";
    static const std::string long_type(200, 't');
    static const char* const types[] = {"_http._tcp",      "_ipp._tcp",       "_stress._udp",
                                        odd_type.c_str(), long_type.c_str(), nullptr, ""};
    static const std::int32_t ports[] = {80, 631, 1, 65535, 0, -1, 65536, INT32_MIN};
    // Attribute texts that begin with "{" are valid JSON of at most 1023
    // characters: the status report inserts them as they stand.
    static const char* const txts[] = {nullptr, "", "{}", "{\"path\":\"/\"}",
                                       "{\"a\":{\"b\":[1,2]},\"c\":true,\"d\":null,\"e\":-1.5e3}",
                                       "{\"u\":\"\\u00e9\\\"q\\\\\"}", stress_txt_1023.c_str(),
                                       "plain=text", "[1,2,3]", " {\"lead\":1}", "\"\\",
                                       stress_long_text.c_str()};
    const char* type = pick(r, types);
    std::string name;
    switch (std::uniform_int_distribution<int>(0, 4)(r)) {
    case 0: name = "Web"; break;
    case 1: name = "WEB"; break;  // the same entry, other letter case
    case 2: name = odd_name; break;
    default: name = "S" + std::to_string(std::uniform_int_distribution<int>(0, 89)(r)); break;
    }
    const bool no_name = std::uniform_int_distribution<int>(0, 9)(r) == 0;
    const std::int32_t port = pick(r, ports);
    const int code =
        mdns_add_service(type, no_name ? nullptr : name.c_str(), port, pick(r, txts));
    if (!has_text(type) || no_name || port < 1 || port > 65535) {
        run.expect_code("mdns_add_service(invalid)", code, {MDNS_ERR_INVALID});
    } else if (code != MDNS_ERR_INVALID && (code < 0 || code > 63)) {
        run.fault("mdns_add_service returned " + std::to_string(code));
    }
}

void call_set_hostname(stress_run& run, rng& r)
{
    static const char* const labels[] = {"stress-a", "stress-b", "Stress-C", "q\"b\\s\x01\xff",
                                         label_63.c_str(), nullptr, "", "a.b", "x.local",
                                         stress_label_64.c_str(), stress_long_text.c_str()};
    const char* label = pick(r, labels);
    const bool valid =
        has_text(label) && std::strchr(label, '.') == nullptr && std::strlen(label) <= 63;
    run.expect_code("mdns_set_hostname", mdns_set_hostname(label),
                    {valid ? MDNS_OK : MDNS_ERR_INVALID});
}

void call_set_addr(stress_run& run, rng& r)
{
    struct case_ { const char* text; int code; };
    static const case_ cases[] = {{"10.0.0.1", MDNS_OK}, {"192.168.1.20", MDNS_OK},
                                  {"127.0.0.1", MDNS_OK}, {nullptr, MDNS_OK}, {"", MDNS_OK},
                                  {"256.1.1.1", MDNS_ERR_INVALID}, {"1.2.3", MDNS_ERR_INVALID},
                                  {"1.2.3.4 ", MDNS_ERR_INVALID}, {"abc", MDNS_ERR_INVALID},
                                  {stress_long_text.c_str(), MDNS_ERR_INVALID}};
    const case_& c = pick(r, cases);
    run.expect_code("mdns_set_addr", mdns_set_addr(c.text), {c.code});
}

void call_set_interface(stress_run& run, rng& r)
{
    static const char* const texts[] = {nullptr, "", "127.0.0.1", "10.200.0.1", "abc",
                                        "1.2.3.4.5", stress_long_text.c_str()};
    const char* text = pick(r, texts);
    const int code = mdns_set_interface(text);
    if (!has_text(text)) {
        run.expect_code("mdns_set_interface(automatic)", code, {MDNS_OK});
    } else if (std::strcmp(text, "abc") == 0 || std::strlen(text) > 15) {
        run.expect_code("mdns_set_interface(malformed)", code, {MDNS_ERR_INVALID});
    } else {  // a selection restarts a running responder: its start's codes
        run.expect_code("mdns_set_interface", code,
                        {MDNS_OK, MDNS_ERR_INVALID, MDNS_ERR_BIND, MDNS_ERR_ALREADY_RUNNING});
    }
}

}  // namespace

void stress_call(stress_run& run, std::mt19937& r, int which)
{
    switch (which) {
    case 0:
        if (std::strcmp(mdns_version(), "1.1.0") != 0) run.fault("version changed");
        break;
    // The last-error text is one buffer that every failing call rewrites:
    // with other threads failing meanwhile, reading it would race with their
    // writes. The test reads it once its other callers have stopped.
    case 1:
        if (mdns_last_error() == nullptr) run.fault("null last error");
        break;
    case 2: {
        const int s = mdns_status();
        if (s != 0 && s != 1) run.fault("mdns_status returned " + std::to_string(s));
        break;
    }
    case 3: call_start(run, r); break;
    case 4: run.expect_code("mdns_stop", mdns_stop(), {MDNS_OK}); break;
    case 5: call_add_service(run, r); break;
    case 6: run.expect_code("mdns_clear_services", mdns_clear_services(), {MDNS_OK}); break;
    case 7: call_set_hostname(run, r); break;
    case 8: call_set_addr(run, r); break;
    case 9: check_stats(run); break;
    case 10: check_interfaces(run); break;
    case 11: call_set_interface(run, r); break;
    case 12:
        run.expect_code("mdns_browse_start", mdns_browse_start(),
                        {MDNS_OK, MDNS_ERR_BIND, MDNS_ERR_ALREADY_RUNNING});
        break;
    case 13: run.expect_code("mdns_browse_stop", mdns_browse_stop(), {MDNS_OK}); break;
    case 14: check_browse_results(run); break;
    default: run.expect_code("mdns_browse_clear", mdns_browse_clear(), {MDNS_OK}); break;
    }
}

