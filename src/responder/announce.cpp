// Unsolicited messages: the announcements of every record the responder
// owns, and the goodbyes (the same records with TTL 0) for records that go
// away.
#include <cstring>

#include "core/text.h"
#include "platform/platform.h"
#include "responder/messages.h"
#include "responder/responder.h"

namespace {

enum batch_content {
    host_and_services,  // the announcement, or the goodbye of everything
    services_only,      // the goodbye of the service table
    old_host_only,      // the goodbye of a host name given up
};

// Offers the records of an announcement in its order: the host's A record,
// then for each service the PTR from the enumeration name, the PTR from the
// type name, SRV and TXT. Every record stands in the answer section.
void offer_records_locked(message_builder& b, batch_content content)
{
    if (content == old_host_only) {
        offer(b, named_a_record, answer_section);
        return;
    }
    if (content != services_only) offer(b, host_a_record, answer_section);
    for (int i = 0; i < g_service_count; i++) {
        offer(b, enumeration_ptr, answer_section, i);
        offer(b, type_ptr, answer_section, i);
        offer(b, instance_srv, answer_section, i);
        offer(b, instance_txt, answer_section, i);
    }
}

plat_addr4 group_locked()
{
    plat_addr4 group;
    group.addr_be = plat_htonl(mdns_group_host_order);
    group.port_be = plat_htons(static_cast<std::uint16_t>(g_port.load()));
    return group;
}

// Builds the batch's messages and multicasts each through s. An empty
// batch sends nothing. old_host names the A record of old_host_only. The
// caller holds the lock.
void send_batch_locked(plat_socket s, batch_content content, bool goodbye,
                       const char* old_host = nullptr)
{
    const plat_addr4 group = group_locked();
    message_builder b;
    builder_begin(b, goodbye, max_messages_per_announcement);
    b.other_host = old_host;
    builder_next_message(b);
    offer_records_locked(b, content);
    if (b.answers == 0) return;
    for (;;) {
        builder_finish(b, 0);
        plat_sendto(s, b.message, b.cursor, group);  // a failed send is not reported
        if (!builder_wants_more(b) || !builder_next_message(b)) return;
        builder_fill_from_offers(b);
    }
}

// The goodbye of the A record of a label this host no longer uses, unless
// it has become the current label again.
void send_old_host_goodbye_locked(plat_socket s, const char* old_label)
{
    if (old_label == nullptr || old_label[0] == '\0' || plat_stricmp(old_label, g_hostname) == 0)
        return;
    char old_name[dns_name_text_size];
    text_format(old_name, sizeof old_name, "%s.local", old_label);
    send_batch_locked(s, old_host_only, true, old_name);
}

// The socket of the given epoch, or the invalid socket once a stop has
// released it. The caller holds the lock.
plat_socket socket_of_epoch_locked(std::uint32_t epoch)
{
    if (g_sock_epoch.load() != epoch) return plat_invalid_socket;
    return g_sock.load();
}

// The announcement for one label is open from its first send until its
// last one; a claim on the name that arrives in between is settled by the
// tie-break.
void open_claim_locked(const char* label)
{
    if (g_claims_in_progress > 0 && std::strcmp(g_claim_label, label) == 0) {
        g_claims_in_progress++;
        return;
    }
    text_copy(g_claim_label, sizeof g_claim_label, label);
    g_claims_in_progress = 1;
}

void close_claim_locked(const char* label)
{
    if (g_claims_in_progress > 0 && std::strcmp(g_claim_label, label) == 0) g_claims_in_progress--;
}

// Multicasts the announcement three times, 100 ms apart, and after its
// first round the goodbye of old_label, when given. The label and the
// address it announces are those at its start: once either has changed the
// remaining rounds are not sent, since the change announces for itself.
void announce(const char* old_label)
{
    lock_enter();
    plat_socket s = g_sock.load();
    if (s == plat_invalid_socket) {
        lock_leave();
        return;
    }
    const std::uint32_t epoch = g_sock_epoch.load();
    char label[text_field];
    char addr[text_field];
    text_copy(label, sizeof label, g_hostname);
    text_copy(addr, sizeof addr, g_addr);
    bool opened = false;
    for (unsigned round = 0; round < announce_repeats; round++) {
        if (round > 0) {
            // The lock is never held across the pauses.
            lock_leave();
            plat_sleep_ms(announce_gap_ms);
            lock_enter();
        }
        s = socket_of_epoch_locked(epoch);
        if (s == plat_invalid_socket) break;  // stopped: the rest is dropped
        if (std::strcmp(label, g_hostname) != 0 || std::strcmp(addr, g_addr) != 0) break;
        if (!opened) {
            open_claim_locked(label);
            opened = true;
        }
        send_batch_locked(s, host_and_services, false);
        if (round == 0) send_old_host_goodbye_locked(s, old_label);
    }
    if (!opened) {
        // Not even the first round went out: the old name is withdrawn all
        // the same.
        s = socket_of_epoch_locked(epoch);
        if (s != plat_invalid_socket) send_old_host_goodbye_locked(s, old_label);
    } else {
        close_claim_locked(label);
    }
    lock_leave();
}

}  // namespace

std::size_t build_announcement_locked(std::uint8_t* message)
{
    message_builder b;
    builder_begin(b, false, 1);
    builder_next_message(b);
    offer_records_locked(b, host_and_services);
    builder_finish(b, 0);
    std::memcpy(message, b.message, b.cursor);
    return b.cursor;
}

void send_announcements() { announce(nullptr); }

void send_announcements_after_rename(const char* old_label) { announce(old_label); }

void send_goodbye_all_locked()
{
    plat_socket s = g_sock.load();
    if (s != plat_invalid_socket) send_batch_locked(s, host_and_services, true);
}

void send_goodbye_services_locked()
{
    plat_socket s = g_sock.load();
    if (s != plat_invalid_socket) send_batch_locked(s, services_only, true);
}
