// TXT record data from a flat JSON object of attributes.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t txt_wire_max = 1023;

// Encodes the attributes of json (may be null) as TXT record data into out
// (at least txt_wire_max bytes) and stores its length (1..1023) in
// out_length. Never fails: no attribute gives the single octet 0x00.
void parse_txt_json(const char* json, std::uint8_t* out, std::size_t& out_length);

// True when text is one complete, valid JSON object whose values are all
// strings, numbers, true, false or null (no nested object or array), with
// nothing but white space around it, and whose strings are valid UTF-8
// without raw control characters. Such a text can stand in a JSON report
// as it is.
bool txt_json_is_flat_object(const char* text);
