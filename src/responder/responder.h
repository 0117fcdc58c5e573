// The packet handler and the unsolicited announcements.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/state.h"
#include "dns/message.h"
#include "browse/followup.h"
#include "dns/reader.h"

constexpr unsigned announce_repeats = 3;
constexpr unsigned announce_gap_ms = 100;

// Handles one received datagram: answers a query, reads a response's
// answers. Takes the lock itself; the caller must not hold it.
void process_incoming(const std::uint8_t* datagram, std::size_t length, const plat_addr4& sender);

// The query side, entered with the lock held (and left holding it). Builds
// the reply, counts it and sends it.
void answer_query_locked(const std::uint8_t* datagram, std::size_t length,
                         const plat_addr4& sender, const dns_header& header);

// What a response asks to be done once the lock has been released.
struct response_outcome {
    bool announce;               // the host was renamed: announce the new name
    char old_label[text_field];  // and withdraw the one it gave up
    followup_plan followups;     // the browser's questions about what it heard
};
void response_outcome_begin(response_outcome& outcome);

// The response side, entered with the lock held (and left holding it).
// While browsing, hands other hosts' records to the browse cache, removes
// the answers they say goodbye to and plans the follow-up questions; renames
// the host when an address record claims its name for another address.
void read_answers_locked(const std::uint8_t* datagram, std::size_t length, const plat_addr4& sender,
                         const dns_header& header, response_outcome& outcome);

// A claim on our host name by an address record with the given address and
// TTL: true when the host has been renamed for it, with the label it gave
// up in old_label.
bool settle_claim_locked(std::uint32_t addr_be, std::uint32_t ttl, char* old_label,
                         std::size_t old_label_size);

// Builds the first message of the announcement of every record the
// responder owns into message (dns_message_size bytes) and returns its
// length. The caller holds the lock.
std::size_t build_announcement_locked(std::uint8_t* message);

// Multicasts the announcement, in as many messages as its records need,
// three times, 100 ms apart. The rounds stop once the responder has stopped
// or the host label or the address has changed since the first. Does
// nothing while the responder has no socket. The caller must not hold the
// lock.
void send_announcements();
// The same after the host gave up old_label (a rename or a new label):
// after the first round comes the goodbye of the old name's A record.
void send_announcements_after_rename(const char* old_label);

// Goodbyes, the records with TTL 0, through the responder's socket when it
// has one: of every record it owns (before it stops), or of the services'
// records (before the table is cleared). The caller holds the lock.
void send_goodbye_all_locked();
void send_goodbye_services_locked();

// The names the responder answers for, as text and wire form: the
// enumeration name, the host name "%s.local" from g_hostname, and the type
// name "%.63s.local" and instance name "%.63s.%.63s.local" of the service
// in slot index. The caller holds the lock; a name stays valid until the
// lock is released.
struct service_names {
    dns_name_arg type_name;
    dns_name_arg instance_name;
};
dns_name_arg enumeration_name_locked();
dns_name_arg host_name_locked();
service_names service_names_of_locked(int index);

// The text equals the formed name, ASCII case ignored. Folding case keeps
// the length, so names of other lengths are told apart without comparing
// their characters.
inline bool same_name(const char* text, std::size_t text_length, const dns_name_arg& name)
{
    return text_length == name.text_length && plat_stricmp(text, name.text) == 0;
}

// The index of the services' type and instance names by length and a hash
// of their text (ASCII case folded). Brought up to date with the service
// table; called once per datagram before services_named_locked.
void refresh_name_index_locked();
// The services, in table order, whose type name or instance name may equal
// the name (same length and hash): every service whose names do equal it is
// among them. Writes their indices into out (max_services entries) and
// returns the count.
int services_named_locked(const char* name, std::size_t name_length, std::uint8_t* out);

// At most this many questions of one query are read.
constexpr int max_questions_per_query = 256;
