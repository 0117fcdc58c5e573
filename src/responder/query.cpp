// The entry point for every received datagram, and the answers to queries.
#include "dns/wire.h"
#include "platform/platform.h"
#include "responder/responder.h"

namespace {

struct reply_state {
    std::uint8_t message[dns_message_size];
    std::size_t cursor;
    std::uint16_t answers;     // ANCOUNT
    std::uint16_t additional;  // ARCOUNT
};

bool is_type(std::uint16_t qtype, std::uint16_t wanted)
{
    return qtype == wanted || qtype == dns_type_any;
}

// Appends the records one question asks for. The first rule whose name
// matches decides: the host name, then the enumeration name, then each
// service's type name or instance name.
void answer_question_locked(reply_state& r, const char* qname, std::uint16_t qtype,
                            const char* host)
{
    if (plat_stricmp(qname, host) == 0) {
        if (is_type(qtype, dns_type_a)) r.answers += dns_add_a_record(r.message, r.cursor, host);
        return;
    }
    char type_name[dns_name_text_size];
    char instance_name[dns_name_text_size];
    if (plat_stricmp(qname, enumeration_name) == 0) {
        if (!is_type(qtype, dns_type_ptr)) return;
        for (int i = 0; i < g_service_count; i++) {
            form_type_name(g_services[i], type_name);
            r.answers += dns_add_ptr_record(r.message, r.cursor, enumeration_name, type_name);
        }
        return;
    }
    for (int i = 0; i < g_service_count; i++) {
        const service_entry& s = g_services[i];
        form_type_name(s, type_name);
        form_instance_name(s, instance_name);
        if (plat_stricmp(qname, type_name) == 0) {
            if (!is_type(qtype, dns_type_ptr)) continue;
            r.answers += dns_add_ptr_record(r.message, r.cursor, type_name, instance_name);
            r.additional += dns_add_srv_record(r.message, r.cursor, instance_name, s.port, host);
            r.additional += dns_add_txt_record(r.message, r.cursor, instance_name, s.txt_wire,
                                               static_cast<std::size_t>(s.txt_wire_len));
            r.additional += dns_add_a_record(r.message, r.cursor, host);
        } else if (plat_stricmp(qname, instance_name) == 0) {
            if (is_type(qtype, dns_type_srv)) {
                r.answers += dns_add_srv_record(r.message, r.cursor, instance_name, s.port, host);
            }
            if (is_type(qtype, dns_type_txt)) {
                r.answers += dns_add_txt_record(r.message, r.cursor, instance_name, s.txt_wire,
                                                static_cast<std::size_t>(s.txt_wire_len));
            }
            r.additional += dns_add_a_record(r.message, r.cursor, host);
        }
    }
}

}  // namespace

void answer_query_locked(const std::uint8_t* datagram, std::size_t length,
                         const plat_addr4& sender, std::uint16_t qdcount)
{
    char host[dns_name_text_size];
    form_host_name(host);
    g_queries_received++;
    if (length == dns_header_size) return;

    reply_state r;
    r.cursor = dns_header_size;
    r.answers = 0;
    r.additional = 0;
    bool unicast_requested = false;

    // Walk the questions. Invariant: offset <= length; every pass that goes
    // on moves it forwards by at least the 4 bytes of QTYPE and QCLASS, so
    // the walk ends after at most length / 4 passes.
    std::size_t offset = dns_header_size;
    std::uint16_t index = 0;
    for (;;) {
        char qname[dns_name_text_size];
        if (!dns_read_name(datagram, length, offset, qname)) break;
        std::uint16_t qtype, qclass;
        if (!wire_get_be16(datagram, length, offset, qtype)) break;
        if (!wire_get_be16(datagram, length, offset, qclass)) break;
        if (qclass & 0x8000) unicast_requested = true;
        answer_question_locked(r, qname, qtype, host);
        index++;
        if (index == qdcount || offset >= length) break;
    }

    if (r.answers == 0) return;
    g_answers_sent++;
    dns_write_header(r.message, wire_be16_at(datagram, 0), dns_flags_response, 0, r.answers,
                     r.additional);

    plat_socket s = g_sock.load();
    if (s == plat_invalid_socket) return;  // came in through the browser's own socket
    if (sender.port_be != 0) plat_sendto(s, r.message, r.cursor, sender);
    if (!unicast_requested) {
        plat_addr4 group;
        group.addr_be = plat_ipv4_addr(mdns_group);
        group.port_be = plat_htons(static_cast<std::uint16_t>(g_port.load()));
        plat_sendto(s, r.message, r.cursor, group);
    }
}

void process_incoming(const std::uint8_t* datagram, std::size_t length, const plat_addr4& sender)
{
    if (length < dns_header_size) return;
    std::uint16_t flags = wire_be16_at(datagram, 2);
    std::uint16_t qdcount = wire_be16_at(datagram, 4);
    std::uint16_t ancount = wire_be16_at(datagram, 6);
    bool is_response = (flags & 0x8000) != 0;

    lock_enter();
    if (is_response && ancount != 0) {
        read_response_and_leave_lock(datagram, length, sender, qdcount, ancount);
        return;
    }
    if (!is_response && qdcount != 0) answer_query_locked(datagram, length, sender, qdcount);
    lock_leave();
}
