// The host side of the stress test (tests/e2e_stress.cpp): one call of any
// of the sixteen functions with valid or hostile arguments chosen at random,
// and the checks of its result. A report is read only by the thread that
// asked for it, one caller at a time per report function, as hosts must.
#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <random>
#include <string>
#include <vector>

constexpr int stress_function_count = 16;
constexpr int stress_host_threads = 4;
constexpr std::uint16_t stress_port_a = 25001, stress_port_b = 25002;

// Argument texts that the random calls and the test's own table share.
extern const std::string stress_long_text;  // 3000 characters
extern const std::string stress_label_64;   // one byte too long for a label
extern const std::string stress_txt_1023;   // the longest attributes read back as JSON

// What the threads of one run share.
struct stress_run {
    std::atomic<bool> stop_hosts{false};
    std::atomic<bool> stop_floods{false};
    std::atomic<long> calls[stress_function_count] = {};
    std::atomic<long> datagrams_valid{0}, datagrams_malformed{0}, cycles{0}, reports{0};
    // The function each caller is in, or -1; the last caller is the thread
    // that starts and stops the responder and the browser.
    std::atomic<int> current[stress_host_threads + 1] = {};

    // One caller at a time per report function.
    std::mutex stats_mutex, interfaces_mutex, browse_mutex;
    unsigned long long last_queries = 0, last_answers = 0;  // under stats_mutex
    std::atomic<long long> longest_stats_us{0};  // the longest mdns_stats() call

    std::mutex faults_mutex;
    std::vector<std::string> faults;  // the first few, reported by the test's thread
    void fault(const std::string& what)
    {
        std::lock_guard<std::mutex> hold(faults_mutex);
        if (faults.size() < 20) faults.push_back(what);
    }
    void expect_code(const char* call, int code, std::initializer_list<int> allowed)
    {
        for (int a : allowed) {
            if (code == a) return;
        }
        fault(std::string(call) + " returned " + std::to_string(code));
    }
};

// Makes call number which (0 .. 15, in the order of the public header) with
// arguments chosen by r, and records what is wrong with its result.
void stress_call(stress_run& run, std::mt19937& r, int which);

// Reads and checks one report.
void check_stats(stress_run& run);
void check_interfaces(stress_run& run);
void check_browse_results(stress_run& run);
