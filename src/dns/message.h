// DNS messages as the library builds and reads them: names, header, records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

constexpr std::size_t dns_message_size = 4096;  // every message the library sends
// Receive buffers: the largest mDNS datagram a peer may send (RFC 6762,
// section 17). A longer one is dropped whole.
constexpr std::size_t dns_receive_size = 9000;
constexpr std::size_t dns_header_size = 12;
constexpr std::size_t dns_name_text_size = 512; // 511 characters and the terminator
constexpr int dns_max_pointers = 10;

// The mDNS group and the DNS-SD service-type enumeration name.
constexpr const char* mdns_group = "224.0.0.251";
constexpr std::uint32_t mdns_group_host_order = 0xE00000FBu;  // 224.0.0.251
constexpr const char* enumeration_name = "_services._dns-sd._udp.local";

constexpr std::uint16_t dns_type_a = 1;
constexpr std::uint16_t dns_type_ptr = 12;
constexpr std::uint16_t dns_type_txt = 16;
constexpr std::uint16_t dns_type_srv = 33;
constexpr std::uint16_t dns_type_any = 255;

constexpr std::uint16_t dns_flags_response = 0x8400;  // QR and AA
constexpr std::uint16_t dns_class_in = 0x0001;
constexpr std::uint16_t dns_class_in_flush = 0x8001;  // IN with the cache-flush bit
constexpr std::uint32_t dns_ttl_host = 120;           // A and SRV
constexpr std::uint32_t dns_ttl_other = 4500;         // PTR and TXT

// A name as the record writers take it: its dotted text and, when it was
// prepared beforehand, its wire form as dns_write_name writes that text,
// which is then copied in one block instead of being encoded again. A text
// converts implicitly, so writers are also called with plain texts.
struct dns_name_arg {
    const char* text;
    std::size_t text_length;   // strlen(text), or 0 for a null text
    const std::uint8_t* wire;  // null: the text is encoded
    std::size_t wire_length;

    dns_name_arg(const char* name_text)
        : text(name_text), text_length(name_text != nullptr ? std::strlen(name_text) : 0),
          wire(nullptr), wire_length(0)
    {
    }
    dns_name_arg(const char* name_text, std::size_t name_length, const std::uint8_t* name_wire,
                 std::size_t length)
        : text(name_text), text_length(name_length), wire(name_wire), wire_length(length)
    {
    }
};

// Appends a dotted name in uncompressed label form. 1 when the whole name,
// final zero octet included, fitted; 0 at the first piece that did not (the
// pieces before it stay, the cursor just after them).
int dns_write_name(std::uint8_t* buffer, std::size_t capacity, std::size_t& cursor, const char* name);

// Reads the name at cursor, following compression pointers, into text (512
// bytes, at most the first 511 characters). 1 on success with the cursor past
// the name (or past the first pointer); 0 on a malformed name, cursor unchanged.
int dns_read_name(const std::uint8_t* message, std::size_t length, std::size_t& cursor,
                  char* text);

// Steps over the name at cursor as dns_read_name does, with the same result
// and the same cursor after it, without forming its text.
int dns_skip_name(const std::uint8_t* message, std::size_t length, std::size_t& cursor);

// Writes the 12-byte header at the start of buffer.
void dns_write_header(std::uint8_t* buffer, std::uint16_t id, std::uint16_t flags,
                      std::uint16_t qdcount, std::uint16_t ancount, std::uint16_t arcount);

// Appends one question to a buffer of capacity bytes. 1 when it fitted
// whole; 0 with the cursor back where it was.
int dns_add_question(std::uint8_t* buffer, std::size_t capacity, std::size_t& cursor,
                     const dns_name_arg& name, std::uint16_t qtype, std::uint16_t qclass);

// Record writers over a dns_message_size buffer. 1 when the whole record was
// appended; 0 when it did not fit, with the cursor back where it was. With
// goodbye set the record goes out with TTL 0, which withdraws it.
int dns_add_a_record(std::uint8_t* buffer, std::size_t& cursor, const dns_name_arg& name,
                     bool goodbye = false);
int dns_add_ptr_record(std::uint8_t* buffer, std::size_t& cursor, const dns_name_arg& name,
                       const dns_name_arg& target, bool goodbye = false);
int dns_add_srv_record(std::uint8_t* buffer, std::size_t& cursor, const dns_name_arg& name,
                       std::int32_t port, const dns_name_arg& target, bool goodbye = false);
int dns_add_txt_record(std::uint8_t* buffer, std::size_t& cursor, const dns_name_arg& name,
                       const std::uint8_t* data, std::size_t data_length, bool goodbye = false);
