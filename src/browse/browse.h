// The browser's lifecycle: on the responder's socket while the responder
// runs, otherwise on a socket and receive thread of its own.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

constexpr std::uint16_t browse_port = 5353;          // the own socket's port, fixed
constexpr std::size_t browse_seed_buffer_size = 256;
constexpr std::size_t browse_seed_length = 46;       // header, name, type, class
constexpr std::uint64_t browse_first_seed_ms = 500;  // the thread's first repeat, at the earliest
constexpr std::uint64_t browse_seed_interval_ms = 30000;

// The browser's own socket; invalid whenever it has none. Written under the
// lock, read by its receive thread and the seed sender.
extern std::atomic<plat_socket> g_browse_sock;
// The last receive thread created, and whether the current start made one
// that no stop has waited for yet. Both under the lock.
extern plat_thread g_browse_thread;
extern std::int32_t g_browse_thread_live;
// When the receive thread asks again (monotonic clock, ms). Only the receive
// thread writes it.
extern std::atomic<std::uint64_t> g_browse_seed_deadline_ms;

// Builds the service-type enumeration question into buffer (at least
// browse_seed_buffer_size bytes) and returns its length.
std::size_t browse_build_seed(std::uint8_t* buffer);

// Multicasts the enumeration question: through the responder's socket to its
// port while the responder runs, else through the browser's own socket to
// 5353, else not at all. The caller must not hold the lock.
void browse_send_seed();

// Puts the browser's variables back to their values at load (tests only;
// nothing may be running).
void browse_reset_for_tests();
