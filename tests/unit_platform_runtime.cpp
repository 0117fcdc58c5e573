// The platform's lock, threads, clock, text comparison and address text,
// through platform.h alone, so that both backends answer the same table.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/text.h"
#include "platform/platform.h"

namespace {

using std::chrono::milliseconds;
using steady = std::chrono::steady_clock;

TEST(PlatformLock, RacingFirstCallsGetOneLockThatExcludes)
{
    constexpr int threads = 8;
    constexpr int rounds = 20000;
    std::atomic<bool> go{false};
    long counter = 0;  // guarded by the platform lock only
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            while (!go.load()) std::this_thread::yield();
            plat_lock_init_once();
            for (int i = 0; i < rounds; ++i) {
                plat_lock_enter();
                long seen = counter;
                counter = seen + 1;
                plat_lock_leave();
            }
        });
    }
    go = true;
    for (std::thread& w : workers) w.join();
    EXPECT_EQ(static_cast<long>(threads) * rounds, counter);
}

std::atomic<std::uintptr_t> g_received_arg{0};
std::atomic<bool> g_release{false};
std::atomic<bool> g_finished{false};

void record_arg(std::uintptr_t arg) { g_received_arg.fetch_add(arg); }

void run_until_released(std::uintptr_t)
{
    while (!g_release.load()) plat_sleep_ms(1);
    g_finished = true;
}

TEST(PlatformThread, EachThreadGetsItsOwnArgumentAndEnds)
{
    // Started back to back, so that several are in start-up at once; a mixed
    // up argument shows as a wrong sum of the distinct bits.
    constexpr int threads = 6;
    g_received_arg = 0;
    std::uintptr_t expected = 0;
    std::vector<plat_thread> started;
    for (int i = 0; i < threads; ++i) {
        std::uintptr_t arg = std::uintptr_t{1} << i;
        plat_thread t = plat_thread_start(record_arg, arg);
        ASSERT_NE(0u, t) << "thread " << i;
        started.push_back(t);
        expected |= arg;
    }
    for (plat_thread t : started) EXPECT_EQ(1, plat_thread_wait_and_close(t, 5000));
    EXPECT_EQ(expected, g_received_arg.load());
}

TEST(PlatformThread, WaitGivesUpAfterItsTimeoutAndTheThreadRunsOn)
{
    g_release = false;
    g_finished = false;
    plat_thread t = plat_thread_start(run_until_released, 0);
    ASSERT_NE(0u, t);
    steady::time_point start = steady::now();
    EXPECT_EQ(0, plat_thread_wait_and_close(t, 200));
    long waited = static_cast<long>(
        std::chrono::duration_cast<milliseconds>(steady::now() - start).count());
    EXPECT_GE(waited, 150);
    EXPECT_LT(waited, 2000);
    // The handle is gone but the thread is not: it still ends on its own.
    g_release = true;
    for (int i = 0; i < 500 && !g_finished.load(); ++i) plat_sleep_ms(10);
    EXPECT_TRUE(g_finished.load());
}

TEST(PlatformRuntime, MonotonicClockMovesWithPauses)
{
    std::uint64_t before = plat_monotonic_ms();
    plat_sleep_ms(100);
    std::uint64_t after = plat_monotonic_ms();
    EXPECT_GE(after - before, 80u);
    EXPECT_LT(after - before, 2000u);
}

TEST(PlatformRuntime, CalendarClockCountsSecondsSince1970)
{
    std::uint64_t now = plat_time_seconds();
    EXPECT_GT(now, 1704067200u);  // 2024-01-01
    EXPECT_LT(now, 4102444800u);  // 2100-01-01
    auto system = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_NEAR(static_cast<double>(system), static_cast<double>(now), 5.0);
}

int sign(int v) { return (v > 0) - (v < 0); }

TEST(PlatformRuntime, StricmpFoldsAsciiLettersOnly)
{
    const struct {
        const char* a;
        const char* b;
        int sign;
    } cases[] = {
        {"Tandrelo.LOCAL", "tandrelo.local", 0},
        {"_HTTP._tcp", "_http._TCP", 0},
        {"", "", 0},
        {"abc", "abd", -1},
        {"ab", "abc", -1},
        {"abc", "AB", 1},
        // Neighbours of the letters that differ by the same bit are not letters.
        {"[", "{", -1},
        {"@", "`", -1},
        {"^", "~", -1},
        // Bytes above 127 stay as they are, whatever the locale.
        {"\xC9", "\xE9", -1},
        {"caf\xC3\x89", "caf\xC3\xA9", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.sign, sign(plat_stricmp(c.a, c.b))) << '"' << c.a << "\" vs \"" << c.b << '"';
    }
}

TEST(PlatformAddress, ParseTakesStrictDottedDecimalOnly)
{
    const struct {
        const char* text;
        bool valid;
        std::uint8_t bytes[4];
    } cases[] = {
        {"192.168.1.20", true, {192, 168, 1, 20}},
        {"0.0.0.0", true, {0, 0, 0, 0}},
        {"255.255.255.255", true, {255, 255, 255, 255}},
        {"1.2.3", false, {}},
        {"1.2.3.4.5", false, {}},
        {"1.2.3.256", false, {}},
        {"01.2.3.4", false, {}},
        {"0x1.2.3.4", false, {}},
        {"1..3.4", false, {}},
        {" 1.2.3.4", false, {}},
        {"1.2.3.4 ", false, {}},
        {"16777217", false, {}},
        {"", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + '"');
        std::uint32_t addr = 0xA5A5A5A5u;
        ASSERT_EQ(c.valid ? 1 : 0, plat_ipv4_parse(c.text, &addr));
        if (c.valid) {
            EXPECT_EQ(0, std::memcmp(&addr, c.bytes, 4));
        }
    }
    std::uint32_t addr = 0;
    EXPECT_EQ(0, plat_ipv4_parse(nullptr, &addr));
}

TEST(PlatformAddress, InetAddrKeepsItsOldForms)
{
    const struct {
        const char* text;
        std::uint8_t bytes[4];
    } cases[] = {
        {"224.0.0.251", {224, 0, 0, 251}},
        {"1.2.3", {1, 2, 0, 3}},
        {"01.2.3.4", {1, 2, 3, 4}},
        {"255.255.255.255", {255, 255, 255, 255}},
        {"1.2.3.256", {255, 255, 255, 255}},
        {"not an address", {255, 255, 255, 255}},
    };
    for (const auto& c : cases) {
        std::uint32_t addr = plat_ipv4_addr(c.text);
        EXPECT_EQ(0, std::memcmp(&addr, c.bytes, 4)) << '"' << c.text << '"';
    }
}

TEST(PlatformAddress, FormatWritesDottedDecimalWithinTheRoom)
{
    std::uint32_t addr = 0;
    ASSERT_EQ(1, plat_ipv4_parse("192.168.100.255", &addr));
    char out[16];
    text_ipv4(out, sizeof out, addr);
    EXPECT_STREQ("192.168.100.255", out);

    char small[8];
    std::memset(small, 'x', sizeof small);
    text_ipv4(small, sizeof small, addr);
    EXPECT_STREQ("192.168", small);

    EXPECT_EQ(plat_htonl(0x7F000001u), plat_ipv4_addr("127.0.0.1"));
    std::uint16_t port_be = plat_htons(0x14E9);  // 5353
    EXPECT_EQ(0, std::memcmp(&port_be, "\x14\xE9", 2));
}

}  // namespace
