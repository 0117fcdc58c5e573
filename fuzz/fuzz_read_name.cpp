// dns_read_name at every offset of the input, compared with a plain
// reference reader written from the wire rules below. The message is the
// input itself: libFuzzer hands it over in a heap block of exactly its size,
// so AddressSanitizer sees any read past its end.
//
//   00          end of the name
//   01..3F      label of that many octets
//   40..BF      malformed
//   C0..FF xx   pointer to offset ((first & 3F) << 8 | xx), at most 10 of them
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dns/message.h"

namespace {

constexpr std::size_t text_max = dns_name_text_size - 1;

void check(bool condition)
{
    if (!condition) std::abort();
}

// The name at cursor as whole dotted text (cut to 511 characters at the
// end), and where the caller goes on. False on a malformed name.
bool reference_read(const std::uint8_t* m, std::size_t length, std::size_t& cursor,
                    std::string& text)
{
    text.clear();
    if (cursor >= length) return true;
    std::size_t place = cursor;
    std::size_t resume = 0;
    bool followed = false;
    int pointers = 0;
    std::size_t end = 0;
    std::string full;
    for (;;) {
        const std::uint8_t c = m[place];
        if (c == 0) {
            end = place + 1;
            break;
        }
        if (c >= 0xC0) {
            if (place + 1 >= length) return false;
            if (!followed) {
                followed = true;
                resume = place + 2;
            }
            const std::size_t offset = (static_cast<std::size_t>(c & 0x3F) << 8) | m[place + 1];
            if (offset >= length) return false;
            if (++pointers > dns_max_pointers) return false;
            place = offset;
            continue;
        }
        if (c >= 0x40) return false;
        if (place + 1 + c > length) return false;
        if (!full.empty()) full += '.';
        full.append(reinterpret_cast<const char*>(m + place + 1), c);
        place += 1 + c;
        if (place >= length) {
            end = length;
            break;
        }
    }
    text = full.substr(0, text_max);
    cursor = followed ? resume : end;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > dns_message_size) return 0;
    // One past the end too: a cursor at the length reads the empty name.
    for (std::size_t start = 0; start <= size; start++) {
        char text[dns_name_text_size];
        std::memset(text, 'X', sizeof text);
        std::size_t cursor = start;
        const int ok = dns_read_name(data, size, cursor, text);

        std::size_t expected_cursor = start;
        std::string expected_text;
        const bool expected_ok = reference_read(data, size, expected_cursor, expected_text);

        check(ok == (expected_ok ? 1 : 0));
        check(std::memchr(text, '\0', sizeof text) != nullptr);
        if (ok) {
            check(cursor == expected_cursor);
            check(cursor <= size || cursor == start);
            // Label octets are copied as they are, a 00 among them too, so
            // the text is compared octet for octet up to its terminator.
            check(text[expected_text.size()] == '\0');
            check(std::memcmp(text, expected_text.data(), expected_text.size()) == 0);
        } else {
            check(cursor == start);
        }
    }
    return 0;
}
