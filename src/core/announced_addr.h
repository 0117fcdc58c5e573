// The announced address g_addr in the forms the protocol paths use on every
// datagram. g_addr changes only on configuration calls, so these forms are
// kept beside a copy of the text they were made from and made again only
// when g_addr no longer equals that copy, whoever changed it.
#pragma once

#include <cstdint>

// g_addr as inet_addr converts it, in network order. The caller holds the lock.
std::uint32_t announced_addr_be_locked();

// True when the dotted-decimal text of addr_be (network order), as
// text_ipv4 writes it, equals g_addr. The caller holds the lock.
bool is_announced_addr_text_locked(std::uint32_t addr_be);
