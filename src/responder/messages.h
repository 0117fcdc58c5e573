// Records spread over as many messages as they need. A reply or an
// announcement offers its records in a fixed order; the first message takes
// every record that fits, by the room rule of the writers (a record that
// does not fit is left out and later, smaller ones are still tried), and
// each further message takes, by the same rule and in the same order, the
// records that no earlier message holds, each once: a record offered again
// (the host's address for every service a query matches, say) is repeated
// only where the first message repeats it. The records left over from the
// first message are kept as short references (which record of which
// service), so the further messages are written from them without walking
// the query or the service table again.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dns/message.h"

// At most this many records are offered for one reply or announcement
// (offers beyond it are dropped), which bounds the work of one datagram;
// an announcement of 64 services offers 257.
constexpr std::uint32_t max_records_per_batch = 1024;
// A reply takes at most 16 messages (64 KB), an announcement or a goodbye
// at most 32: enough for 64 services with the largest TXT data.
constexpr int max_messages_per_reply = 16;
constexpr int max_messages_per_announcement = 32;

enum record_section : std::uint8_t { answer_section, additional_section };

enum record_kind : std::uint8_t {
    host_a_record,        // A for the host name
    named_a_record,       // A for the builder's other_host name
    enumeration_ptr,      // PTR from the enumeration name to a service's type name
    type_ptr,             // PTR from a service's type name to its instance name
    instance_srv,         // SRV for a service's instance name
    instance_txt,         // TXT for a service's instance name
};

struct record_ref {
    record_kind kind;
    record_section section;
    std::uint8_t service;  // index in g_services, for the service records
};

// Every distinct record of a batch has a key: its kind, section and service
// (the service table holds at most 64).
constexpr std::size_t record_key_services = 64;
constexpr std::size_t record_keys = 8 * 2 * record_key_services;

struct message_builder {
    std::uint8_t message[dns_message_size];
    std::size_t cursor;
    std::uint16_t answers;     // ANCOUNT of the message being built
    std::uint16_t additional;  // ARCOUNT
    bool goodbye;              // every record with TTL 0
    const char* other_host;    // the name of named_a_record (text), or null
    // The host name, and the names of the service used last, formed once
    // for the batch: the lock is held until it is done.
    dns_name_arg host{nullptr};
    int names_of;              // the service of names, or -1
    dns_name_arg type_name{nullptr};
    dns_name_arg instance_name{nullptr};
    int messages;              // messages started
    int max_messages;
    std::uint32_t offered;     // records offered to the first message
    std::uint32_t waiting;     // records left over, in refs
    std::uint32_t placed_now;  // records the current message took
    bool left_over;            // a record is in no message yet
    record_ref refs[max_records_per_batch];
    std::uint8_t ref_placed[max_records_per_batch / 8];
    std::uint8_t key_placed[record_keys / 8];   // a message holds the record
    std::uint8_t key_waiting[record_keys / 8];  // the record is in refs
};

// Starts a batch of at most max_messages messages; with goodbye set every
// record is written with TTL 0. The caller holds the lock until the batch
// is done.
void builder_begin(message_builder& b, bool goodbye, int max_messages);
// Starts the next message: cursor just past the header, tallies 0. False
// once the batch has its largest number of messages.
bool builder_next_message(message_builder& b);
// True when another message is worth building: some offered records are in
// no message yet, and the last message took at least one (a record that
// fits no message even alone ends the batch).
bool builder_wants_more(const message_builder& b);
// True when no more offers can be taken.
bool builder_full(const message_builder& b);

// Offers one record to the first message; the record is written when it
// fits, and its section's tally counts it.
void offer(message_builder& b, record_kind kind, record_section section, int service = 0);
// Writes into the current (further) message the offered records that no
// earlier message holds, in their order, each when it fits.
void builder_fill_from_offers(message_builder& b);

// Writes the header of the message built (ID, flags 0x8400, the tallies).
void builder_finish(message_builder& b, std::uint16_t id);
