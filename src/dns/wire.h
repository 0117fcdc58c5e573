// Bounded byte cursors over DNS messages. Every byte the library writes into
// or reads out of a message goes through these: a write checks that
// cursor + size <= capacity before it stores anything, a read checks that the
// bytes lie wholly inside the message. All multi-byte values are big-endian.
// They are inline: they run several times for every record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// True when size bytes fit at cursor in a buffer of capacity bytes. Room is
// compared as "size <= space left", so a cursor near SIZE_MAX never wraps.
inline bool wire_room(std::size_t capacity, std::size_t cursor, std::size_t size)
{
    return cursor <= capacity && size <= capacity - cursor;
}

inline int wire_put_u8(std::uint8_t* buffer, std::size_t capacity, std::size_t& cursor,
                       std::uint8_t value)
{
    if (buffer == nullptr || !wire_room(capacity, cursor, 1)) return 0;
    buffer[cursor] = value;
    cursor += 1;
    return 1;
}

inline int wire_put_be16(std::uint8_t* buffer, std::size_t capacity, std::size_t& cursor,
                         std::uint16_t value)
{
    if (buffer == nullptr || !wire_room(capacity, cursor, 2)) return 0;
    buffer[cursor] = static_cast<std::uint8_t>(value >> 8);
    buffer[cursor + 1] = static_cast<std::uint8_t>(value);
    cursor += 2;
    return 1;
}

inline int wire_put_be32(std::uint8_t* buffer, std::size_t capacity, std::size_t& cursor,
                         std::uint32_t value)
{
    if (buffer == nullptr || !wire_room(capacity, cursor, 4)) return 0;
    buffer[cursor] = static_cast<std::uint8_t>(value >> 24);
    buffer[cursor + 1] = static_cast<std::uint8_t>(value >> 16);
    buffer[cursor + 2] = static_cast<std::uint8_t>(value >> 8);
    buffer[cursor + 3] = static_cast<std::uint8_t>(value);
    cursor += 4;
    return 1;
}

inline int wire_put_bytes(std::uint8_t* buffer, std::size_t capacity, std::size_t& cursor,
                          const void* data, std::size_t length)
{
    if (buffer == nullptr || !wire_room(capacity, cursor, length)) return 0;
    if (length == 0) return 1;
    if (data == nullptr) return 0;
    std::memcpy(buffer + cursor, data, length);
    cursor += length;
    return 1;
}
// Overwrites two bytes at a place already written (RDLENGTH fix-ups).
inline void wire_patch_be16(std::uint8_t* buffer, std::size_t at, std::uint16_t value)
{
    buffer[at] = static_cast<std::uint8_t>(value >> 8);
    buffer[at + 1] = static_cast<std::uint8_t>(value);
}

// The big-endian 16-bit value at a place known to be inside the message.
inline std::uint16_t wire_be16_at(const std::uint8_t* message, std::size_t at)
{
    return static_cast<std::uint16_t>((message[at] << 8) | message[at + 1]);
}

// Reads succeed (1) only when the value lies wholly inside [0, length); on
// failure (0) the cursor is unchanged.
inline int wire_get_u8(const std::uint8_t* message, std::size_t length, std::size_t& cursor,
                       std::uint8_t& value)
{
    if (message == nullptr || !wire_room(length, cursor, 1)) return 0;
    value = message[cursor];
    cursor += 1;
    return 1;
}

inline int wire_get_be16(const std::uint8_t* message, std::size_t length, std::size_t& cursor,
                         std::uint16_t& value)
{
    if (message == nullptr || !wire_room(length, cursor, 2)) return 0;
    value = wire_be16_at(message, cursor);
    cursor += 2;
    return 1;
}

inline int wire_get_be32(const std::uint8_t* message, std::size_t length, std::size_t& cursor,
                         std::uint32_t& value)
{
    if (message == nullptr || !wire_room(length, cursor, 4)) return 0;
    value = static_cast<std::uint32_t>(wire_be16_at(message, cursor)) << 16 |
            wire_be16_at(message, cursor + 2);
    cursor += 4;
    return 1;
}

// Copies count bytes at cursor into out and advances the cursor past them.
inline int wire_get_bytes(const std::uint8_t* message, std::size_t length, std::size_t& cursor,
                          void* out, std::size_t count)
{
    if (!wire_room(length, cursor, count)) return 0;
    if (count == 0) return 1;
    if (message == nullptr || out == nullptr) return 0;
    std::memcpy(out, message + cursor, count);
    cursor += count;
    return 1;
}
