// parse_txt_json on any text. The input is copied into a heap block of
// exactly its length plus the terminator, and the output area is a heap block
// of exactly txt_wire_max octets, so AddressSanitizer sees a read past the
// text or a write past the area.
//
// What must hold for every input: the length is 1..1023; the data is either
// the single octet 00 or a run of character-strings that fills it exactly,
// each of 2..255 octets with an "=" after a key of at least one character.
// The same text read twice gives the same data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dns/txt_json.h"

namespace {

void check(bool condition)
{
    if (!condition) std::abort();
}

void check_txt_data(const std::uint8_t* out, std::size_t length)
{
    check(length >= 1 && length <= txt_wire_max);
    if (length == 1 && out[0] == 0) return;
    std::size_t at = 0;
    // Invariant: at < length at the top; every pass moves it by 1 + n >= 3.
    while (at < length) {
        const std::size_t n = out[at];
        check(n >= 2);
        check(n <= length - at - 1);
        const std::uint8_t* string = out + at + 1;
        const void* equals = std::memchr(string + 1, '=', n - 1);
        check(equals != nullptr);
        // Strings are formed from C texts: no 00 inside.
        check(std::memchr(string, 0, n) == nullptr);
        at += 1 + n;
    }
    check(at == length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The attribute text reaches the library as a C text: it ends at the
    // first 00.
    std::size_t text_length = 0;
    while (text_length < size && data[text_length] != 0) text_length++;
    char* json = new char[text_length + 1];
    std::memcpy(json, data, text_length);
    json[text_length] = '\0';

    std::uint8_t* out = new std::uint8_t[txt_wire_max];
    std::size_t length = 12345;
    parse_txt_json(json, out, length);
    check_txt_data(out, length);

    std::vector<std::uint8_t> first(out, out + length);
    std::size_t again = 0;
    parse_txt_json(json, out, again);
    check(again == length && std::memcmp(first.data(), out, length) == 0);

    delete[] out;
    delete[] json;
    return 0;
}
