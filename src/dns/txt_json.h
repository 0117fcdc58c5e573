// TXT record data from a flat JSON object of attributes.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t txt_wire_max = 1023;

// Encodes the attributes of json (may be null) as TXT record data into out
// (at least txt_wire_max bytes) and stores its length (1..1023) in
// out_length. Never fails: no attribute gives the single octet 0x00.
void parse_txt_json(const char* json, std::uint8_t* out, std::size_t& out_length);
