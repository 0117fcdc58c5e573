// The host's usable IPv4 adapters: listing, choosing the best one, and the
// address auto-detection.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

constexpr int max_adapters = 32;
// Raw system records looked at per enumeration; adapters beyond these are
// not seen.
constexpr int max_raw_adapters = 128;

// One usable adapter: up, not loopback, with an IPv4 address that is neither
// 127.x.x.x nor 169.254.x.x.
struct adapter_entry {
    char ip[64];       // first usable IPv4 address, dotted decimal
    char name[128];    // friendly name, at most 127 bytes
    char gateway[64];  // first IPv4 gateway, or empty
    std::int32_t up;        // always 1
    std::int32_t loopback;  // always 0
};

// Keeps the usable adapters of a raw system list, in order, at most
// max_adapters of them. Returns the count.
int filter_adapters(const plat_adapter_raw* raw, int raw_count, adapter_entry* list);

// Lists the usable adapters into list (max_adapters entries); 0 on failure.
int enumerate_adapters(adapter_entry* list);

// The choice among count listed adapters: the first one with a gateway,
// else the first one. Copies it into out and returns 1; returns 0 (out
// untouched) when count is 0.
int pick_best_from(const adapter_entry* list, int count, adapter_entry* out);

// Enumerates and copies the best adapter into out as above; returns 0 (out
// untouched) when none is usable.
int pick_best_adapter(adapter_entry* out);

// The address auto-detection: writes the best adapter's address into out
// (cap bytes) and returns true, or writes "127.0.0.1" and returns false when
// no adapter is usable. Called with the library lock held, so that the
// choice and the store of the new announced address are one step.
bool auto_detect_ipv4_locked(char* out, std::size_t cap);
