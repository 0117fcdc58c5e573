// TXT record data from a flat JSON object of attributes: one character-string
// "key=value" per pair, in input order. The reader is forgiving: whatever it
// cannot make sense of it passes over, and it never fails.
#include "dns/txt_json.h"

#include "core/text.h"
#include "dns/wire.h"

namespace {

constexpr std::size_t key_area = 128;     // at most 127 characters
constexpr std::size_t value_area = 192;   // at most 191 characters
constexpr std::size_t string_area = 256;  // "key=value", at most 255 characters
constexpr int string_max = 255;

// Space, tab, line feed, vertical tab, form feed, carriage return; bytes from
// 0x80 up are never white space.
bool is_space(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Copies characters from p into area while stop(c) is false and fewer than
// area_size - 1 have been copied. Returns true when the copy was cut short by
// the size of the area rather than by a stop character or the end.
template <typename Stop>
bool copy_until(const char*& p, char* area, std::size_t area_size, Stop stop)
{
    std::size_t n = 0;
    while (*p != '\0' && !stop(*p) && n + 1 < area_size) area[n++] = *p++;
    area[n] = '\0';
    return *p != '\0' && !stop(*p);
}

// Reads one pair; p is just after the key's opening quote and ends where the
// pair ends.
void read_pair(const char*& p, char* key, char* value)
{
    auto is_quote = [](char c) { return c == '"'; };
    auto ends_bare = [](char c) { return c == ',' || c == '}' || is_space(c); };

    copy_until(p, key, key_area, is_quote);
    if (*p == '"') p++;
    // Anything up to the colon is ignored, the rest of an over-long key too.
    while (*p != '\0' && *p != ':') p++;
    if (*p == ':') p++;
    while (is_space(*p)) p++;

    if (*p == '"') {
        p++;
        bool cut = copy_until(p, value, value_area, is_quote);
        // A value longer than 191 characters keeps its first 191; the rest of
        // it, up to and including the closing quote, is passed over here, so
        // that its tail can never be read as a new key or end the object.
        if (cut) {
            while (*p != '\0' && *p != '"') p++;
        }
        if (*p == '"') p++;
    } else {
        bool cut = copy_until(p, value, value_area, ends_bare);
        // Same for a long bare value: pass over its rest, up to (not
        // including) the character that ends it.
        if (cut) {
            while (*p != '\0' && !ends_bare(*p)) p++;
        }
    }
}

// Appends "key=value" as one character-string when the key is not empty, the
// string has at most 255 characters and it fits the 1023-byte total.
void store_pair(const char* key, const char* value, std::uint8_t* out, std::size_t& total)
{
    if (key[0] == '\0') return;
    char formed[string_area];
    int n = text_format(formed, sizeof formed, "%s=%s", key, value);
    if (n < 0 || n > string_max) return;  // dropped, never shortened
    const std::size_t size = static_cast<std::size_t>(n);
    if (total + 1 + size > txt_wire_max) return;
    wire_put_u8(out, txt_wire_max, total, static_cast<std::uint8_t>(size));
    wire_put_bytes(out, txt_wire_max, total, formed, size);
}

}  // namespace

void parse_txt_json(const char* json, std::uint8_t* out, std::size_t& out_length)
{
    out_length = 0;
    if (out == nullptr) return;

    std::size_t total = 0;
    const char* p = json;
    if (p != nullptr) {
        while (is_space(*p)) p++;
        if (*p == '{' && p[1] != '\0') {
            p++;
            char key[key_area];
            char value[value_area];
            // Invariant: p lies inside the NUL-terminated text and every pass
            // moves it forward by at least one character, so the scan ends
            // after at most strlen(json) passes.
            for (;;) {
                while (is_space(*p) || *p == ',') p++;
                if (*p == '\0' || *p == '}') break;  // nothing after "}" is read
                if (*p != '"') {
                    p++;  // unquoted keys and stray characters
                    continue;
                }
                p++;
                read_pair(p, key, value);
                store_pair(key, value, out, total);
            }
        }
    }

    if (total == 0) {
        out[0] = 0;  // one empty character-string: a record without attributes
        out_length = 1;
    } else {
        out_length = total;
    }
}
