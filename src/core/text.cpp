#include "core/text.h"

#include <cstdio>
#include <cstring>

std::size_t text_copy(char* dst, std::size_t cap, const char* src)
{
    if (cap == 0) return 0;
    std::size_t n = 0;
    if (src != nullptr) {
        while (n + 1 < cap && src[n] != '\0') n++;
        std::memcpy(dst, src, n);
    }
    dst[n] = '\0';
    return n;
}

int text_vformat(char* dst, std::size_t cap, const char* format, std::va_list args)
{
    return std::vsnprintf(dst, cap, format, args);
}

int text_format(char* dst, std::size_t cap, const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    int n = text_vformat(dst, cap, format, args);
    va_end(args);
    return n;
}

std::size_t utf8_sequence_length(const unsigned char* s)
{
    unsigned char c = s[0];
    if (c < 0x80) return 1;
    std::size_t len;
    unsigned min_second = 0x80, max_second = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) min_second = 0xA0;
        if (c == 0xED) max_second = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) min_second = 0x90;
        if (c == 0xF4) max_second = 0x8F;
    } else {
        return 0;
    }
    if (s[1] < min_second || s[1] > max_second) return 0;
    for (std::size_t i = 2; i < len; i++) {
        if (s[i] < 0x80 || s[i] > 0xBF) return 0;
    }
    return len;
}

std::size_t json_escape(char* dst, std::size_t cap, const char* src)
{
    if (cap == 0) return 0;
    std::size_t out = 0;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(src != nullptr ? src : "");
    // Invariant: out < cap, so there is always room for the terminator.
    while (*s != '\0') {
        char piece[8];
        std::size_t piece_len;
        std::size_t consumed = 1;
        if (*s == '"' || *s == '\\') {
            piece[0] = '\\';
            piece[1] = static_cast<char>(*s);
            piece_len = 2;
        } else if (*s < 0x20 || *s == 0x7F) {
            piece_len = static_cast<std::size_t>(std::snprintf(piece, sizeof piece, "\\u%04x", *s));
        } else if (*s < 0x80) {
            piece[0] = static_cast<char>(*s);
            piece_len = 1;
        } else {
            consumed = utf8_sequence_length(s);
            if (consumed == 0) {
                consumed = 1;
                piece_len = static_cast<std::size_t>(std::snprintf(piece, sizeof piece, "\\u%04x", *s));
            } else {
                std::memcpy(piece, s, consumed);
                piece_len = consumed;
            }
        }
        if (out + piece_len >= cap) break;
        std::memcpy(dst + out, piece, piece_len);
        out += piece_len;
        s += consumed;
    }
    dst[out] = '\0';
    return out;
}

std::size_t text_ipv4(char* dst, std::size_t cap, std::uint32_t addr_be)
{
    unsigned char bytes[4];
    std::memcpy(bytes, &addr_be, sizeof bytes);  // network order: first byte first
    char text[16];                                // "255.255.255.255" and the terminator
    std::size_t n = 0;
    for (int i = 0; i < 4; i++) {
        unsigned v = bytes[i];
        if (i > 0) text[n++] = '.';
        if (v >= 100) text[n++] = static_cast<char>('0' + v / 100);
        if (v >= 10) text[n++] = static_cast<char>('0' + v / 10 % 10);
        text[n++] = static_cast<char>('0' + v % 10);
    }
    text[n] = '\0';
    return text_copy(dst, cap, text);
}

json_array_writer json_array_open(char* out, std::size_t cap)
{
    json_array_writer array = {out, cap, 0};
    out[array.length++] = '[';
    return array;
}

const char* json_array_separator(const json_array_writer& array)
{
    return array.length > 1 ? "," : "";
}

bool json_array_add(json_array_writer& array, const char* element, int n, std::size_t element_cap)
{
    if (n <= 0 || static_cast<std::size_t>(n) >= element_cap) return false;
    const std::size_t l = static_cast<std::size_t>(n);
    if (array.length + l + 2 > array.cap - 1) return false;
    std::memcpy(array.out + array.length, element, l);
    array.length += l;
    return true;
}

std::size_t json_array_close(json_array_writer& array)
{
    array.out[array.length++] = ']';
    array.out[array.length] = '\0';
    return array.length;
}

std::uint64_t text_fold_hash(const char* text, std::size_t length, std::uint64_t seed)
{
    constexpr std::uint64_t prime = 1099511628211ull;
    std::uint64_t h = 14695981039346656037ull;
    for (std::size_t i = 0; i < length; i++) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        h = (h ^ static_cast<unsigned char>(c)) * prime;
    }
    return (h ^ seed) * prime;
}
