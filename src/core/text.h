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

// Writes the dotted-decimal text of an IPv4 address held in network byte
// order, as "%u.%u.%u.%u" of its four bytes would, cut to cap like
// text_copy. Returns the length written.
std::size_t text_ipv4(char* dst, std::size_t cap, std::uint32_t addr_be);
