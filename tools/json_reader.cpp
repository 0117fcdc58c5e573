// A small, bounded JSON reader for the library's reports and for the TXT
// attributes that a user types.
#include "json_reader.h"

#include <cstdlib>
#include <cstring>

namespace tool {
namespace {

struct Reader {
    const char* p;
    const char* end;
    std::string error;

    bool fail(const char* why)
    {
        if (error.empty()) error = why;
        return false;
    }
    void skip_space()
    {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')) p++;
    }
    bool literal(const char* word)
    {
        std::size_t n = std::strlen(word);
        if (static_cast<std::size_t>(end - p) < n || std::memcmp(p, word, n) != 0)
            return fail("unknown literal");
        p += n;
        return true;
    }
    static int hex(char c)
    {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }
    static void put_utf8(std::string& out, unsigned cp)
    {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    bool string(std::string& out)
    {
        p++;  // the opening quote
        while (p < end && *p != '"') {
            if (*p != '\\') {
                out += *p++;
                continue;
            }
            if (end - p < 2) return fail("unterminated escape");
            char c = p[1];
            p += 2;
            switch (c) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                if (end - p < 4) return fail("short \\u escape");
                unsigned cp = 0;
                for (int i = 0; i < 4; i++) {
                    int h = hex(p[i]);
                    if (h < 0) return fail("bad \\u escape");
                    cp = cp * 16 + static_cast<unsigned>(h);
                }
                p += 4;
                put_utf8(out, cp);  // surrogates are kept as they are
                break;
            }
            default: return fail("unknown escape");
            }
        }
        if (p >= end) return fail("unterminated string");
        p++;  // the closing quote
        return true;
    }
    bool number(JsonValue& out)
    {
        const char* start = p;
        if (p < end && *p == '-') p++;
        while (p < end && (std::strchr("0123456789.eE+-", *p) != nullptr)) p++;
        out.kind = JsonValue::Kind::number;
        out.text.assign(start, p);
        char* stop = nullptr;
        out.number = std::strtod(out.text.c_str(), &stop);
        if (out.text.empty() || stop == nullptr || *stop != '\0') return fail("bad number");
        return true;
    }
    bool value(JsonValue& out, int depth)
    {
        if (depth > max_depth) return fail("nested too deeply");
        skip_space();
        if (p >= end) return fail("unexpected end");
        switch (*p) {
        case '{': return object(out, depth);
        case '[': return array(out, depth);
        case '"': out.kind = JsonValue::Kind::string; return string(out.text);
        case 't': out.kind = JsonValue::Kind::boolean; out.boolean = true; return literal("true");
        case 'f': out.kind = JsonValue::Kind::boolean; return literal("false");
        case 'n': out.kind = JsonValue::Kind::null; return literal("null");
        default: return number(out);
        }
    }
    bool array(JsonValue& out, int depth)
    {
        out.kind = JsonValue::Kind::array;
        p++;
        skip_space();
        if (p < end && *p == ']') {
            p++;
            return true;
        }
        for (;;) {
            out.items.emplace_back();
            if (!value(out.items.back(), depth + 1)) return false;
            skip_space();
            if (p < end && *p == ',') {
                p++;
                continue;
            }
            if (p < end && *p == ']') {
                p++;
                return true;
            }
            return fail("expected , or ] in array");
        }
    }
    bool object(JsonValue& out, int depth)
    {
        out.kind = JsonValue::Kind::object;
        p++;
        skip_space();
        if (p < end && *p == '}') {
            p++;
            return true;
        }
        for (;;) {
            skip_space();
            if (p >= end || *p != '"') return fail("expected a key");
            std::string key;
            if (!string(key)) return false;
            skip_space();
            if (p >= end || *p != ':') return fail("expected :");
            p++;
            out.members.emplace_back(std::move(key), JsonValue());
            if (!value(out.members.back().second, depth + 1)) return false;
            skip_space();
            if (p < end && *p == ',') {
                p++;
                continue;
            }
            if (p < end && *p == '}') {
                p++;
                return true;
            }
            return fail("expected , or } in object");
        }
    }
};

}  // namespace

const JsonValue* JsonValue::get(const char* key) const
{
    for (const auto& member : members)
        if (member.first == key) return &member.second;
    return nullptr;
}

std::string JsonValue::str(const char* key, const char* fallback) const
{
    const JsonValue* v = get(key);
    if (v == nullptr) return fallback;
    if (v->kind == Kind::string || v->kind == Kind::number) return v->text;
    return fallback;
}

long long JsonValue::integer(const char* key, long long fallback) const
{
    const JsonValue* v = get(key);
    if (v == nullptr || v->kind != Kind::number) return fallback;
    return std::strtoll(v->text.c_str(), nullptr, 10);
}

std::string JsonValue::scalar_text() const
{
    switch (kind) {
    case Kind::string:
    case Kind::number: return text;
    case Kind::boolean: return boolean ? "true" : "false";
    case Kind::null: return "null";
    default: return "";
    }
}

bool parse_json(const char* text, JsonValue& out, std::string* error)
{
    out = JsonValue();
    if (text == nullptr) {
        if (error) *error = "no text";
        return false;
    }
    std::size_t length = std::strlen(text);
    if (length > max_input) {
        if (error) *error = "text too long";
        return false;
    }
    Reader reader{text, text + length, {}};
    bool ok = reader.value(out, 0);
    if (ok) {
        reader.skip_space();
        if (reader.p != reader.end) ok = reader.fail("text after the value");
    }
    if (!ok) {
        if (error) *error = reader.error;
        out = JsonValue();
    }
    return ok;
}

void append_json_string(std::string& out, const std::string& text)
{
    static const char digits[] = "0123456789abcdef";
    out += '"';
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            out += "\\u00";
            out += digits[c >> 4];
            out += digits[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

}  // namespace tool
