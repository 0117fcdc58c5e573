// The browse cache: what the browser has heard from other hosts, one entry
// per owner name and record type, in a fixed table of 256 slots.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int browse_capacity = 256;
constexpr std::size_t browse_name_field = 512;    // owner name, 511 characters
constexpr std::size_t browse_ip_field = 64;       // dotted-decimal address
constexpr std::size_t browse_target_field = 512;  // PTR or SRV target
constexpr std::size_t browse_txt_field = 1024;    // TXT strings joined with ";"
constexpr std::size_t browse_from_field = 64;     // sender's address

// One cached answer. Text fields are always terminated; longer values are
// stored cut to the field.
struct browse_entry {
    char name[browse_name_field];      // letter case of the first answer
    std::uint16_t rrtype;              // 1, 12, 16 or 33
    char ip[browse_ip_field];          // A only
    std::int32_t port;                 // SRV only
    char target[browse_target_field];  // PTR and SRV
    char txt[browse_txt_field];        // TXT only
    char from[browse_from_field];      // sender of the latest answer
    std::uint64_t last_seen;           // ms since 1970, whole seconds
};

// json_escape turns one character into at most six ("\u00XX").
constexpr std::size_t browse_escaped_size(std::size_t field) { return 6 * (field - 1) + 1; }
// One report element at its longest: every text field escaped at its
// longest, the keys, the separator and the numbers (a 5-digit type, an
// 11-character port and a 20-digit time), with the terminator.
constexpr std::size_t browse_element_size =
    sizeof ",{\"name\":\"\",\"rrtype\":,\"ip\":\"\",\"port\":,\"target\":\"\",\"txt\":\"\","
           "\"from\":\"\",\"last_seen\":}" +
    (browse_escaped_size(browse_name_field) - 1) + (browse_escaped_size(browse_ip_field) - 1) +
    (browse_escaped_size(browse_target_field) - 1) + (browse_escaped_size(browse_txt_field) - 1) +
    (browse_escaped_size(browse_from_field) - 1) + 5 + 11 + 20;
// The report buffer holds a full table of elements at their longest, the
// brackets and the terminator, with one byte to spare: no entry is ever
// left out. About 3.4 MB of static storage, of which a report touches only
// what it writes.
constexpr std::size_t browse_buffer_size = browse_capacity * browse_element_size + 4;
extern char g_browse_buffer[browse_buffer_size];

// Slots 0 .. g_browse_count - 1 are in use, without holes.
extern browse_entry g_browse[browse_capacity];

// Stores or refreshes the entry for (name, rrtype), compared ignoring the
// case of ASCII letters. A value that is null or empty (a port of 0) leaves
// the stored one alone. An empty name does nothing. A full table gives up
// its stalest entry. The caller holds the lock.
void browse_upsert(const char* name, std::uint16_t rrtype, const char* ip, std::int32_t port,
                   const char* target, const char* txt, const char* from);

// Called before and after the records of one datagram reach the cache: a
// full table gives up at most 16 entries to the new keys of one datagram,
// and the entries marked by goodbyes go at its end. The caller holds the
// lock.
void browse_begin_datagram_locked();
void browse_end_datagram_locked();

// The entry for (name, rrtype), ASCII case ignored, or null. The caller
// holds the lock.
const browse_entry* browse_find_locked(const char* name, std::uint16_t rrtype);

// A goodbye (TTL 0) for a cached answer: marks the entry for (name, rrtype)
// for removal when it holds that answer (the same address for A, the same
// target for PTR; SRV and TXT entries by their owner alone). Nothing
// changes when no such entry is held. Called between
// browse_begin_datagram_locked and browse_end_datagram_locked, which
// removes the marked entries; the others keep their order, without holes.
void browse_mark_goodbye_locked(const char* name, std::uint16_t rrtype, const char* ip,
                                const char* target);

// Renders the table as a JSON array into g_browse_buffer and returns it.
// The caller holds the lock.
const char* browse_results_json_locked();
