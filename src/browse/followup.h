// The browser's follow-up questions. What the response branch reads while
// browsing leads to questions that complete it: a service type named by the
// enumeration answers is asked for its instances (PTR), an instance for its
// SRV and TXT records, an SRV record's target host for its address (A).
// They are multicast with the unicast-response bit clear, so every browser
// on the link hears the answers.
//
// Bounds: each name is asked at most once per 30 s (a fixed table of the
// names asked lately; when it is full the oldest entry gives way), the
// questions of one datagram go out together in at most two messages, and
// at most 20 follow-up messages leave per second in all.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dns/message.h"

constexpr std::uint64_t followup_repeat_ms = 30000;
constexpr int followup_table_size = 256;
constexpr int followup_max_candidates = 64;
constexpr int followup_max_messages = 2;
constexpr unsigned followup_messages_per_second = 20;

enum followup_kind {
    followup_instances,  // a service type: PTR
    followup_resolve,    // an instance: SRV and TXT
    followup_address,    // a host: A
};

// A name found in a datagram, by the offset at which it starts there.
struct followup_candidate {
    std::size_t name_at;
    followup_kind kind;
};

// The follow-ups of one datagram: the names noted while its records were
// read, then the messages that ask about them.
struct followup_plan {
    int candidates;
    followup_candidate candidate[followup_max_candidates];
    int messages;
    std::size_t length[followup_max_messages];
    std::uint8_t message[followup_max_messages][dns_message_size];
};

void followup_begin(followup_plan& plan);

// Notes a name to ask about; beyond followup_max_candidates per datagram
// names are passed over.
void followup_note(followup_plan& plan, std::size_t name_at, followup_kind kind);

// Turns the noted names into question messages: names asked within the
// last 30 s are passed over, and so are an instance whose SRV and TXT, or a
// host whose address, the cache already holds. A name is recorded as asked
// only when its question has a place in a message that the rate allows.
// The caller holds the lock, and calls it after the datagram's records have
// reached the cache.
void followup_plan_locked(followup_plan& plan, const std::uint8_t* datagram, std::size_t length);

// Sends the planned messages the way the enumeration question goes. The
// caller must not hold the lock.
void followup_send(const followup_plan& plan);

// Forgets every name asked (the browser starts afresh).
void followup_forget_locked();
