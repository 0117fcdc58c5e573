#include "responder/messages.h"

#include <cstring>

#include "responder/responder.h"

namespace {

bool test_bit(const std::uint8_t* bits, std::size_t i) { return (bits[i / 8] & (1u << (i % 8))) != 0; }

void set_bit(std::uint8_t* bits, std::size_t i)
{
    bits[i / 8] = static_cast<std::uint8_t>(bits[i / 8] | (1u << (i % 8)));
}

static_assert(max_services <= static_cast<int>(record_key_services), "a key for every service");

std::size_t key_of(const record_ref& r)
{
    return (static_cast<std::size_t>(r.kind) * 2 + r.section) * record_key_services + r.service;
}

// Writes the referenced record at the cursor; 1 when it fitted. The names
// are formed ones (they stay valid while the lock is held).
int write_record_locked(message_builder& b, const record_ref& r)
{
    const dns_name_arg& host = b.host;
    switch (r.kind) {
    case host_a_record:
        return dns_add_a_record(b.message, b.cursor, host, b.goodbye);
    case named_a_record:
        return dns_add_a_record(b.message, b.cursor, dns_name_arg(b.other_host), b.goodbye);
    default:
        break;
    }
    const service_entry& s = g_services[r.service];
    if (b.names_of != r.service) {
        const service_names formed = service_names_of_locked(r.service);
        b.type_name = formed.type_name;
        b.instance_name = formed.instance_name;
        b.names_of = r.service;
    }
    const service_names names = {b.type_name, b.instance_name};
    switch (r.kind) {
    case enumeration_ptr:
        return dns_add_ptr_record(b.message, b.cursor, enumeration_name_locked(), names.type_name,
                                  b.goodbye);
    case type_ptr:
        return dns_add_ptr_record(b.message, b.cursor, names.type_name, names.instance_name,
                                  b.goodbye);
    case instance_srv:
        return dns_add_srv_record(b.message, b.cursor, names.instance_name, s.port, host, b.goodbye);
    case instance_txt:
        return dns_add_txt_record(b.message, b.cursor, names.instance_name, s.txt_wire,
                                  static_cast<std::size_t>(s.txt_wire_len), b.goodbye);
    default:
        return 0;
    }
}

void count_placed(message_builder& b, const record_ref& r)
{
    set_bit(b.key_placed, key_of(r));
    b.placed_now++;
    if (r.section == answer_section) {
        b.answers++;
    } else {
        b.additional++;
    }
}

}  // namespace

void builder_begin(message_builder& b, bool goodbye, int max_messages)
{
    b.goodbye = goodbye;
    b.other_host = nullptr;
    b.host = host_name_locked();
    b.names_of = -1;
    b.messages = 0;
    b.max_messages = max_messages;
    b.offered = 0;
    b.waiting = 0;
    b.left_over = false;
    std::memset(b.key_placed, 0, sizeof b.key_placed);
    std::memset(b.key_waiting, 0, sizeof b.key_waiting);
}

bool builder_next_message(message_builder& b)
{
    if (b.messages >= b.max_messages) return false;
    b.messages++;
    b.cursor = dns_header_size;
    b.answers = 0;
    b.additional = 0;
    b.placed_now = 0;
    b.left_over = false;
    return true;
}

bool builder_wants_more(const message_builder& b)
{
    return b.left_over && b.placed_now > 0 && b.messages < b.max_messages;
}

bool builder_full(const message_builder& b) { return b.offered >= max_records_per_batch; }

void offer(message_builder& b, record_kind kind, record_section section, int service)
{
    if (builder_full(b)) return;
    b.offered++;
    const record_ref r = {kind, section, static_cast<std::uint8_t>(service)};
    const std::size_t key = key_of(r);
    // The same record did not fit earlier in this message, with more room
    // than there is now: it cannot fit now either.
    if (test_bit(b.key_waiting, key)) return;
    if (write_record_locked(b, r)) {
        count_placed(b, r);
        return;
    }
    // Left over: kept for a further message, unless the same record is
    // already in this one.
    if (test_bit(b.key_placed, key)) return;
    set_bit(b.key_waiting, key);
    b.refs[b.waiting++] = r;
    b.left_over = true;
}

void builder_fill_from_offers(message_builder& b)
{
    if (b.messages == 2) std::memset(b.ref_placed, 0, sizeof b.ref_placed);
    for (std::uint32_t i = 0; i < b.waiting; i++) {
        if (test_bit(b.ref_placed, i)) continue;
        if (write_record_locked(b, b.refs[i])) {
            set_bit(b.ref_placed, i);
            count_placed(b, b.refs[i]);
        } else {
            b.left_over = true;
        }
    }
}

void builder_finish(message_builder& b, std::uint16_t id)
{
    dns_write_header(b.message, id, dns_flags_response, 0, b.answers, b.additional);
}
