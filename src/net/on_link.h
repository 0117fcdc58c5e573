// Whether the sender of a query is on one of this host's links.
//
// The responder answers only senders that are: in 127.0.0.0/8 or 0.0.0.0/8
// (this host) or in the link-local 169.254.0.0/16, which no router forwards,
// or inside the subnet of an IPv4 address of an adapter that is up, loopback
// adapters included. Anyone further away could otherwise send small queries
// under a forged source address and have the much larger replies sent to
// it.
//
// The subnets are kept in a table that is read when the responder or the
// browser opens its socket. A receive thread that meets a query from outside
// every known subnet reads them again before it hands the query on, at most
// once a second, so that an address added since the start is learnt at once
// while a flood of far-away queries costs one adapter list a second. The
// list is made without the library lock; the table is read and written
// under it.
#pragma once

#include <cstdint>

#include "platform/platform.h"

constexpr int max_on_link_subnets = 256;
constexpr std::uint64_t on_link_reread_ms = 1000;

struct on_link_subnet {
    std::uint32_t network_be;  // the address with its host bits cleared
    std::uint32_t mask_be;
};

// The subnets of every IPv4 address of every adapter that is up in a raw
// list, each subnet once, at most capacity of them; returns the count. A
// prefix length above 32 counts as 32.
int collect_on_link_subnets(const plat_adapter_raw* raw, int raw_count, on_link_subnet* out,
                            int capacity);

// Reads the subnets afresh from the system. The caller holds the lock.
void on_link_read_locked(std::uint64_t now_ms);

// The decision, from the table alone: a source that no router forwards or
// one in a known subnet. The caller holds the lock.
bool sender_on_link_locked(std::uint32_t addr_be);

// For a receive thread, before it hands a query from addr_be on; the caller
// must not hold the lock. Reads the subnets again when the sender is outside
// every known one and the last read is at least on_link_reread_ms old.
// Returns true when it read them.
bool on_link_reread_for(std::uint32_t addr_be, std::uint64_t now_ms);

// The table, under the lock: the known subnets, whether they were read at
// all, when the latest read began (a reread claims it before it lists the
// adapters, so that two receive threads never list them in the same
// second), and how many reads were made.
extern on_link_subnet g_on_link_subnets[max_on_link_subnets];
extern int g_on_link_count;
extern bool g_on_link_read_once;
extern std::uint64_t g_on_link_read_ms;
extern std::uint64_t g_on_link_reads;
