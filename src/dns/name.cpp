// Domain names between dotted text and the label form used inside DNS
// messages. Names are always written in full; compression pointers are only
// ever followed on reading.
#include <cstring>

#include "dns/message.h"
#include "dns/wire.h"

namespace {

constexpr std::size_t max_label_length = 63;
constexpr std::size_t name_text_max = dns_name_text_size - 1;  // 511 characters
constexpr std::uint8_t pointer_bits = 0xC0;                    // 11xxxxxx
constexpr std::uint8_t first_reserved_octet = 0x40;            // 01xxxxxx and 10xxxxxx
constexpr std::uint16_t pointer_offset_mask = 0x3FFF;

// Appends one character to the name text while it holds fewer than 511;
// later characters are dropped so that the text is always the first 511
// characters of the full name.
void append_char(char* text, std::size_t& used, char c)
{
    if (used < name_text_max) text[used++] = c;
}

// The walk behind dns_read_name and dns_skip_name, from a cursor inside the
// message. With text null the labels are checked and stepped over the same
// way, and nothing is stored.
int walk_name(const std::uint8_t* message, std::size_t length, std::size_t& cursor, char* text)
{
    std::size_t place = cursor;
    std::size_t name_end = length;  // just after the 00, or length
    std::size_t resume = 0;         // just after the first pointer
    bool followed_pointer = false;
    int pointers = 0;
    std::size_t used = 0;

    // Every pass either follows a pointer (at most dns_max_pointers times) or
    // consumes at least one octet of a run of labels, and no run is longer
    // than the message, so this budget is never reached on any input.
    const std::size_t budget = (static_cast<std::size_t>(dns_max_pointers) + 1) * (length + 1);
    bool ended = false;
    for (std::size_t pass = 0; pass < budget && !ended; pass++) {
        // Invariant: place < length, used <= name_text_max.
        std::size_t next = place;
        std::uint8_t c = 0;
        if (!wire_get_u8(message, length, next, c)) break;

        if (c == 0) {
            name_end = next;
            ended = true;
        } else if ((c & pointer_bits) == pointer_bits) {
            std::size_t after = place;
            std::uint16_t pointer = 0;
            if (!wire_get_be16(message, length, after, pointer)) break;  // second octet missing
            if (!followed_pointer) {
                resume = after;
                followed_pointer = true;
            }
            std::size_t offset = pointer & pointer_offset_mask;
            if (offset >= length) break;
            if (++pointers > dns_max_pointers) break;
            place = offset;
        } else if (c >= first_reserved_octet) {
            break;
        } else {
            if (c > length - next) break;  // the label does not lie wholly inside
            if (text != nullptr) {
                if (used > 0) append_char(text, used, '.');
                std::size_t keep = name_text_max - used;
                if (keep > c) keep = c;
                std::size_t copy_at = next;
                wire_get_bytes(message, length, copy_at, text + used, keep);  // inside: checked above
                used += keep;
            }
            place = next + c;
            if (place >= length) {
                name_end = length;
                ended = true;
            }
        }
    }
    if (text != nullptr) text[used] = '\0';
    if (!ended) return 0;
    cursor = followed_pointer ? resume : name_end;
    return 1;
}

}  // namespace

// Each run of characters up to a "." becomes one label. Empty runs write
// nothing, and a run longer than 63 characters keeps its first 63. On the
// first piece that does not fit the pieces already stored stay in place.
int dns_write_name(std::uint8_t* buffer, std::size_t capacity, std::size_t& cursor, const char* name)
{
    if (buffer == nullptr || name == nullptr) return 0;
    const char* p = name;
    // Invariant: p is at the start of a run inside the NUL-terminated name,
    // and every pass moves it forward by at least one character.
    while (*p != '\0') {
        std::size_t run = std::strcspn(p, ".");
        if (run > 0) {
            std::size_t label = run < max_label_length ? run : max_label_length;
            if (!wire_put_u8(buffer, capacity, cursor, static_cast<std::uint8_t>(label))) return 0;
            if (!wire_put_bytes(buffer, capacity, cursor, p, label)) return 0;
        }
        p += run;
        if (*p == '.') p++;
    }
    return wire_put_u8(buffer, capacity, cursor, 0);
}

/*
 * Wire form of a name: a sequence of items, each led by one octet.
 *
 *   00          end of the name
 *   01..3F      label: that many octets follow
 *   40..BF      reserved: the name is rejected
 *   C0..FF xx   pointer: the name continues at offset ((first & 3F) << 8 | xx)
 *
 * Where the caller continues: just after the first pointer if one was
 * followed, else just after the 00, else (labels ran into the end of the
 * message) at length. A failure leaves the cursor where it was.
 */
int dns_read_name(const std::uint8_t* message, std::size_t length, std::size_t& cursor, char* text)
{
    if (text == nullptr) return 0;
    text[0] = '\0';
    if (cursor >= length) return 1;
    if (message == nullptr) return 0;
    return walk_name(message, length, cursor, text);
}

int dns_skip_name(const std::uint8_t* message, std::size_t length, std::size_t& cursor)
{
    if (cursor >= length) return 1;
    if (message == nullptr) return 0;
    return walk_name(message, length, cursor, nullptr);
}
