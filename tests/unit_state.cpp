// Library state at load, the last-error text and the text helpers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/state.h"
#include "core/text.h"
#include "tandrelo_mdns.h"

TEST(LoadState, ThreeInfoFunctionsBeforeAnythingElse)
{
    EXPECT_STREQ("1.1.0", mdns_version());
    EXPECT_STREQ("", mdns_last_error());
    EXPECT_EQ(0, mdns_status());
    EXPECT_EQ(0, g_lock_initialized.load());  // none of the three creates the lock
}

TEST(LoadState, InitialValues)
{
    EXPECT_EQ(0, g_running.load());
    EXPECT_EQ(plat_invalid_socket, g_sock.load());
    EXPECT_EQ(5353, g_port.load());
    EXPECT_STREQ("tandrelo", g_hostname);
    EXPECT_STREQ("127.0.0.1", g_addr);
    EXPECT_STREQ("", g_selected_if);
    EXPECT_EQ(0, g_service_count);
    EXPECT_EQ(0u, g_queries_received);
    EXPECT_EQ(0u, g_answers_sent);
    EXPECT_EQ(0, g_conflict_count);
}

TEST(LastError, ShorterMessageLeavesNoTailOfTheLongerOne)
{
    set_last_error("Hostname label cannot contain dots (provide label without .local)");
    set_last_error("Hostname cannot be empty");
    EXPECT_STREQ("Hostname cannot be empty", mdns_last_error());
}

TEST(LastError, FormattedMessageIsCutAt255Characters)
{
    std::string long_text(400, 'x');
    set_last_error_fmt("Interface %s is not an active non-loopback adapter", long_text.c_str());
    EXPECT_EQ(255u, std::strlen(mdns_last_error()));
    EXPECT_EQ(0, std::strncmp(mdns_last_error(), "Interface xxx", 13));
}

TEST(LastError, ConcurrentWritersNeverLeaveAMix)
{
    const char* a = "Hostname cannot be empty";
    const char* b = "Service instance name cannot be empty";
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; t++) {
        writers.emplace_back([=] {
            for (int i = 0; i < 20000; i++) set_last_error((t + i) % 2 ? a : b);
        });
    }
    for (auto& w : writers) w.join();
    std::string last = mdns_last_error();
    EXPECT_TRUE(last == a || last == b) << last;
}

TEST(LockInit, ConcurrentFirstCallsCreateOneLock)
{
    std::vector<std::thread> threads;
    int counter = 0;
    for (int t = 0; t < 8; t++) {
        threads.emplace_back([&] {
            lock_init();
            for (int i = 0; i < 10000; i++) {
                lock_enter();
                counter++;
                lock_leave();
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(80000, counter);
    EXPECT_EQ(1, g_lock_initialized.load());
}

struct copy_case {
    const char* src;
    std::size_t cap;
    const char* expected;
};

TEST(TextCopy, CutsAndAlwaysTerminates)
{
    const copy_case cases[] = {
        {"tandrelo", 64, "tandrelo"}, {"tandrelo", 4, "tan"}, {"", 4, ""},
        {nullptr, 4, ""},             {"ab", 1, ""},          {"abc", 4, "abc"},
    };
    for (const auto& c : cases) {
        char out[64];
        std::memset(out, 'Z', sizeof out);
        std::size_t n = text_copy(out, c.cap, c.src);
        EXPECT_STREQ(c.expected, out);
        EXPECT_EQ(std::strlen(c.expected), n);
    }
}

TEST(TextFormat, ReturnsWouldBeLength)
{
    char out[8];
    EXPECT_EQ(10, text_format(out, sizeof out, "%s-%d", "tandrelo", 2));
    EXPECT_STREQ("tandrel", out);
}

struct escape_case {
    std::string in;
    std::string expected;
};

TEST(JsonEscape, EscapesWhatJsonNeedsAndKeepsValidUtf8)
{
    const escape_case cases[] = {
        {"plain", "plain"},
        {"a\"b\\c", "a\\\"b\\\\c"},
        {"tab\there\n", "tab\\u0009here\\u000a"},
        {"\x7f", "\\u007f"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
        {"bad\xff\xc3", "bad\\u00ff\\u00c3"},
        {"\xc0\xaf", "\\u00c0\\u00af"},          // overlong
        {"\xed\xa0\x80", "\\u00ed\\u00a0\\u0080"}, // surrogate
    };
    for (const auto& c : cases) {
        char out[128];
        json_escape(out, sizeof out, c.in.c_str());
        EXPECT_EQ(c.expected, std::string(out)) << c.in;
    }
}

TEST(JsonEscape, NeverCutsAnEscapeInTwo)
{
    char out[6];
    // "ab" fits, then \" would need 2 of the 3 remaining bytes plus the NUL.
    EXPECT_EQ(4u, json_escape(out, sizeof out, "ab\"\"cd"));
    EXPECT_STREQ("ab\\\"", out);
    EXPECT_EQ(2u, json_escape(out, sizeof out, "ab\x01"));
    EXPECT_STREQ("ab", out);
}
