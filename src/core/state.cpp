#include "core/state.h"

#include <cstdarg>
#include <cstring>

#include "core/text.h"

std::atomic<std::int32_t> g_running{0};
std::atomic<plat_socket> g_sock{plat_invalid_socket};
std::atomic<std::int32_t> g_port{default_port};
std::atomic<std::uint32_t> g_sock_epoch{0};
plat_thread g_thread = 0;
char g_hostname[text_field] = "tandrelo";
char g_addr[text_field] = "127.0.0.1";
char g_selected_if[text_field] = "";
announced_addr_record g_addr_history[addr_history_size];

char g_claim_label[text_field] = "";
std::int32_t g_claims_in_progress = 0;
std::uint64_t g_rename_times_ms[rename_burst];
std::int32_t g_rename_times_count = 0;
std::int32_t g_rename_limited = 0;

service_entry g_services[max_services];
std::int32_t g_service_count = 0;

std::uint64_t g_queries_received = 0;
std::uint64_t g_answers_sent = 0;
std::int32_t g_conflict_count = 0;

std::atomic<std::int32_t> g_browsing{0};
std::int32_t g_browse_count = 0;
std::atomic<plat_socket> g_browse_sock{plat_invalid_socket};
plat_thread g_browse_thread = 0;
std::int32_t g_browse_thread_live = 0;
std::atomic<std::uint64_t> g_browse_seed_deadline_ms{0};

char g_stats_buffer[stats_buffer_size];
char g_ifaces_buffer[ifaces_buffer_size];

std::atomic<std::int32_t> g_lock_initialized{0};

// The last-error text is double-buffered: a writer fills the buffer that
// readers are not pointed at, then publishes it. A small spin flag keeps two
// writers apart without touching the library lock, which some failing paths
// hold and others do not.
static char g_last_error[2][last_error_size];
static std::atomic<int> g_last_error_current{0};
static std::atomic_flag g_last_error_busy = ATOMIC_FLAG_INIT;

void lock_init()
{
    if (g_lock_initialized.load(std::memory_order_acquire) == 0) {
        plat_lock_init_once();
        g_lock_initialized.store(1, std::memory_order_release);
    }
}

void lock_enter() { plat_lock_enter(); }
void lock_leave() { plat_lock_leave(); }

void set_last_error(const char* message)
{
    while (g_last_error_busy.test_and_set(std::memory_order_acquire)) {
        plat_sleep_ms(0);
    }
    int next = 1 - g_last_error_current.load(std::memory_order_relaxed);
    text_copy(g_last_error[next], last_error_size, message);
    g_last_error_current.store(next, std::memory_order_release);
    g_last_error_busy.clear(std::memory_order_release);
}

void set_last_error_fmt(const char* format, ...)
{
    char scratch[256];
    std::va_list args;
    va_start(args, format);
    text_vformat(scratch, sizeof scratch, format, args);
    va_end(args);
    set_last_error(scratch);
}

const char* last_error_text()
{
    return g_last_error[g_last_error_current.load(std::memory_order_acquire)];
}

call_result call_ok()
{
    call_result r;
    r.code = 0;
    r.message[0] = '\0';
    return r;
}

call_result call_failed(std::int32_t code, const char* format, ...)
{
    call_result r;
    r.code = code;
    std::va_list args;
    va_start(args, format);
    text_vformat(r.message, sizeof r.message, format, args);
    va_end(args);
    return r;
}

std::int32_t finish_call(const call_result& result)
{
    if (result.message[0] != '\0') set_last_error(result.message);
    return result.code;
}

void set_announced_addr_locked(const char* addr)
{
    if (std::strcmp(g_addr, addr) != 0) {
        for (int i = addr_history_size - 1; i > 0; i--) g_addr_history[i] = g_addr_history[i - 1];
        text_copy(g_addr_history[0].text, sizeof g_addr_history[0].text, g_addr);
        g_addr_history[0].replaced_ms = plat_monotonic_ms();
    }
    text_copy(g_addr, sizeof g_addr, addr);
}

bool responder_open() { return g_running.load() != 0 && g_sock.load() != plat_invalid_socket; }
