// Process-wide state of the library. Every variable is guarded by the one
// library lock; the few that are read outside it are atomics.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

constexpr int max_services = 64;
constexpr std::size_t text_field = 64;       // host label, address, interface
constexpr std::size_t txt_json_field = 1024; // attribute text as given
constexpr std::size_t txt_wire_field = 1024; // encoded TXT record data
constexpr std::size_t last_error_size = 512;
constexpr std::size_t stats_buffer_size = 8192;
constexpr std::size_t ifaces_buffer_size = 8192;
constexpr std::uint16_t default_port = 5353;
// The receive threads of the responder and the browser: how long a stop
// waits for one to end, and the pause after a failed receive.
constexpr unsigned stop_wait_ms = 2000;
constexpr unsigned failed_receive_pause_ms = 5;

// One registered service.
struct service_entry {
    char type[text_field];          // "_http._tcp", without ".local"
    char name[text_field];          // instance name
    std::int32_t port;              // 1..65535
    char txt_json[txt_json_field];  // attributes as given, or "{}"
    std::uint8_t txt_wire[txt_wire_field];
    std::uint64_t txt_wire_len;     // at least 1
    // txt_json is the whole text given and one flat JSON object: the status
    // report may insert it as it stands.
    std::int32_t txt_json_reportable;
};

// ---- responder -------------------------------------------------------------------
extern std::atomic<std::int32_t> g_running;
extern std::atomic<plat_socket> g_sock;
extern std::atomic<std::int32_t> g_port;
// Changes (under the lock) whenever g_sock does, so a sender that captured
// the socket earlier can tell whether it is still the responder's socket.
extern std::atomic<std::uint32_t> g_sock_epoch;
extern plat_thread g_thread;
extern char g_hostname[text_field];
extern char g_addr[text_field];
extern char g_selected_if[text_field];
// Addresses g_addr held before its latest changes, newest first, and when
// each was replaced (monotonic ms): copies of our own earlier packets may
// still be in flight with them. Older ones fall off the end.
constexpr int addr_history_size = 8;
struct announced_addr_record {
    char text[text_field];  // empty: unused
    std::uint64_t replaced_ms;
};
extern announced_addr_record g_addr_history[addr_history_size];

// ---- name claims ----------------------------------------------------------------
// The label of the announcements that are between their first and their last
// send, and how many of them there are: while one runs for the current
// label, a rival claim on the name is settled by comparing addresses.
extern char g_claim_label[text_field];
extern std::int32_t g_claims_in_progress;
// When the latest renames after conflicts were made (monotonic ms), newest
// first: after this many within the window, further renames wait.
constexpr int rename_burst = 15;
constexpr std::uint64_t rename_burst_window_ms = 10000;
constexpr std::uint64_t rename_pause_ms = 5000;
extern std::uint64_t g_rename_times_ms[rename_burst];
extern std::int32_t g_rename_times_count;
extern std::int32_t g_rename_limited;  // renames wait rename_pause_ms each

// ---- services -------------------------------------------------------------------------
extern service_entry g_services[max_services];
extern std::int32_t g_service_count;

// ---- counters ---------------------------------------------------------------------
extern std::uint64_t g_queries_received;
extern std::uint64_t g_answers_sent;
extern std::int32_t g_conflict_count;

// ---- browser (the cache itself lives with the browser) ----------------------------------
extern std::atomic<std::int32_t> g_browsing;
extern std::int32_t g_browse_count;
// The browser's own socket; invalid whenever it has none. Written under the
// lock, read by its receive thread and the question sender.
extern std::atomic<plat_socket> g_browse_sock;
// The last receive thread created, and whether the current start made one
// that no stop has waited for yet. Both under the lock.
extern plat_thread g_browse_thread;
extern std::int32_t g_browse_thread_live;
// When the browser's receive thread asks again (monotonic clock, ms). Only
// that thread writes it.
extern std::atomic<std::uint64_t> g_browse_seed_deadline_ms;

// ---- report buffers ------------------------------------------------------------------
extern char g_stats_buffer[stats_buffer_size];
extern char g_ifaces_buffer[ifaces_buffer_size];

// ---- lock and last error ------------------------------------------------------------------
extern std::atomic<std::int32_t> g_lock_initialized;

// Creates the lock if this is its first use. Safe when first calls race.
void lock_init();
void lock_enter();
void lock_leave();

// Puts a message into the last-error text, whole: two threads that fail at
// the same moment never leave a mix of their messages.
void set_last_error(const char* message);
// Formats a message into a 256-byte scratch, then stores it as above.
void set_last_error_fmt(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
const char* last_error_text();

// What the inner, locked step of an exported function reports: a result
// code and, for a failure, its message. The exported function stores the
// message after it has released the lock.
constexpr std::size_t call_message_size = 256;
struct call_result {
    std::int32_t code;                  // 0 on success, else a negative MDNS_ERR_ code
    char message[call_message_size];    // empty: nothing to report
};
call_result call_ok();
call_result call_failed(std::int32_t code, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
// Puts a failure's message into the last-error text and returns the code.
std::int32_t finish_call(const call_result& result);

// Stores a new announced address, remembering the one it replaces in
// g_addr_history.
// The caller holds the lock.
void set_announced_addr_locked(const char* addr);

// The responder runs and has its socket: configuration changes are announced.
bool responder_open();
