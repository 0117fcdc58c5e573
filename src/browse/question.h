// The browser's question: the service-type enumeration question that it
// multicasts when it starts and, on a socket of its own, every 30 s.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::uint16_t browse_port = 5353;          // the own socket's port, fixed
constexpr std::size_t browse_seed_buffer_size = 256;
constexpr std::size_t browse_seed_length = 46;       // header, name, type, class
constexpr std::uint64_t browse_first_seed_ms = 500;  // the thread's first repeat, at the earliest
constexpr std::uint64_t browse_seed_interval_ms = 30000;

// Builds the service-type enumeration question into buffer (at least
// browse_seed_buffer_size bytes) and returns its length.
std::size_t browse_build_seed(std::uint8_t* buffer);

// Multicasts a question message of the browser: through the responder's
// socket to its port while the responder runs, else through the browser's
// own socket to 5353, else not at all. The caller must not hold the lock.
void browse_send_question(const std::uint8_t* message, std::size_t length);

// Multicasts the enumeration question: through the responder's socket to its
// port while the responder runs, else through the browser's own socket to
// 5353, else not at all. The caller must not hold the lock.
void browse_send_seed();
