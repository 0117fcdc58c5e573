// Reading the messages of other hosts: the header, questions, the fixed part
// of a resource record and the RDATA of the four record types the library
// understands. Every read is bounded by the message (or by the record's
// RDATA) and fails cleanly, leaving the cursor where it was; nothing here
// decides what a record means to the responder or the browser.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dns/message.h"

struct dns_header {
    std::uint16_t id;
    std::uint16_t flags;
    std::uint16_t qdcount;
    std::uint16_t ancount;
    std::uint16_t nscount;
    std::uint16_t arcount;
};

constexpr std::uint16_t dns_flag_response = 0x8000;   // QR
constexpr std::uint16_t dns_qclass_unicast = 0x8000;  // the unicast-response bit of QCLASS
constexpr std::uint16_t dns_rrclass_flush = 0x8000;   // the cache-flush bit of CLASS
constexpr std::uint16_t dns_a_rdlength = 4;

// The 12-byte header. 0 when the message is shorter.
int dns_read_header(const std::uint8_t* message, std::size_t length, dns_header& header);

// One question at cursor: its name (into name, 512 bytes, or only stepped
// over when name is null), QTYPE and QCLASS. 1 with the cursor past the
// question; 0 when any part is missing or malformed.
int dns_read_question(const std::uint8_t* message, std::size_t length, std::size_t& cursor,
                      char* name, std::uint16_t& qtype, std::uint16_t& qclass);

// Steps over the question section of a response and returns the offset at
// which its answers begin (length when the questions run to its end). A
// name that does not decode stops the walk there.
std::size_t dns_skip_questions(const std::uint8_t* message, std::size_t length,
                               std::uint16_t qdcount);

// The fixed part of a resource record and where its RDATA lies.
struct dns_rr {
    std::uint16_t type;
    std::uint16_t rrclass;  // with the cache-flush bit as it came
    std::uint32_t ttl;
    std::uint16_t rdlength;
    std::size_t rdata;      // offset of RDATA
    std::size_t end;        // offset just past RDATA
};

// TYPE, CLASS, TTL and RDLENGTH at cursor (just past the owner name). 1 with
// the cursor past the 10 bytes; 0 when they or the RDATA they announce do
// not lie wholly inside the message.
int dns_read_rr_fixed(const std::uint8_t* message, std::size_t length, std::size_t& cursor,
                      dns_rr& rr);

// An A record with the 4 bytes of an IPv4 address.
inline bool dns_rr_is_address(const dns_rr& rr)
{
    return rr.type == dns_type_a && rr.rdlength == dns_a_rdlength;
}

// The address of an A record, as its 4 bytes stand (network order). 0 when
// the record is not an address record.
int dns_read_a(const std::uint8_t* message, const dns_rr& rr, std::uint32_t& addr_be);

// The target name of a PTR record into target (512 bytes). Compression
// pointers may lead anywhere in the message, which bounds them.
int dns_read_ptr(const std::uint8_t* message, std::size_t length, const dns_rr& rr, char* target);

constexpr std::size_t dns_srv_target_at = 6;  // RDATA offset of an SRV record's target

// The port and target of an SRV record (priority and weight are passed over).
int dns_read_srv(const std::uint8_t* message, std::size_t length, const dns_rr& rr,
                 std::uint16_t& port, char* target);

// The character-strings of a TXT record joined with ";" into text of
// capacity cap (at least 1), cut to cap - 1 bytes.
void dns_read_txt_joined(const std::uint8_t* message, const dns_rr& rr, char* text,
                         std::size_t cap);
