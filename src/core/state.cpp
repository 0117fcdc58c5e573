#include "core/state.h"

#include <cstdarg>
#include <cstring>

#include "browse/browse.h"
#include "core/text.h"

std::atomic<std::int32_t> g_running{0};
std::atomic<plat_socket> g_sock{plat_invalid_socket};
std::atomic<std::int32_t> g_port{default_port};
std::atomic<std::uint32_t> g_sock_epoch{0};
plat_thread g_thread = 0;
char g_hostname[text_field] = "tandrelo";
char g_addr[text_field] = "127.0.0.1";
char g_selected_if[text_field] = "";
char g_addr_previous[text_field] = "";
std::uint64_t g_addr_changed_ms = 0;

service_entry g_services[max_services];
std::int32_t g_service_count = 0;

std::uint64_t g_queries_received = 0;
std::uint64_t g_answers_sent = 0;
std::int32_t g_conflict_count = 0;

std::atomic<std::int32_t> g_browsing{0};
std::int32_t g_browse_count = 0;

char g_stats_buffer[stats_buffer_size];
char g_ifaces_buffer[ifaces_buffer_size];
char g_browse_buffer[browse_buffer_size];

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

void set_announced_addr_locked(const char* addr)
{
    if (std::strcmp(g_addr, addr) != 0) {
        text_copy(g_addr_previous, sizeof g_addr_previous, g_addr);
        g_addr_changed_ms = plat_monotonic_ms();
    }
    text_copy(g_addr, sizeof g_addr, addr);
}

bool responder_open() { return g_running.load() != 0 && g_sock.load() != plat_invalid_socket; }

void send_on_responder_socket(std::uint32_t epoch, const std::uint8_t* data, std::size_t length,
                              const plat_addr4& to)
{
    lock_enter();
    plat_socket s = g_sock.load();
    if (g_sock_epoch.load() == epoch && s != plat_invalid_socket) {
        plat_sendto(s, data, length, to);  // a failed send is not reported
    }
    lock_leave();
}

void state_reset_for_tests()
{
    g_running = 0;
    g_sock = plat_invalid_socket;
    g_port = default_port;
    g_thread = 0;
    text_copy(g_hostname, sizeof g_hostname, "tandrelo");
    text_copy(g_addr, sizeof g_addr, "127.0.0.1");
    g_selected_if[0] = '\0';
    g_addr_previous[0] = '\0';
    g_addr_changed_ms = 0;
    std::memset(g_services, 0, sizeof g_services);
    g_service_count = 0;
    g_queries_received = 0;
    g_answers_sent = 0;
    g_conflict_count = 0;
    browse_reset_for_tests();  // the cache, g_browsing, g_browse_count, the own socket
    std::memset(g_last_error, 0, sizeof g_last_error);
    g_last_error_current = 0;
}
