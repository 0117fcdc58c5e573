// Claims of other hosts on our host name: an address record for the host
// name with another address. Our own records heard back are no claim, nor
// is a goodbye; a claim that arrives while our announcement of the current
// label is in progress is settled by comparing addresses; any other claim
// renames the host, as long as renames are not coming too fast.
#include <cstdint>
#include <cstring>

#include "core/announced_addr.h"
#include "core/text.h"
#include "platform/platform.h"
#include "responder/responder.h"

namespace {

constexpr std::size_t address_text_size = 64;

// Copies of our own packets sent before the announced address changed may
// still come back for this long afterwards.
constexpr std::uint64_t own_echo_window_ms = 2000;

// An address record for our host name is ours when its address is the
// announced address, or one that this host announced within the echo window
// before it changed. The first test, made for every copy of our own
// replies, compares the 4 bytes with the announced address already
// converted.
bool is_own_address_locked(std::uint32_t addr_be)
{
    if (is_announced_addr_text_locked(addr_be)) return true;
    char ip[address_text_size];
    ip[0] = '\0';
    const std::uint64_t now = plat_monotonic_ms();
    for (const announced_addr_record& old : g_addr_history) {
        if (old.text[0] == '\0' || now - old.replaced_ms >= own_echo_window_ms) continue;
        if (ip[0] == '\0') text_ipv4(ip, sizeof ip, addr_be);
        if (std::strcmp(ip, old.text) == 0) return true;
    }
    return false;
}

// Takes the next fallback label and notes when. The count stops at its
// largest value rather than overflowing.
void rename_host_locked(std::uint64_t now)
{
    if (g_conflict_count < INT32_MAX) g_conflict_count++;
    text_format(g_hostname, sizeof g_hostname, "tandrelo-%lld",
                static_cast<long long>(g_conflict_count) + 1);
    for (int i = rename_burst - 1; i > 0; i--) g_rename_times_ms[i] = g_rename_times_ms[i - 1];
    g_rename_times_ms[0] = now;
    if (g_rename_times_count < rename_burst) g_rename_times_count++;
}

// After rename_burst renames within the burst window, each further rename
// waits until rename_pause_ms have passed since the one before, and a claim
// that comes sooner is passed over; the limit holds until a whole window has
// passed without a rename. So a steady flood of forged claims renames the
// host once every 5 s at most.
bool rename_allowed_locked(std::uint64_t now)
{
    if (g_rename_times_count > 0 && now - g_rename_times_ms[0] >= rename_burst_window_ms)
        g_rename_limited = 0;
    if (g_rename_times_count >= rename_burst &&
        now - g_rename_times_ms[rename_burst - 1] < rename_burst_window_ms)
        g_rename_limited = 1;
    return !g_rename_limited || now - g_rename_times_ms[0] >= rename_pause_ms;
}

// While an announcement of the current label is between its first and its
// last send, a rival claim is settled as simultaneous probes are: the
// addresses are compared as unsigned bytes, and the later one keeps the
// name. True when this host keeps it.
bool wins_tie_break_locked(std::uint32_t their_addr_be)
{
    if (g_claims_in_progress <= 0 || std::strcmp(g_claim_label, g_hostname) != 0) return false;
    const std::uint32_t ours_be = announced_addr_be_locked();
    return std::memcmp(&ours_be, &their_addr_be, sizeof ours_be) > 0;
}

}  // namespace

bool settle_claim_locked(std::uint32_t addr_be, std::uint32_t ttl, char* old_label,
                         std::size_t old_label_size)
{
    // A goodbye (TTL 0) withdraws a record and claims nothing.
    if (ttl == 0 || is_own_address_locked(addr_be) || wins_tie_break_locked(addr_be)) return false;
    const std::uint64_t now = plat_monotonic_ms();
    if (!rename_allowed_locked(now)) return false;
    text_copy(old_label, old_label_size, g_hostname);
    rename_host_locked(now);
    return true;
}
