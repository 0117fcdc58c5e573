// The entry point for every received datagram, and the answers to queries.
#include <cstring>

#include "dns/reader.h"
#include "net/on_link.h"
#include "platform/platform.h"
#include "responder/messages.h"
#include "responder/responder.h"

namespace {

bool is_type(std::uint16_t qtype, std::uint16_t wanted)
{
    return qtype == wanted || qtype == dns_type_any;
}

// Offers the records one question asks for. The first rule whose name
// matches decides: the host name, then the enumeration name, then each
// service's type name or instance name, in table order. The services whose
// names can match are found in the name index, so the cost of a question
// does not grow with the number of services.
void answer_question_locked(message_builder& b, const char* qname, std::uint16_t qtype,
                            const dns_name_arg& host)
{
    const std::size_t qname_length = std::strlen(qname);
    if (same_name(qname, qname_length, host)) {
        if (is_type(qtype, dns_type_a)) offer(b, host_a_record, answer_section);
        return;
    }
    if (same_name(qname, qname_length, enumeration_name_locked())) {
        if (!is_type(qtype, dns_type_ptr)) return;
        for (int i = 0; i < g_service_count; i++) offer(b, enumeration_ptr, answer_section, i);
        return;
    }
    std::uint8_t candidates[max_services];
    const int count = services_named_locked(qname, qname_length, candidates);
    for (int c = 0; c < count; c++) {
        const int i = candidates[c];
        const service_names names = service_names_of_locked(i);
        if (same_name(qname, qname_length, names.type_name)) {
            if (!is_type(qtype, dns_type_ptr)) continue;
            offer(b, type_ptr, answer_section, i);
            offer(b, instance_srv, additional_section, i);
            offer(b, instance_txt, additional_section, i);
            offer(b, host_a_record, additional_section);
        } else if (same_name(qname, qname_length, names.instance_name)) {
            if (is_type(qtype, dns_type_srv)) offer(b, instance_srv, answer_section, i);
            if (is_type(qtype, dns_type_txt)) offer(b, instance_txt, answer_section, i);
            offer(b, host_a_record, additional_section);
        }
    }
}

// Walks the questions and offers what each asks for. Says whether a
// question asked for a unicast reply. At most max_questions_per_query are
// read, and the walk stops once the reply can take no more records: the
// work of one datagram stays bounded, whatever it holds.
//
// Invariant: offset <= length; every pass that goes on moves it forwards by
// at least the 4 bytes of QTYPE and QCLASS, so the walk ends after at most
// length / 4 passes.
bool offer_answers_locked(message_builder& b, const std::uint8_t* datagram, std::size_t length,
                          const dns_header& header, const dns_name_arg& host)
{
    bool unicast_requested = false;
    std::size_t offset = dns_header_size;
    std::uint16_t index = 0;
    for (;;) {
        char qname[dns_name_text_size];
        std::uint16_t qtype, qclass;
        if (!dns_read_question(datagram, length, offset, qname, qtype, qclass)) break;
        if (qclass & dns_qclass_unicast) unicast_requested = true;
        answer_question_locked(b, qname, qtype, host);
        index++;
        if (index == header.qdcount || offset >= length) break;
        if (index == max_questions_per_query || builder_full(b)) break;
    }
    return unicast_requested;
}

}  // namespace

void answer_query_locked(const std::uint8_t* datagram, std::size_t length,
                         const plat_addr4& sender, const dns_header& header)
{
    const dns_name_arg host = host_name_locked();
    g_queries_received++;
    if (!sender_on_link_locked(sender.addr_be)) return;  // see net/on_link.h
    if (length == dns_header_size) return;

    refresh_name_index_locked();
    message_builder b;
    builder_begin(b, false, max_messages_per_reply);
    plat_addr4 group;
    group.addr_be = plat_htonl(mdns_group_host_order);
    group.port_be = plat_htons(static_cast<std::uint16_t>(g_port.load()));

    // The first message decides whether there is a reply at all: it needs an
    // answer. Records that did not fit it follow in further messages, sent
    // the same way; the reply is counted once.
    builder_next_message(b);
    const bool unicast_requested = offer_answers_locked(b, datagram, length, header, host);
    if (b.answers == 0) return;
    g_answers_sent++;
    for (;;) {
        builder_finish(b, header.id);
        plat_socket s = g_sock.load();
        if (s == plat_invalid_socket) return;  // came in through the browser's own socket
        if (sender.port_be != 0) plat_sendto(s, b.message, b.cursor, sender);
        if (!unicast_requested) plat_sendto(s, b.message, b.cursor, group);
        if (!builder_wants_more(b) || !builder_next_message(b)) break;
        builder_fill_from_offers(b);
    }
}

void process_incoming(const std::uint8_t* datagram, std::size_t length, const plat_addr4& sender)
{
    dns_header header;
    if (!dns_read_header(datagram, length, header)) return;
    const bool is_response = (header.flags & dns_flag_response) != 0;

    // A query from outside the known subnets has them read again first (at
    // most once a second, without the lock): an address may have been added.
    if (!is_response && header.qdcount != 0) on_link_reread_for(sender.addr_be, plat_monotonic_ms());

    response_outcome outcome;
    response_outcome_begin(outcome);
    lock_enter();
    // While browsing, a response with additional records alone is read too:
    // a reply too large for one message goes on in such further messages.
    if (is_response && (header.ancount != 0 || (header.arcount != 0 && g_browsing.load() != 0))) {
        read_answers_locked(datagram, length, sender, header, outcome);
    } else if (!is_response && header.qdcount != 0) {
        answer_query_locked(datagram, length, sender, header);
    }
    lock_leave();
    // What the response asks for is done without the lock: an announcement
    // pauses between its sends. It does nothing while the responder has no
    // socket.
    followup_send(outcome.followups);
    if (outcome.announce) send_announcements_after_rename(outcome.old_label);
}
