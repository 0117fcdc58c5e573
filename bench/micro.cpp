// Micro-benchmarks of the protocol paths and the report builders, on the
// internal static library. No socket is opened: the responder's socket is a
// made-up handle, and the platform layer's fault table turns every send into
// a failure that it counts, before any system call, so a query runs the
// whole reply path except the system calls themselves.
#include <benchmark/benchmark.h>
#include <resolv.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "browse/cache.h"
#include "core/state.h"
#include "dns/message.h"
#include "dns/txt_json.h"
#include "net/adapters.h"
#include "net/interfaces.h"
#include "platform/faults.h"
#include "responder/responder.h"
#include "internal/state_reset.h"
#include "tandrelo_mdns.h"
#include "wire_names.h"

namespace {

void put_name(std::vector<std::uint8_t>& m, const std::string& name)
{
    const std::vector<std::uint8_t> wire = bench_name(name);
    m.insert(m.end(), wire.begin(), wire.end());
}

std::vector<std::uint8_t> make_query(const std::string& name, std::uint16_t qtype)
{
    std::vector<std::uint8_t> q = {0x12, 0x34, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0};
    put_name(q, name);
    q.push_back(static_cast<std::uint8_t>(qtype >> 8));
    q.push_back(static_cast<std::uint8_t>(qtype));
    q.push_back(0);
    q.push_back(1);
    return q;
}

// The same services as bench_responder_host.
void configure()
{
    static bool done = false;
    if (done) return;
    done = true;
    lock_init();
    mdns_set_hostname("bench");
    mdns_set_addr("127.0.0.1");
    mdns_add_service("_http._tcp", "Bench Web", 8080, "{\"path\":\"/\",\"version\":\"1.1\"}");
    mdns_add_service("_http._tcp", "Bench Admin", 8081, "{\"path\":\"/admin\"}");
    mdns_add_service("_ipp._tcp", "Bench Printer", 631, "{\"rp\":\"ipp/print\",\"ty\":\"Bench\"}");
    mdns_add_service("_ssh._tcp", "Bench Shell", 22, nullptr);
    // Sends stop at the fault table: counted there, never made.
    g_sock = static_cast<plat_socket>(1000);
    g_port = 5354;
    g_plat_faults.fail[plat_fault_sendto] = plat_fault_always;
}

void run_query(benchmark::State& state, const std::string& name, std::uint16_t qtype)
{
    configure();
    std::vector<std::uint8_t> q = make_query(name, qtype);
    plat_addr4 sender = {plat_ipv4_addr("127.0.0.1"), plat_htons(40000)};
    std::uint64_t before = g_answers_sent;
    long sends_before = g_plat_faults.calls[plat_fault_sendto].load();
    for (auto _ : state) process_incoming(q.data(), q.size(), sender);
    const long iterations = static_cast<long>(state.iterations());
    if (g_answers_sent - before != static_cast<std::uint64_t>(iterations) ||
        g_plat_faults.calls[plat_fault_sendto].load() - sends_before != 2 * iterations)
        state.SkipWithError("not every query was answered to the sender and the group");
}

void BM_query_host_A(benchmark::State& s) { run_query(s, "bench.local", dns_type_a); }
void BM_query_type_PTR(benchmark::State& s) { run_query(s, "_http._tcp.local", dns_type_ptr); }
void BM_query_instance_ANY(benchmark::State& s) { run_query(s, "Bench Shell._ssh._tcp.local", dns_type_any); }
void BM_query_enumeration_PTR(benchmark::State& s)
{
    run_query(s, "_services._dns-sd._udp.local", dns_type_ptr);
}
BENCHMARK(BM_query_host_A);
BENCHMARK(BM_query_type_PTR);
BENCHMARK(BM_query_instance_ANY);
BENCHMARK(BM_query_enumeration_PTR);

// The copy of our own announcement that the group hands back: a response
// whose answers all belong to this host, read and dropped (browser off).
void BM_read_own_announcement(benchmark::State& state)
{
    configure();
    std::uint8_t message[dns_message_size];
    lock_enter();
    std::size_t length = build_announcement_locked(message);
    lock_leave();
    plat_addr4 sender = {plat_ipv4_addr("127.0.0.1"), plat_htons(5354)};
    for (auto _ : state) process_incoming(message, length, sender);
    if (g_conflict_count != 0) state.SkipWithError("our own announcement was taken for a conflict");
}
BENCHMARK(BM_read_own_announcement);

// A message with a plain name at 12 and a compressed one after it that
// points back into the first.
struct name_message {
    std::vector<std::uint8_t> bytes;
    std::size_t plain_at, compressed_at;
};

name_message make_name_message()
{
    name_message m;
    m.bytes.assign(12, 0);
    m.plain_at = m.bytes.size();
    put_name(m.bytes, "Bench Printer._ipp._tcp.local");
    m.compressed_at = m.bytes.size();
    m.bytes.push_back(7);
    for (char c : std::string("printer")) m.bytes.push_back(static_cast<std::uint8_t>(c));
    m.bytes.push_back(0xC0);
    m.bytes.push_back(static_cast<std::uint8_t>(m.plain_at + 14));  // -> _ipp._tcp.local
    return m;
}

void BM_dns_read_name(benchmark::State& state)
{
    name_message m = make_name_message();
    std::size_t at_start = state.range(0) ? m.compressed_at : m.plain_at;
    char text[dns_name_text_size];
    for (auto _ : state) {
        std::size_t at = at_start;
        benchmark::DoNotOptimize(dns_read_name(m.bytes.data(), m.bytes.size(), at, text));
        benchmark::DoNotOptimize(text);
    }
}
void BM_glibc_dn_expand(benchmark::State& state)
{
    name_message m = make_name_message();
    std::size_t at_start = state.range(0) ? m.compressed_at : m.plain_at;
    char text[dns_name_text_size];
    const unsigned char* msg = m.bytes.data();
    for (auto _ : state) {
        benchmark::DoNotOptimize(dn_expand(msg, msg + m.bytes.size(), msg + at_start, text, sizeof text));
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_dns_read_name)->ArgName("compressed")->Arg(0)->Arg(1);
BENCHMARK(BM_glibc_dn_expand)->ArgName("compressed")->Arg(0)->Arg(1);

void BM_parse_txt_json(benchmark::State& state)
{
    const char* json = "{\"path\":\"/\",\"version\":\"1.1\",\"rp\":\"ipp/print\",\"ty\":\"Bench Printer\","
                       "\"note\":\"second floor\",\"n\":42,\"ok\":true}";
    std::uint8_t out[txt_wire_max + 1];
    for (auto _ : state) {
        std::size_t len = 0;
        parse_txt_json(json, out, len);
        benchmark::DoNotOptimize(len);
    }
}
BENCHMARK(BM_parse_txt_json);

void fill_browse_cache()
{
    lock_init();
    browse_cache_reset_for_tests();
    char name[64];
    for (int i = 0; i < browse_capacity; i++) {
        std::snprintf(name, sizeof name, "Device %03d._http._tcp.local", i);
        browse_upsert(name, dns_type_txt, nullptr, 0, nullptr, "path=/;model=Bench \"quoted\"", "127.0.0.9");
    }
}

// range(0) = 1: a key that is present (the last slot, so the whole table is
// searched); 0: a key that is not, which searches the whole table and then
// evicts the stalest entry. The new keys take turns among 512 names, twice
// the table, so none of them is still cached when its turn comes again.
void BM_browse_upsert_full(benchmark::State& state)
{
    fill_browse_cache();
    const char* known = "device 255._http._tcp.local";
    static char new_keys[2 * browse_capacity][64];
    for (int i = 0; i < 2 * browse_capacity; i++)
        std::snprintf(new_keys[i], sizeof new_keys[i], "New Device %03d._http._tcp.local", i);
    int turn = 0;
    for (auto _ : state) {
        if (state.range(0)) {
            browse_upsert(known, dns_type_txt, nullptr, 0, nullptr, "path=/", "127.0.0.9");
        } else {
            browse_upsert(new_keys[turn], dns_type_txt, nullptr, 0, nullptr, "path=/", "127.0.0.9");
            turn = (turn + 1) % (2 * browse_capacity);
        }
    }
}
BENCHMARK(BM_browse_upsert_full)->ArgName("known")->Arg(1)->Arg(0);

void BM_mdns_stats(benchmark::State& state)
{
    configure();
    for (auto _ : state) benchmark::DoNotOptimize(mdns_stats());
}
BENCHMARK(BM_mdns_stats);

void BM_browse_results_json_full(benchmark::State& state)
{
    fill_browse_cache();
    for (auto _ : state) {
        lock_enter();
        benchmark::DoNotOptimize(browse_results_json_locked());
        lock_leave();
    }
}
BENCHMARK(BM_browse_results_json_full);

void BM_render_interfaces_json(benchmark::State& state)
{
    adapter_entry list[8];
    std::memset(list, 0, sizeof list);
    for (int i = 0; i < 8; i++) {
        std::snprintf(list[i].ip, sizeof list[i].ip, "192.168.%d.20", i);
        std::snprintf(list[i].name, sizeof list[i].name, "Ethernet \"%d\"", i);
        std::snprintf(list[i].gateway, sizeof list[i].gateway, "192.168.%d.1", i);
        list[i].up = 1;
    }
    static char out[ifaces_buffer_size];
    for (auto _ : state) benchmark::DoNotOptimize(render_interfaces_json(list, 8, out, sizeof out));
}
BENCHMARK(BM_render_interfaces_json);

}  // namespace

BENCHMARK_MAIN();
