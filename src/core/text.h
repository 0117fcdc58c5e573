// Bounded text handling: every write into a fixed array goes through these.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// Copies src into dst of capacity cap, cutting it to cap - 1 bytes; always
// terminates (when cap > 0). Returns the number of bytes copied.
std::size_t text_copy(char* dst, std::size_t cap, const char* src);

// snprintf semantics: cuts, always terminates, returns the would-be length
// (negative only on an encoding error).
int text_format(char* dst, std::size_t cap, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
int text_vformat(char* dst, std::size_t cap, const char* format, std::va_list args);

// Writes src as the inside of a JSON string: '"' and '\' get a backslash,
// control characters and bytes that are not part of valid UTF-8 become
// \u00XX. Stops before the first character whose escaped form would not fit
// with the terminator, so an escape is never cut. Returns the length written.
std::size_t json_escape(char* dst, std::size_t cap, const char* src);

// FNV-1a (64 bits) over the first length bytes of text with ASCII letters
// folded to lower case, then over seed: names equal but for the case of
// their letters hash alike. For the tables that find names quickly; a match
// of hashes is always checked against the text.
std::uint64_t text_fold_hash(const char* text, std::size_t length, std::uint64_t seed = 0);

// Length of the valid UTF-8 sequence that starts at s (a terminated text),
// or 0 when s does not start one (overlong forms, surrogates and code
// points above U+10FFFF are invalid).
std::size_t utf8_sequence_length(const unsigned char* s);

// A JSON array built in a fixed buffer of cap bytes (cap >= 3). Elements go
// in whole or not at all, and room for the closing bracket and the
// terminator, with one byte to spare, is always kept: an element that does
// not fit is left out and later, shorter ones are still tried.
struct json_array_writer {
    char* out;
    std::size_t cap;
    std::size_t length;
};
json_array_writer json_array_open(char* out, std::size_t cap);
// The separator an element formatted now must begin with: "," once the
// array holds an element, so one left out can never leave "[," behind.
const char* json_array_separator(const json_array_writer& array);
// Appends an element that text_format wrote into a scratch of element_cap
// bytes, returning n; a cut or failed element (n <= 0 or n >= element_cap)
// is never appended. True when it went in.
bool json_array_add(json_array_writer& array, const char* element, int n, std::size_t element_cap);
// Closes the array; returns its length.
std::size_t json_array_close(json_array_writer& array);

// Writes the dotted-decimal text of an IPv4 address held in network byte
// order, as "%u.%u.%u.%u" of its four bytes would, cut to cap like
// text_copy. Returns the length written.
std::size_t text_ipv4(char* dst, std::size_t cap, std::uint32_t addr_be);
