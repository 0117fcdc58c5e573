// TXT record data from JSON attributes: the accepted forms, what is passed
// over, the 255-octet string limit and the 1023-octet total.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "dns/txt_json.h"

namespace {

using bytes = std::vector<std::uint8_t>;

// TXT data: each string behind its length octet.
bytes strings(std::initializer_list<std::string> items)
{
    bytes b;
    for (const std::string& s : items) {
        b.push_back(static_cast<std::uint8_t>(s.size()));
        for (char ch : s) b.push_back(static_cast<std::uint8_t>(ch));
    }
    return b;
}

const bytes no_attributes = {0x00};

// Encodes into a heap area of exactly txt_wire_max bytes, so that the address
// sanitizer sees any write beyond octet 1022.
bytes encode(const char* json)
{
    std::vector<std::uint8_t> out(txt_wire_max, 0xEE);
    std::size_t length = 9999;
    parse_txt_json(json, out.data(), length);
    EXPECT_GE(length, 1u);
    EXPECT_LE(length, txt_wire_max);
    if (length < 1 || length > txt_wire_max) return {};
    return bytes(out.begin(), out.begin() + length);
}

struct json_case {
    const char* what;
    std::string json;
    bytes expected;
};

TEST(TxtJson, Cases)
{
    const std::string k63(63, 'k'), k64(64, 'k'), k127(127, 'q'), k128(128, 'q');
    const std::string v191(191, 'v');
    const json_case cases[] = {
        {"two quoted pairs", R"({"a":"1","b":"2"})", strings({"a=1", "b=2"})},
        {"spaces and a bare number", R"({"name": "/", "port": 2})", strings({"name=/", "port=2"})},
        {"bare literals", R"({"a":true,"b":null})", strings({"a=true", "b=null"})},
        {"empty text", "", no_attributes},
        {"white space only", " \t\r\n\v\f", no_attributes},
        {"array", "[]", no_attributes},
        {"lone brace", "{", no_attributes},
        {"empty object", "{}", no_attributes},
        {"empty object with space", "{ }", no_attributes},
        {"character before the brace", R"(x{"a":"1"})", no_attributes},
        {"byte 0xA0 is not white space", "\xA0{\"a\":\"1\"}", no_attributes},
        {"white space before the brace", "\t\n {\"a\":\"1\"}", strings({"a=1"})},
        {"unquoted key", "{a:1}", no_attributes},
        {"empty key dropped, empty value kept", R"({"":"x","a":""})", strings({"a="})},
        {"no colon", R"({"a"})", strings({"a="})},
        {"no comma", R"({"a":"1" "b":"2"})", strings({"a=1", "b=2"})},
        {"array value", R"({"a":[1,2],"b":"c"})", strings({"a=[1", "b=c"})},
        {"nested object ends the scan", R"({"a":{"b":"c"},"d":"e"})", strings({"a={\"b\":\"c\""})},
        {"backslash is ordinary", R"({"a":"x\"})", strings({"a=x\\"})},
        {"duplicate keys in order", R"({"a":"1","a":"2"})", strings({"a=1", "a=2"})},
        {"colon and equals in a key", R"({"a:b=c":"1"})", strings({"a:b=c=1"})},
        {"text after the closing brace", R"({"a":"1"} {"b":"2"})", strings({"a=1"})},
        {"unterminated quoted value", R"({"a":"xyz)", strings({"a=xyz"})},
        {"bare value at the end", R"({"a":)", strings({"a="})},
        {"junk between quote and colon", R"({"a" junk : "1"})", strings({"a=1"})},
        {"key of 127", "{\"" + k127 + "\":\"v\"}", strings({k127 + "=v"})},
        {"key of 128 keeps 127", "{\"" + k128 + "\":\"v\"}", strings({k127 + "=v"})},
        {"255 characters stored", "{\"" + k63 + "\":\"" + v191 + "\"}", strings({k63 + "=" + v191})},
        {"256 characters dropped", "{\"" + k64 + "\":\"" + v191 + "\",\"b\":\"2\"}", strings({"b=2"})},
        // A value of exactly 191 characters: its closing quote is passed over
        // and never opens a key.
        {"quoted value of exactly 191", "{\"a\":\"" + v191 + "\",\"b\":\"2\"}",
         strings({"a=" + v191, "b=2"})},
        // Longer values keep their first 191 characters; the rest of the value
        // is passed over, so its tail is neither a key nor the end of the object.
        {"long quoted value with a brace", "{\"a\":\"" + v191 + "}}tail\",\"b\":\"2\"}",
         strings({"a=" + v191, "b=2"})},
        {"long quoted value", "{\"a\":\"" + v191 + "tail\",\"b\":\"2\"}",
         strings({"a=" + v191, "b=2"})},
        {"long bare value with quotes", "{\"a\":" + v191 + "\"q\":\"r\",\"b\":\"2\"}",
         strings({"a=" + v191, "b=2"})},
        {"long unterminated value", "{\"a\":\"" + v191 + "tail", strings({"a=" + v191})},
    };
    for (const json_case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.expected, encode(c.json.c_str()));
    }
    EXPECT_EQ(no_attributes, encode(nullptr));
}

TEST(TxtJson, TotalStaysWithin1023)
{
    // Four strings of 255 would need 1024 octets: the fourth is dropped, and
    // a later one of 254 still fits exactly (768 + 255 = 1023).
    // A key of 63 characters and a value of the rest (at most 191).
    auto pair = [](char key, std::size_t string_length) {
        return "\"" + std::string(63, key) + "\":\"" + std::string(string_length - 64, key) + "\"";
    };
    std::string json = "{" + pair('a', 255) + "," + pair('b', 255) + "," + pair('c', 255) + "," +
                       pair('d', 255) + "," + pair('e', 254) + "}";
    bytes out = encode(json.c_str());
    ASSERT_EQ(1023u, out.size());
    EXPECT_EQ(0xFF, out[0]);
    EXPECT_EQ('a', out[1]);
    EXPECT_EQ('b', out[257]);
    EXPECT_EQ('c', out[513]);
    EXPECT_EQ(254, out[768]);
    EXPECT_EQ('e', out[769]);

    // One more small pair no longer fits; a run of them fills up and stops.
    std::string many = "{";
    for (int i = 0; i < 400; i++) many += "\"k\":\"v\",";
    many += "}";
    out = encode(many.c_str());
    EXPECT_EQ(1020u, out.size());  // 255 strings of 4 octets each
}

// Every output is a sequence of length-prefixed "key=value" strings (or the
// single 00), and no input, however broken, writes beyond octet 1022.
TEST(TxtJson, RandomInputGivesWellFormedData)
{
    std::mt19937 rng(7u);
    const char alphabet[] = "{}\":, \t[]ab=\\x";
    for (int round = 0; round < 5000; round++) {
        std::string json = "{";
        const std::size_t length = rng() % 3000;
        for (std::size_t i = 0; i < length; i++) json += alphabet[rng() % (sizeof alphabet - 1)];
        bytes out = encode(json.c_str());
        ASSERT_FALSE(out.empty());
        if (out == no_attributes) continue;
        std::size_t at = 0;
        while (at < out.size()) {
            const std::size_t n = out[at];
            ASSERT_GE(n, 2u);
            ASSERT_LE(at + 1 + n, out.size());
            const std::string s(out.begin() + at + 1, out.begin() + at + 1 + n);
            ASSERT_NE(std::string::npos, s.find('='));
            at += 1 + n;
        }
    }
}

}  // namespace
