// Records spread over as many messages as they need. A reply or an
// announcement offers its records in a fixed order; the first message takes
// every record that fits, by the room rule of the writers (a record that
// does not fit is left out and later, smaller ones are still tried), and
// each further message takes, by the same rule, the records that no earlier
// message holds. The records are offered again, in the same order, for each
// message: nothing is stored but which of them have been placed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dns/message.h"

// At most this many messages go out for one reply or one announcement, and
// at most this many records of one are tracked; records offered beyond it
// are left out.
constexpr int max_messages_per_batch = 32;
constexpr std::uint32_t max_records_per_batch = 4096;

enum record_section { answer_section, additional_section };

struct message_builder {
    std::uint8_t message[dns_message_size];
    std::size_t cursor;
    std::uint16_t answers;     // ANCOUNT of the message being built
    std::uint16_t additional;  // ARCOUNT
    bool goodbye;              // every record with TTL 0
    std::uint32_t offered;     // records offered so far in this pass
    std::uint32_t placed_now;  // records this message took
    bool left_over;            // a record of this pass went into no message
    int messages;              // messages started
    std::uint8_t placed[max_records_per_batch / 8];
};

// Starts a batch; with goodbye set every record is written with TTL 0.
void builder_begin(message_builder& b, bool goodbye);
// Starts the next message: cursor just past the header, tallies 0. False
// once the batch has its largest number of messages.
bool builder_next_message(message_builder& b);
// True when some records went into no message yet and the last message took
// at least one: another message is worth building. A record that fits no
// message even alone ends the batch.
bool builder_wants_more(const message_builder& b);

// Offer one record each. The record is written when no earlier message of
// the batch holds it and it fits; its section's tally counts it.
void offer_a(message_builder& b, record_section section, const dns_name_arg& host);
void offer_ptr(message_builder& b, record_section section, const dns_name_arg& owner,
               const dns_name_arg& target);
void offer_srv(message_builder& b, record_section section, const dns_name_arg& owner,
               std::int32_t port, const dns_name_arg& target);
void offer_txt(message_builder& b, record_section section, const dns_name_arg& owner,
               const std::uint8_t* data, std::size_t data_length);

// Writes the header of the message built (ID, flags 0x8400, the tallies).
void builder_finish(message_builder& b, std::uint16_t id);
