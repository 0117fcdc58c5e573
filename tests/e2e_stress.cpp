// Stress: host threads call all sixteen functions at random, with valid and
// hostile arguments, while other threads flood the responder and the
// browser with valid and malformed datagrams and start and stop both of
// them. Bounded in time and in count; a watchdog ends the process when
// anything hangs, which fails the test.
//
// What must hold throughout: every code is one its function may return,
// every report is valid JSON when the thread that asked for it reads it
// (one thread at a time per report function, as hosts must), the counters
// never go back, and the state stays within its bounds. Afterwards, with
// the floods still running, every hostile argument gives its exact code and
// message.
//
// The test binds port 5353 (the browser's own socket, and mdns_start(0)),
// so its name says so: ctest never runs it beside another test that does.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "stress/calls.h"
#include "stress/datagrams.h"
#include "support/test_net.h"
#include "tandrelo_mdns.h"

namespace {

using json = nlohmann::json;
using steady = std::chrono::steady_clock;

constexpr auto busy_time = std::chrono::milliseconds(3000);
constexpr int flood_threads = 2;
constexpr long max_calls_per_thread = 200000;
constexpr long max_datagrams_per_flooder = 150000;
constexpr auto watchdog_limit = std::chrono::seconds(75);
// The longest a status report may take during the floods: 50 ms, ten times
// that under a sanitizer, which slows every thread down.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr long long stats_bound_us = 500000;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr long long stats_bound_us = 500000;
#else
constexpr long long stats_bound_us = 50000;
#endif
#else
constexpr long long stats_bound_us = 50000;
#endif

// ---- the threads ------------------------------------------------------------------

void host_thread(stress_run& run, int index)
{
    std::mt19937 r(1000u + static_cast<unsigned>(index));
    std::uniform_int_distribution<int> function(0, stress_function_count - 1);
    for (long n = 0; n < max_calls_per_thread && !run.stop_hosts; n++) {
        const int which = function(r);
        run.current[index] = which;
        stress_call(run, r, which);
        run.calls[which]++;
    }
    run.current[index] = -1;
}

// Starts and stops the responder, the browser on it, and the browser alone.
void cycle_thread(stress_run& run)
{
    const int slot = stress_host_threads;
    auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(15)); };
    while (!run.stop_hosts) {
        run.current[slot] = 3;
        run.expect_code("cycle mdns_start", mdns_start(stress_port_a),
                        {MDNS_OK, MDNS_ERR_BIND, MDNS_ERR_ALREADY_RUNNING});
        for (int i = 0; i < 3; i++) {
            run.current[slot] = 12;
            run.expect_code("cycle mdns_browse_start", mdns_browse_start(),
                            {MDNS_OK, MDNS_ERR_BIND, MDNS_ERR_ALREADY_RUNNING});
            pause();
            run.current[slot] = 13;
            mdns_browse_stop();
        }
        run.current[slot] = 4;
        mdns_stop();
        run.current[slot] = 12;
        run.expect_code("cycle mdns_browse_start", mdns_browse_start(),
                        {MDNS_OK, MDNS_ERR_BIND, MDNS_ERR_ALREADY_RUNNING});
        pause();
        run.current[slot] = 13;
        mdns_browse_stop();
        run.cycles++;
    }
    run.current[slot] = -1;
}

// Sends to the responder's two ports and to the browser's, unicast and to
// the group, in bursts with a short pause between them.
void flood_thread(stress_run& run, int index)
{
    test_socket out;
    if (!out.open(0, false, 10)) return run.fault("flood socket failed");
    std::mt19937 r(2000u + static_cast<unsigned>(index));
    struct destination { std::uint16_t port; const char* to; };
    static const destination destinations[] = {
        {stress_port_a, "127.0.0.1"},
        {stress_port_a, "224.0.0.251"},
        {stress_port_b, "224.0.0.251"},
        {5353, "224.0.0.251"}};
    for (long n = 0; n < max_datagrams_per_flooder && !run.stop_floods; n++) {
        bool malformed = false;
        const bytes d = stress_datagram(r, malformed);
        const destination& to = destinations[std::uniform_int_distribution<int>(0, 3)(r)];
        out.send(d, to.port, to.to);
        (malformed ? run.datagrams_malformed : run.datagrams_valid)++;
        if (n % 32 == 31) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Threads that are told to stop and are joined however the test ends, so a
// failed assertion never leaves one running.
struct joined_threads {
    std::atomic<bool>& stop;
    std::vector<std::thread> threads;
    explicit joined_threads(std::atomic<bool>& s) : stop(s) {}
    ~joined_threads() { join(); }
    void join()
    {
        stop = true;
        for (std::thread& t : threads) {
            if (t.joinable()) t.join();
        }
    }
};

// Ends the process, and so fails the test, when the test has not finished
// in time: a deadlocked or hung call never returns.
struct watchdog {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::thread thread;
    explicit watchdog(stress_run& run)
        : thread([this, &run] {
              std::unique_lock<std::mutex> hold(m);
              if (cv.wait_for(hold, watchdog_limit, [this] { return done; })) return;
              std::fprintf(stderr, "watchdog: no end after %lld s; callers are in functions",
                           static_cast<long long>(watchdog_limit.count()));
              for (auto& c : run.current) std::fprintf(stderr, " %d", c.load());
              std::fprintf(stderr, "\n");
              std::fflush(stderr);
              std::_Exit(3);
          })
    {
    }
    ~watchdog()
    {
        {
            std::lock_guard<std::mutex> hold(m);
            done = true;
        }
        cv.notify_all();
        thread.join();
    }
};

// ---- the hostile-argument table, with exact codes and messages ---------------------

struct hostile_case {
    const char* what;
    std::function<int()> call;
    int code;
    std::string message;
};

std::vector<hostile_case> hostile_cases()
{
    const std::string empty_host = "Hostname cannot be empty";
    const std::string dots = "Hostname label cannot contain dots (provide label without .local)";
    const std::string too_long = "Hostname label exceeds maximum length (63 characters)";
    const std::string bad_addr = "Invalid IPv4 address format";
    const std::string no_type = "Service type cannot be empty (e.g. '_http._tcp')";
    const std::string no_name = "Service instance name cannot be empty";
    const std::string bad_port = "Port must be between 1 and 65535";
    const std::string bad_if = "Invalid interface IPv4 address format";
    const std::string bad_start_port = "Invalid port specified";
    return {
        {"null label", [] { return mdns_set_hostname(nullptr); }, -1, empty_host},
        {"empty label", [] { return mdns_set_hostname(""); }, -1, empty_host},
        {"dotted label", [] { return mdns_set_hostname("a.b"); }, -1, dots},
        {"64-byte label", [] { return mdns_set_hostname(stress_label_64.c_str()); }, -1,
         too_long},
        {"3000-byte label", [] { return mdns_set_hostname(stress_long_text.c_str()); }, -1,
         too_long},
        {"address 256.1.1.1", [] { return mdns_set_addr("256.1.1.1"); }, -1, bad_addr},
        {"address 1.2.3", [] { return mdns_set_addr("1.2.3"); }, -1, bad_addr},
        {"address with a space", [] { return mdns_set_addr(" 1.2.3.4"); }, -1, bad_addr},
        {"3000-byte address", [] { return mdns_set_addr(stress_long_text.c_str()); }, -1,
         bad_addr},
        {"null type", [] { return mdns_add_service(nullptr, "n", 1, nullptr); }, -1, no_type},
        {"empty type", [] { return mdns_add_service("", "n", 1, "{}"); }, -1, no_type},
        {"null name", [] { return mdns_add_service("_t._tcp", nullptr, 1, nullptr); }, -1,
         no_name},
        {"empty name", [] { return mdns_add_service("_t._tcp", "", 1, nullptr); }, -1, no_name},
        {"port 0", [] { return mdns_add_service("_t._tcp", "n", 0, nullptr); }, -1, bad_port},
        {"port 65536", [] { return mdns_add_service("_t._tcp", "n", 65536, nullptr); }, -1,
         bad_port},
        {"port INT32_MIN", [] { return mdns_add_service("_t._tcp", "n", INT32_MIN, nullptr); }, -1,
         bad_port},
        {"65th service", [] { return mdns_add_service("_t._tcp", "one too many", 9, "{}"); }, -1,
         "Maximum service count reached"},
        {"interface abc", [] { return mdns_set_interface("abc"); }, -1, bad_if},
        {"3000-byte interface", [] { return mdns_set_interface(stress_long_text.c_str()); }, -1,
         bad_if},
        {"interface not listed", [] { return mdns_set_interface("10.200.0.1"); }, -1,
         "Interface 10.200.0.1 is not an active non-loopback adapter"},
        {"start port -1", [] { return mdns_start(-1); }, -1, bad_start_port},
        {"start port 65536", [] { return mdns_start(65536); }, -1, bad_start_port},
        {"start port INT32_MIN", [] { return mdns_start(INT32_MIN); }, -1, bad_start_port},
        {"start while running",
         [] {
             mdns_start(stress_port_a);
             return mdns_start(stress_port_b);
         },
         -7, "mDNS responder is already running"},
        {"browse start while browsing",
         [] {
             mdns_browse_start();
             return mdns_browse_start();
         },
         -7, "browse already running"},
    };
}

TEST(Stress, AllFunctionsUnderFloodsWithTheBrowserOnPort5353)
{
    stress_run run;
    for (auto& c : run.current) c = -1;
    watchdog dog(run);
    const auto began = steady::now();

    joined_threads floods(run.stop_floods), hosts(run.stop_hosts);
    for (int i = 0; i < flood_threads; i++) {
        floods.threads.emplace_back(flood_thread, std::ref(run), i);
    }
    for (int i = 0; i < stress_host_threads; i++) {
        hosts.threads.emplace_back(host_thread, std::ref(run), i);
    }
    hosts.threads.emplace_back(cycle_thread, std::ref(run));
    std::this_thread::sleep_for(busy_time);
    hosts.join();
    const auto busy_ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(steady::now() - began);

    // One host thread now, the floods still running: a full service table
    // of hostile texts, then every hostile argument with its code and message.
    mdns_stop();
    mdns_browse_stop();
    ASSERT_EQ(MDNS_OK, mdns_clear_services());
    for (int i = 0; i < 64; i++) {
        const std::string name = "h\"\\\x01\xfe" + std::to_string(i);
        const char* txt = i % 2 ? stress_txt_1023.c_str() : "[";
        ASSERT_EQ(i, mdns_add_service("_q\"\\._tcp", name.c_str(), 1 + i, txt)) << i;
    }
    for (const hostile_case& c : hostile_cases()) {
        EXPECT_EQ(c.code, c.call()) << c.what;
        const char* message = mdns_last_error();
        ASSERT_NE(nullptr, std::memchr(message, '\0', 512)) << c.what;
        EXPECT_EQ(c.message, message) << c.what;
    }
    check_stats(run);
    check_browse_results(run);
    const json s = json::parse(mdns_stats(), nullptr, false);
    ASSERT_TRUE(s.is_object());
    EXPECT_EQ(1, s.value("running", -1));
    EXPECT_EQ(1, s.value("browsing", -1));
    EXPECT_EQ(64, s.value("services_count", -1));

    floods.join();
    // Once the floods stop, the responder answers at once.
    {
        test_socket probe;
        ASSERT_TRUE(probe.open(25099, false, 1000));
        // A plain label: the report shows a label's bytes that are not
        // UTF-8 as escapes, which do not give the bytes back.
        ASSERT_EQ(MDNS_OK, mdns_set_hostname("stress-probe"));
        const std::string host = "stress-probe.local";
        const auto asked = steady::now();
        probe.send(make_query(0x7777, {{host, 1, 1}}),
                   static_cast<std::uint16_t>(s.value("port", 5353)), "224.0.0.251");
        bytes reply;
        for (bytes d = probe.receive(); !d.empty(); d = probe.receive()) {
            if (d.size() >= 2 && d[0] == 0x77 && d[1] == 0x77) {
                reply = d;
                break;
            }
        }
        EXPECT_FALSE(reply.empty()) << "no answer for " << host << " within 1 s of the flood";
        EXPECT_LT(steady::now() - asked, std::chrono::seconds(1));
    }
    // No status report waited long for the lock while the floods ran.
    EXPECT_LT(run.longest_stats_us.load(), stats_bound_us) << "mdns_stats() took too long";
    EXPECT_EQ(MDNS_OK, mdns_browse_stop());
    EXPECT_EQ(MDNS_OK, mdns_stop());
    EXPECT_EQ(0, mdns_status());

    for (const std::string& f : run.faults) ADD_FAILURE() << f;
    long calls = 0;
    std::string per_function;
    for (auto& c : run.calls) {
        calls += c;
        per_function += (per_function.empty() ? "" : " ") + std::to_string(c.load());
    }
    const long valid = run.datagrams_valid, malformed = run.datagrams_malformed;
    const std::string figures =
        "stress: " + std::to_string(calls) + " calls by " + std::to_string(stress_host_threads) +
        " host threads in " + std::to_string(busy_ms.count()) + " ms (per function: " +
        per_function + "), " + std::to_string(run.reports.load()) + " reports parsed, " +
        std::to_string(run.cycles.load()) + " start/stop cycles\nstress: " +
        std::to_string(valid + malformed) + " datagrams sent (" + std::to_string(valid) +
        " valid, " + std::to_string(malformed) + " malformed), " +
        std::to_string(run.last_queries) + " queries received, " +
        std::to_string(run.last_answers) + " answers sent, longest status report " +
        std::to_string(run.longest_stats_us.load()) + " us\n";
    std::fputs(figures.c_str(), stdout);
    EXPECT_GT(run.cycles.load(), 0);
    EXPECT_GT(run.datagrams_malformed.load(), 0);
}

}  // namespace
