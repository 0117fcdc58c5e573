#include "internal/state_reset.h"

#include <cstring>

#include "browse/cache.h"
#include "browse/followup.h"
#include "core/state.h"
#include "core/text.h"
#include "net/on_link.h"

void browse_cache_reset_for_tests()
{
    std::memset(g_browse, 0, sizeof g_browse);
    g_browse_count = 0;
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
    std::memset(g_addr_history, 0, sizeof g_addr_history);
    g_claim_label[0] = '\0';
    g_claims_in_progress = 0;
    std::memset(g_rename_times_ms, 0, sizeof g_rename_times_ms);
    g_rename_times_count = 0;
    g_rename_limited = 0;
    std::memset(g_services, 0, sizeof g_services);
    g_service_count = 0;
    g_queries_received = 0;
    g_answers_sent = 0;
    g_conflict_count = 0;
    browse_cache_reset_for_tests();
    g_browsing = 0;
    g_browse_sock = plat_invalid_socket;
    g_browse_thread = 0;
    g_browse_thread_live = 0;
    g_browse_seed_deadline_ms = 0;
    followup_forget_locked();
    g_on_link_count = 0;
    g_on_link_read_once = false;
    g_on_link_read_ms = 0;
    g_on_link_reads = 0;
    // Both halves of the double-buffered text become empty.
    set_last_error("");
    set_last_error("");
}
