#include "responder/messages.h"

#include <cstring>

namespace {

// Whether the next record offered is to be written now: it is tracked, and
// no earlier message holds it. Moves the offer count on either way.
bool take_offer(message_builder& b, std::uint32_t& index)
{
    index = b.offered++;
    if (index >= max_records_per_batch) return false;
    return (b.placed[index / 8] & (1u << (index % 8))) == 0;
}

void settle(message_builder& b, std::uint32_t index, record_section section, int written)
{
    if (!written) {
        b.left_over = true;
        return;
    }
    b.placed[index / 8] = static_cast<std::uint8_t>(b.placed[index / 8] | (1u << (index % 8)));
    b.placed_now++;
    if (section == answer_section) {
        b.answers++;
    } else {
        b.additional++;
    }
}

}  // namespace

void builder_begin(message_builder& b, bool goodbye)
{
    b.goodbye = goodbye;
    b.messages = 0;
    std::memset(b.placed, 0, sizeof b.placed);
}

bool builder_next_message(message_builder& b)
{
    if (b.messages == max_messages_per_batch) return false;
    b.messages++;
    b.cursor = dns_header_size;
    b.answers = 0;
    b.additional = 0;
    b.offered = 0;
    b.placed_now = 0;
    b.left_over = false;
    return true;
}

bool builder_wants_more(const message_builder& b)
{
    return b.left_over && b.placed_now > 0 && b.messages < max_messages_per_batch;
}

void offer_a(message_builder& b, record_section section, const dns_name_arg& host)
{
    std::uint32_t index;
    if (!take_offer(b, index)) return;
    settle(b, index, section, dns_add_a_record(b.message, b.cursor, host, b.goodbye));
}

void offer_ptr(message_builder& b, record_section section, const dns_name_arg& owner,
               const dns_name_arg& target)
{
    std::uint32_t index;
    if (!take_offer(b, index)) return;
    settle(b, index, section, dns_add_ptr_record(b.message, b.cursor, owner, target, b.goodbye));
}

void offer_srv(message_builder& b, record_section section, const dns_name_arg& owner,
               std::int32_t port, const dns_name_arg& target)
{
    std::uint32_t index;
    if (!take_offer(b, index)) return;
    settle(b, index, section,
           dns_add_srv_record(b.message, b.cursor, owner, port, target, b.goodbye));
}

void offer_txt(message_builder& b, record_section section, const dns_name_arg& owner,
               const std::uint8_t* data, std::size_t data_length)
{
    std::uint32_t index;
    if (!take_offer(b, index)) return;
    settle(b, index, section,
           dns_add_txt_record(b.message, b.cursor, owner, data, data_length, b.goodbye));
}

void builder_finish(message_builder& b, std::uint16_t id)
{
    dns_write_header(b.message, id, dns_flags_response, 0, b.answers, b.additional);
}
