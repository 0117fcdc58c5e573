#include "browse/followup.h"

#include <cstring>

#include "browse/cache.h"
#include "browse/question.h"
#include "core/state.h"
#include "core/text.h"
#include "platform/platform.h"

namespace {

struct asked_name {
    std::uint64_t key;  // 0: unused
    std::uint64_t asked_ms;
};

// Under the lock.
asked_name g_asked[followup_table_size];
double g_tokens = followup_messages_per_second;
std::uint64_t g_tokens_ms = 0;

// The name, ASCII case folded, and the kind of question; 0 marks an unused
// entry of the table.
std::uint64_t key_of(const char* name, followup_kind kind)
{
    const std::uint64_t h = text_fold_hash(name, std::strlen(name), static_cast<std::uint64_t>(kind));
    return h == 0 ? 1 : h;
}

bool asked_lately_locked(std::uint64_t key, std::uint64_t now)
{
    for (const asked_name& a : g_asked) {
        if (a.key == key && now - a.asked_ms < followup_repeat_ms) return true;
    }
    return false;
}

void record_asked_locked(std::uint64_t key, std::uint64_t now)
{
    int slot = 0;
    for (int i = 0; i < followup_table_size; i++) {
        if (g_asked[i].key == key || g_asked[i].key == 0) {
            slot = i;
            break;
        }
        if (g_asked[i].asked_ms < g_asked[slot].asked_ms) slot = i;
    }
    g_asked[slot].key = key;
    g_asked[slot].asked_ms = now;
}

// One message's worth of the rate: the bucket refills at
// followup_messages_per_second and holds at most that many.
bool take_token_locked(std::uint64_t now)
{
    if (g_tokens_ms == 0) g_tokens_ms = now;
    g_tokens += static_cast<double>(now - g_tokens_ms) * followup_messages_per_second / 1000.0;
    g_tokens_ms = now;
    if (g_tokens > followup_messages_per_second) g_tokens = followup_messages_per_second;
    if (g_tokens < 1.0) return false;
    g_tokens -= 1.0;
    return true;
}

bool already_known_locked(const char* name, followup_kind kind)
{
    if (kind == followup_address) return browse_find_locked(name, dns_type_a) != nullptr;
    if (kind == followup_resolve) {
        return browse_find_locked(name, dns_type_srv) != nullptr &&
               browse_find_locked(name, dns_type_txt) != nullptr;
    }
    return false;
}

// Appends the questions of one name to the message being built; false (and
// nothing appended) when they do not fit.
bool add_questions(followup_plan& plan, std::size_t& cursor, std::uint16_t& count,
                   const char* name, followup_kind kind)
{
    std::uint8_t* m = plan.message[plan.messages - 1];
    std::size_t at = cursor;
    int added = 0;
    if (kind == followup_instances) {
        added = dns_add_question(m, dns_message_size, at, name, dns_type_ptr, dns_class_in);
    } else if (kind == followup_address) {
        added = dns_add_question(m, dns_message_size, at, name, dns_type_a, dns_class_in);
    } else {
        added = dns_add_question(m, dns_message_size, at, name, dns_type_srv, dns_class_in) &&
                dns_add_question(m, dns_message_size, at, name, dns_type_txt, dns_class_in);
        if (added) count++;
    }
    if (!added) return false;
    count++;
    cursor = at;
    return true;
}

void close_message(followup_plan& plan, std::size_t cursor, std::uint16_t count)
{
    dns_write_header(plan.message[plan.messages - 1], 0, 0, count, 0, 0);
    plan.length[plan.messages - 1] = cursor;
}

}  // namespace

void followup_begin(followup_plan& plan)
{
    plan.candidates = 0;
    plan.messages = 0;
}

void followup_note(followup_plan& plan, std::size_t name_at, followup_kind kind)
{
    if (plan.candidates == followup_max_candidates) return;
    plan.candidate[plan.candidates].name_at = name_at;
    plan.candidate[plan.candidates].kind = kind;
    plan.candidates++;
}

void followup_plan_locked(followup_plan& plan, const std::uint8_t* datagram, std::size_t length)
{
    const std::uint64_t now = plat_monotonic_ms();
    std::size_t cursor = 0;
    std::uint16_t count = 0;
    for (int i = 0; i < plan.candidates; i++) {
        char name[dns_name_text_size];
        std::size_t at = plan.candidate[i].name_at;
        const followup_kind kind = plan.candidate[i].kind;
        if (!dns_read_name(datagram, length, at, name) || name[0] == '\0') continue;
        const std::uint64_t key = key_of(name, kind);
        if (asked_lately_locked(key, now) || already_known_locked(name, kind)) continue;
        // The questions go into the open message, or into a new one that the
        // rate allows; a name that has no place is not recorded as asked.
        bool placed = plan.messages > 0 && add_questions(plan, cursor, count, name, kind);
        while (!placed) {
            if (plan.messages > 0 && count == 0) break;  // fits no message even alone
            if (plan.messages == followup_max_messages || !take_token_locked(now)) break;
            if (plan.messages > 0) close_message(plan, cursor, count);
            plan.messages++;
            cursor = dns_header_size;
            count = 0;
            placed = add_questions(plan, cursor, count, name, kind);
            if (!placed) break;
        }
        if (placed) record_asked_locked(key, now);
    }
    if (plan.messages > 0) {
        if (count == 0) {
            plan.messages--;  // opened for a name that fitted nowhere
        } else {
            close_message(plan, cursor, count);
        }
    }
}

void followup_send(const followup_plan& plan)
{
    for (int i = 0; i < plan.messages; i++) browse_send_question(plan.message[i], plan.length[i]);
}

void followup_forget_locked()
{
    for (asked_name& a : g_asked) a = asked_name{0, 0};
}
