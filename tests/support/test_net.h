// Test-side networking and DNS crafting: client sockets that send crafted
// datagrams to the library and catch what it sends, and a small independent
// encoder/decoder for the messages. Built on the platform layer, so the same
// tests run on Linux and under Wine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/wire_bytes.h"

// A UDP socket bound to 0.0.0.0:port, optionally a member of 224.0.0.251.
struct test_socket {
    plat_socket s = plat_invalid_socket;
    test_socket() = default;
    test_socket(const test_socket&) = delete;
    test_socket& operator=(const test_socket&) = delete;
    ~test_socket();
    bool open(std::uint16_t port, bool join_group, unsigned timeout_ms = 1500);
    void send(const bytes& data, std::uint16_t port, const char* to = "127.0.0.1") const;
    // The next datagram, or an empty vector after the time-out.
    bytes receive(plat_addr4* from = nullptr) const;
    // Every datagram that arrives within the time-out of each receive.
    std::vector<bytes> drain() const;
};

struct question {
    std::string name;
    std::uint16_t qtype;
    std::uint16_t qclass;  // 0x8001 asks for a unicast reply
};

// Encodes a dotted name as uncompressed labels.
bytes encode_name(const std::string& name);
bytes make_query(std::uint16_t id, const std::vector<question>& questions);

// A decoded record. Names are decoded without compression, which the library
// never emits.
struct record {
    std::string name;
    std::uint16_t type = 0;
    std::uint16_t rrclass = 0;
    std::uint32_t ttl = 0;
    bytes rdata;
};

struct message {
    std::uint16_t id = 0, flags = 0, qdcount = 0, ancount = 0, nscount = 0, arcount = 0;
    std::vector<record> records;  // in wire order, every section
    bool ok = false;
};

message parse_message(const bytes& data);
// Decodes a name at offset in data (no pointers); empty text on a bad name.
std::string decode_name(const bytes& data, std::size_t offset);

std::uint16_t be16(const bytes& b, std::size_t at);
std::string ipv4_text(const bytes& four);
