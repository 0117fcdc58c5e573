// The strict check of an attribute text: is it one flat JSON object, by the
// JSON grammar (RFC 8259)? Unlike parse_txt_json, which makes the best of
// any text, this reader accepts nothing else.
#include <cstddef>

#include "core/text.h"
#include "dns/txt_json.h"

namespace {

struct reader {
    const unsigned char* p;
};

void skip_space(reader& r)
{
    while (*r.p == ' ' || *r.p == '\t' || *r.p == '\n' || *r.p == '\r') r.p++;
}

bool is_hex(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A string, from its opening quote to just past its closing one.
bool string_value(reader& r)
{
    if (*r.p != '"') return false;
    r.p++;
    // Every pass consumes at least one character of the terminated text.
    for (;;) {
        const unsigned char c = *r.p;
        if (c == '"') {
            r.p++;
            return true;
        }
        if (c < 0x20) return false;  // a raw control character, or the end
        if (c == '\\') {
            r.p++;
            const unsigned char e = *r.p;
            if (e == 'u') {
                for (int i = 1; i <= 4; i++) {
                    if (!is_hex(r.p[i])) return false;
                }
                r.p += 5;
            } else if (e == '"' || e == '\\' || e == '/' || e == 'b' || e == 'f' || e == 'n' ||
                       e == 'r' || e == 't') {
                r.p++;
            } else {
                return false;
            }
        } else {
            const std::size_t length = utf8_sequence_length(r.p);
            if (length == 0) return false;
            r.p += length;
        }
    }
}

bool digits(reader& r)
{
    if (*r.p < '0' || *r.p > '9') return false;
    while (*r.p >= '0' && *r.p <= '9') r.p++;
    return true;
}

// -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
bool number_value(reader& r)
{
    if (*r.p == '-') r.p++;
    if (*r.p == '0') {
        r.p++;
    } else if (!digits(r)) {
        return false;
    }
    if (*r.p == '.') {
        r.p++;
        if (!digits(r)) return false;
    }
    if (*r.p == 'e' || *r.p == 'E') {
        r.p++;
        if (*r.p == '+' || *r.p == '-') r.p++;
        if (!digits(r)) return false;
    }
    return true;
}

bool literal(reader& r, const char* word)
{
    const unsigned char* p = r.p;
    for (const char* w = word; *w != '\0'; w++, p++) {
        if (*p != static_cast<unsigned char>(*w)) return false;
    }
    r.p = p;
    return true;
}

bool flat_value(reader& r)
{
    const unsigned char c = *r.p;
    if (c == '"') return string_value(r);
    if (c == '-' || (c >= '0' && c <= '9')) return number_value(r);
    return literal(r, "true") || literal(r, "false") || literal(r, "null");
}

}  // namespace

bool txt_json_is_flat_object(const char* text)
{
    if (text == nullptr) return false;
    reader r{reinterpret_cast<const unsigned char*>(text)};
    skip_space(r);
    if (*r.p != '{') return false;
    r.p++;
    skip_space(r);
    if (*r.p != '}') {
        // Every pass consumes a pair and, but for the last, its comma.
        for (;;) {
            if (!string_value(r)) return false;
            skip_space(r);
            if (*r.p != ':') return false;
            r.p++;
            skip_space(r);
            if (!flat_value(r)) return false;
            skip_space(r);
            if (*r.p == '}') break;
            if (*r.p != ',') return false;
            r.p++;
            skip_space(r);
        }
    }
    r.p++;  // the closing brace
    skip_space(r);
    return *r.p == '\0';
}
