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

// Slots 0 .. g_browse_count - 1 are in use, without holes.
extern browse_entry g_browse[browse_capacity];

// Stores or refreshes the entry for (name, rrtype), compared ignoring the
// case of ASCII letters. A value that is null or empty (a port of 0) leaves
// the stored one alone. An empty name does nothing. A full table gives up
// its stalest entry. The caller holds the lock.
void browse_upsert(const char* name, std::uint16_t rrtype, const char* ip, std::int32_t port,
                   const char* target, const char* txt, const char* from);

// Renders the table as a JSON array into g_browse_buffer and returns it.
// The caller holds the lock.
const char* browse_results_json_locked();
