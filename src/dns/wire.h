// Bounded byte cursors over DNS messages. Every byte the library writes into
// or reads out of a message goes through these: a write checks that
// cursor + size <= capacity before it stores anything, a read checks that the
// bytes lie wholly inside the message. All multi-byte values are big-endian.
#pragma once

#include <cstddef>
#include <cstdint>

int wire_put_u8(std::uint8_t* buffer, std::size_t capacity, std::size_t& cursor, std::uint8_t value);
int wire_put_be16(std::uint8_t* buffer, std::size_t capacity, std::size_t& cursor, std::uint16_t value);
int wire_put_be32(std::uint8_t* buffer, std::size_t capacity, std::size_t& cursor, std::uint32_t value);
int wire_put_bytes(std::uint8_t* buffer, std::size_t capacity, std::size_t& cursor,
                   const void* data, std::size_t length);
// Overwrites two bytes at a place already written (RDLENGTH fix-ups).
void wire_patch_be16(std::uint8_t* buffer, std::size_t at, std::uint16_t value);

// Reads succeed (1) only when the value lies wholly inside [0, length); on
// failure (0) the cursor is unchanged.
int wire_get_u8(const std::uint8_t* message, std::size_t length, std::size_t& cursor,
                std::uint8_t& value);
int wire_get_be16(const std::uint8_t* message, std::size_t length, std::size_t& cursor,
                  std::uint16_t& value);
// Copies count bytes at cursor into out and advances the cursor past them.
int wire_get_bytes(const std::uint8_t* message, std::size_t length, std::size_t& cursor,
                   void* out, std::size_t count);
// The big-endian 16-bit value at a place known to be inside the message.
std::uint16_t wire_be16_at(const std::uint8_t* message, std::size_t at);
