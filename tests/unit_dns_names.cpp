// Domain names: writing dotted text as labels, reading labels and
// compression pointers back, and hostile input on the read side.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dns/message.h"
#include "support/wire_bytes.h"

namespace {


struct read_result {
    int ok;
    std::string text;
    std::size_t cursor;
};

// Reads from a heap copy of exactly the message's size, so that the address
// sanitizer sees any byte read past the end.
read_result read_name(const bytes& message, std::size_t start)
{
    std::vector<std::uint8_t> exact(message);
    exact.shrink_to_fit();
    char text[dns_name_text_size];
    std::memset(text, 'Z', sizeof text);
    std::size_t cursor = start;
    int ok = dns_read_name(exact.empty() ? nullptr : exact.data(), exact.size(), cursor, text);
    return {ok, std::string(text, strnlen(text, sizeof text)), cursor};
}

// ---- writing -----------------------------------------------------------------------

struct write_case {
    std::string name;
    bytes wire;
    std::string read_back;
};

std::vector<write_case> write_cases()
{
    std::string a63(63, 'a'), a64(64, 'a'), b100(100, 'b');
    return {
        {"myhost.local", lab("myhost") + lab("local") + end_octet, "myhost.local"},
        {"", end_octet, ""},
        {".", end_octet, ""},
        {"..", end_octet, ""},
        {".a", lab("a") + end_octet, "a"},
        {"a.", lab("a") + end_octet, "a"},
        {"a..b", lab("a") + lab("b") + end_octet, "a.b"},
        {a64 + ".local", lab(a63) + lab("local") + end_octet, a63 + ".local"},
        {b100, lab(std::string(63, 'b')) + end_octet, std::string(63, 'b')},
        {"MyHost.LOCAL", lab("MyHost") + lab("LOCAL") + end_octet, "MyHost.LOCAL"},
        {"_services._dns-sd._udp.local",
         lab("_services") + lab("_dns-sd") + lab("_udp") + lab("local") + end_octet,
         "_services._dns-sd._udp.local"},
    };
}

TEST(DnsWriteName, LabelBytesAndReadBack)
{
    for (const write_case& c : write_cases()) {
        SCOPED_TRACE("name: \"" + c.name + "\"");
        std::vector<std::uint8_t> buffer(dns_message_size, 0xAA);
        std::size_t cursor = dns_header_size;
        ASSERT_EQ(1, dns_write_name(buffer.data(), buffer.size(), cursor, c.name.c_str()));
        EXPECT_EQ(dns_header_size + c.wire.size(), cursor);
        EXPECT_EQ(c.wire, bytes(buffer.begin() + dns_header_size, buffer.begin() + cursor));
        EXPECT_EQ(bytes(dns_header_size, 0xAA), bytes(buffer.begin(), buffer.begin() + dns_header_size));
        EXPECT_EQ(0xAA, buffer[cursor]);

        read_result r = read_name(bytes(buffer.begin(), buffer.begin() + cursor), dns_header_size);
        EXPECT_EQ(1, r.ok);
        EXPECT_EQ(c.read_back, r.text);
        EXPECT_EQ(cursor, r.cursor);
    }
}

TEST(DnsWriteName, ExactRoomSucceedsOneOctetLessFails)
{
    for (const write_case& c : write_cases()) {
        SCOPED_TRACE("name: \"" + c.name + "\"");
        const std::size_t capacity = dns_header_size + c.wire.size();
        std::vector<std::uint8_t> exact(capacity);
        std::size_t cursor = dns_header_size;
        EXPECT_EQ(1, dns_write_name(exact.data(), capacity, cursor, c.name.c_str()));
        EXPECT_EQ(capacity, cursor);

        std::vector<std::uint8_t> short_by_one(capacity - 1);
        cursor = dns_header_size;
        EXPECT_EQ(0, dns_write_name(short_by_one.data(), capacity - 1, cursor, c.name.c_str()));
        EXPECT_LE(cursor, capacity - 1);
    }
}

TEST(DnsWriteName, PiecesBeforeTheFailureStay)
{
    // Room for one octet: the length octet 02 goes in, its characters do not.
    std::vector<std::uint8_t> buffer(13, 0xAA);
    std::size_t cursor = 12;
    EXPECT_EQ(0, dns_write_name(buffer.data(), buffer.size(), cursor, "ab"));
    EXPECT_EQ(13u, cursor);
    EXPECT_EQ(0x02, buffer[12]);

    // Labels fit, the final 00 does not.
    std::vector<std::uint8_t> no_end(4, 0xAA);
    cursor = 0;
    EXPECT_EQ(0, dns_write_name(no_end.data(), no_end.size(), cursor, "a.b"));
    EXPECT_EQ(4u, cursor);
}

TEST(DnsWriteName, BadArgumentsGiveZero)
{
    std::vector<std::uint8_t> buffer(64);
    std::size_t cursor = 5;
    EXPECT_EQ(0, dns_write_name(buffer.data(), buffer.size(), cursor, nullptr));
    EXPECT_EQ(5u, cursor);
    cursor = 65;  // already beyond the capacity
    EXPECT_EQ(0, dns_write_name(buffer.data(), buffer.size(), cursor, "a"));
    EXPECT_EQ(65u, cursor);
    // A name far longer than the buffer stops at the capacity.
    std::string huge;
    for (int i = 0; i < 200; i++) huge += "label.";
    cursor = 0;
    EXPECT_EQ(0, dns_write_name(buffer.data(), buffer.size(), cursor, huge.c_str()));
    EXPECT_LE(cursor, buffer.size());
}

// ---- reading -----------------------------------------------------------------------

// "x" at offset 0, then n pointers, each to the one before it; the last
// pointer starts at the returned offset. Reading there follows n pointers.
bytes pointer_chain(int n, std::size_t& last)
{
    bytes m = lab("x") + end_octet;
    std::size_t target = 0;
    for (int i = 0; i < n; i++) {
        last = m.size();
        m = m + oct({0xC0 | static_cast<int>(target >> 8), static_cast<int>(target & 0xFF)});
        target = last;
    }
    return m;
}

struct read_case {
    const char* what;
    bytes message;
    std::size_t start;
    int ok;
    std::string text;    // when ok
    std::size_t cursor;  // after the call (the start on failure)
};

std::vector<read_case> read_cases()
{
    const std::string l63a(63, 'a');
    bytes nine, eight;
    std::string nine_text, eight_text;
    for (int i = 0; i < 9; i++) {
        std::string l(63, static_cast<char>('a' + i));
        nine = nine + lab(l);
        if (!nine_text.empty()) nine_text += ".";
        nine_text += l;
        if (i < 8) eight = eight + lab(l);
    }
    eight_text = nine_text.substr(0, 511);  // eight labels: exactly 511 characters

    const bytes header(12, 0);
    const bytes services = header + lab("_udp") + lab("local") + end_octet  // offset 12
                           + lab("_services") + lab("_dns-sd") + oct({0xC0, 0x0C});

    std::size_t last10 = 0, last11 = 0;
    const bytes chain10 = pointer_chain(10, last10);
    const bytes chain11 = pointer_chain(11, last11);

    return {
        {"root only", end_octet, 0, 1, "", 1},
        {"plain name", lab("myhost") + lab("local") + end_octet, 0, 1, "myhost.local", 14},
        {"pointer to offset 12", services, 24, 1, "_services._dns-sd._udp.local", 44},
        {"chain of 10 pointers", chain10, last10, 1, "x", last10 + 2},
        {"chain of 11 pointers", chain11, last11, 0, "", last11},
        {"pointer to itself", oct({0xC0, 0x00}), 0, 0, "", 0},
        {"two pointers in a loop", oct({0xC0, 0x02, 0xC0, 0x00}), 0, 0, "", 0},
        {"pointer octet is the last octet", lab("a") + oct({0xC0}), 0, 0, "", 0},
        {"pointer to offset == length", oct({0xC0, 0x02}), 0, 0, "", 0},
        {"pointer far past the end", lab("a") + oct({0xFF, 0xFF}), 0, 0, "", 0},
        {"length octet 40", oct({0x40, 'a', 0}), 0, 0, "", 0},
        {"length octet 7F", oct({0x7F, 'a', 0}), 0, 0, "", 0},
        {"length octet 80", oct({0x80, 'a', 0}), 0, 0, "", 0},
        {"length octet BF", oct({0xBF, 'a', 0}), 0, 0, "", 0},
        {"reserved octet after a label", lab("a") + oct({0x41}), 0, 0, "", 0},
        {"label past the end", oct({0x05, 'a', 'b', 'c'}), 0, 0, "", 0},
        {"label one octet past the end", lab("a") + oct({0x02, 'b'}), 0, 0, "", 0},
        {"labels end exactly at the end", lab("a") + lab("b"), 0, 1, "a.b", 4},
        {"pointer, then labels run out", oct({0xC0, 0x02}) + lab("a") + lab("b"), 0, 1, "a.b", 2},
        {"cursor == length", lab("a") + end_octet, 3, 1, "", 3},
        {"cursor > length", lab("a") + end_octet, 9, 1, "", 9},
        {"empty message", bytes{}, 0, 1, "", 0},
        {"nine labels of 63, cut to 511", nine + end_octet, 0, 1, nine_text.substr(0, 511),
         9 * 64 + 1},
        {"eight labels of 63, exactly 511", eight + end_octet, 0, 1, eight_text, 8 * 64 + 1},
        {"511 then a dot that is dropped", eight + lab("z") + end_octet, 0, 1, eight_text,
         8 * 64 + 2 + 1},
        {"cut text still validates to the end", nine + oct({0x40}), 0, 0, "", 0},
        {"octet 2E inside a label", oct({0x03, 'a', '.', 'b', 0x00}), 0, 1, "a.b", 5},
        {"pointer into the middle of a label", lab("abc") + oct({0xC0, 0x02}), 4, 0, "", 4},
        {"mixed case kept", lab("MyHost") + end_octet, 0, 1, "MyHost", 8},
    };
}

TEST(DnsReadName, Cases)
{
    for (const read_case& c : read_cases()) {
        SCOPED_TRACE(c.what);
        read_result r = read_name(c.message, c.start);
        EXPECT_EQ(c.ok, r.ok);
        EXPECT_EQ(c.cursor, r.cursor);
        if (c.ok) {
            EXPECT_EQ(c.text, r.text);
        }
    }
}

TEST(DnsReadName, NullTextOrMessageGivesZero)
{
    bytes m = lab("a") + end_octet;
    std::size_t cursor = 0;
    EXPECT_EQ(0, dns_read_name(m.data(), m.size(), cursor, nullptr));
    EXPECT_EQ(0u, cursor);
    char text[dns_name_text_size];
    EXPECT_EQ(0, dns_read_name(nullptr, 10, cursor, text));
    EXPECT_EQ(0u, cursor);
}

// ---- hostile input ---------------------------------------------------------------

// Checks the contract for one read: 0 or 1, cursor unchanged on 0, on 1 the
// cursor moved forward and stayed inside the message, text at most 511.
void expect_sane_read(const bytes& message, std::size_t start)
{
    read_result r = read_name(message, start);
    ASSERT_TRUE(r.ok == 0 || r.ok == 1);
    ASSERT_LE(r.text.size(), dns_name_text_size - 1);
    if (r.ok == 0 || start >= message.size()) {
        ASSERT_EQ(start, r.cursor);
    } else {
        ASSERT_GT(r.cursor, start);
        ASSERT_LE(r.cursor, message.size());
    }
}

// A question section with several compressed names in it; web_at is where
// the last name, a pointer to "web" + pointer + pointer, starts.
bytes sample_message(std::size_t& web_at)
{
    bytes m = oct({0x12, 0x34, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    m = m + lab("_udp") + lab("local") + end_octet + oct({0x00, 0x0C, 0x00, 0x01});
    m = m + lab("_services") + lab("_dns-sd") + oct({0xC0, 12});  // -> _udp.local
    m = m + oct({0x00, 0x0C, 0x00, 0x01});
    const std::size_t http_at = m.size();
    m = m + lab("_http") + lab("_tcp") + oct({0xC0, 17});          // -> local
    const std::size_t label_web_at = m.size();
    m = m + lab("web") + oct({0xC0, static_cast<int>(http_at)});
    web_at = m.size();
    m = m + oct({0xC0, static_cast<int>(label_web_at)});
    return m;
}

TEST(DnsNameMutation, TruncatedAtEveryLength)
{
    std::size_t web_at = 0;
    const bytes full = sample_message(web_at);
    for (std::size_t len = 0; len <= full.size(); len++) {
        bytes cut(full.begin(), full.begin() + len);
        for (std::size_t start = 0; start <= len + 1; start++) {
            SCOPED_TRACE("length " + std::to_string(len) + " start " + std::to_string(start));
            expect_sane_read(cut, start);
        }
    }
    // The intact message reads the names it was built with.
    EXPECT_EQ("web._http._tcp.local", read_name(full, web_at).text);
    EXPECT_EQ(web_at + 2, read_name(full, web_at).cursor);
}

TEST(DnsNameMutation, EveryByteFlipped)
{
    std::size_t web_at = 0;
    const bytes full = sample_message(web_at);
    const int replacements[] = {0x00, 0x01, 0x3F, 0x40, 0x7F, 0x80, 0xBF, 0xC0, 0xFF};
    for (std::size_t i = 0; i < full.size(); i++) {
        std::vector<int> values(std::begin(replacements), std::end(replacements));
        values.push_back(full[i] ^ 0xFF);
        values.push_back((full[i] + 1) & 0xFF);
        for (int v : values) {
            bytes mutated(full);
            mutated[i] = static_cast<std::uint8_t>(v);
            for (std::size_t start = 0; start < mutated.size(); start++) {
                SCOPED_TRACE("byte " + std::to_string(i) + " = " + std::to_string(v) +
                             " start " + std::to_string(start));
                expect_sane_read(mutated, start);
            }
        }
    }
}

TEST(DnsNameMutation, RandomMessages)
{
    std::mt19937 rng(20240607u);
    // Biased towards the interesting octets so that labels and pointers are common.
    const int interesting[] = {0x00, 0x01, 0x02, 0x03, 0x3F, 0x40, 0xBF, 0xC0, 0xC1, 'a'};
    for (int round = 0; round < 20000; round++) {
        bytes m(rng() % 80);
        for (auto& b : m) {
            b = (rng() % 2) ? static_cast<std::uint8_t>(interesting[rng() % 10])
                            : static_cast<std::uint8_t>(rng() % 80);
        }
        std::size_t start = m.empty() ? 0 : rng() % m.size();
        expect_sane_read(m, start);
        if (HasFatalFailure()) return;
    }
}

}  // namespace
