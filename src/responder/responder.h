// The packet handler and the unsolicited announcements.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/state.h"
#include "dns/message.h"

constexpr const char* mdns_group = "224.0.0.251";
constexpr std::uint32_t mdns_group_host_order = 0xE00000FBu;  // 224.0.0.251
constexpr const char* enumeration_name = "_services._dns-sd._udp.local";
constexpr unsigned announce_repeats = 3;
constexpr unsigned announce_gap_ms = 100;

// Handles one received datagram: answers a query, reads a response's
// answers. Takes the lock itself; the caller must not hold it.
void process_incoming(const std::uint8_t* datagram, std::size_t length, const plat_addr4& sender);

// The query side, entered with the lock held (and left holding it). Builds
// the reply, counts it and sends it.
void answer_query_locked(const std::uint8_t* datagram, std::size_t length,
                         const plat_addr4& sender, std::uint16_t qdcount);

// The response side, entered with the lock held; always leaves it released.
// Hands other hosts' answers to the browse cache while browsing, and renames
// the host when an address record claims its name for another address; the
// new name is announced after the lock has been released.
void read_response_and_leave_lock(const std::uint8_t* datagram, std::size_t length,
                                  const plat_addr4& sender, std::uint16_t qdcount,
                                  std::uint16_t ancount);

// Builds the announcement of every record the responder owns into message
// (dns_message_size bytes) and returns its length. The caller holds the lock.
std::size_t build_announcement_locked(std::uint8_t* message);

// Multicasts the announcement three times, 100 ms apart. Does nothing while
// the responder has no socket. The caller must not hold the lock.
void send_announcements();

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
