// The system's network adapters, as IP Helper reports them.
//
// GetAdaptersAddresses fills a caller-provided buffer and, when it is too
// small, answers ERROR_BUFFER_OVERFLOW with the size it needs. Adapters can
// appear between two calls, so the retry is bounded: three calls in all.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/faults.h"
#include "platform/platform.h"
#include "platform/win32/adapters.h"

namespace {

constexpr ULONG first_buffer_size = 15360;
constexpr int max_calls = 3;
// Unicast and gateway addresses only: no anycast, multicast or DNS servers.
constexpr ULONG list_flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                             GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_INCLUDE_GATEWAYS;
static_assert(list_flags == 0x8E, "adapter list flags");

std::uint32_t ipv4_of(const SOCKET_ADDRESS& address)
{
    sockaddr_in sin;
    std::memcpy(&sin, address.lpSockaddr, sizeof sin);
    return sin.sin_addr.s_addr;
}

bool is_ipv4(const SOCKET_ADDRESS& address)
{
    return address.lpSockaddr != nullptr && address.lpSockaddr->sa_family == AF_INET &&
           address.iSockaddrLength >= static_cast<INT>(sizeof(sockaddr_in));
}

// The on-link prefix length of a unicast address. Records older than Vista
// end before the field; an address without one stands for itself alone.
std::uint8_t prefix_length_of(const IP_ADAPTER_UNICAST_ADDRESS_LH* u)
{
    constexpr ULONG needed = offsetof(IP_ADAPTER_UNICAST_ADDRESS_LH, OnLinkPrefixLength) + 1;
    if (u->Length < needed || u->OnLinkPrefixLength > 32) return 32;
    return u->OnLinkPrefixLength;
}

void fill_record(const IP_ADAPTER_ADDRESSES_LH* a, plat_adapter_raw& r)
{
    std::memset(&r, 0, sizeof r);
    r.oper_up = a->OperStatus == IfOperStatusUp;
    r.software_loopback = a->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
    win32_narrow_friendly_name(a->FriendlyName, r.name, sizeof r.name);
    const int max_addresses = static_cast<int>(sizeof r.ipv4_be / sizeof r.ipv4_be[0]);
    for (const IP_ADAPTER_UNICAST_ADDRESS_LH* u = a->FirstUnicastAddress;
         u != nullptr && r.ipv4_count < max_addresses; u = u->Next) {
        if (!is_ipv4(u->Address)) continue;
        r.ipv4_prefix[r.ipv4_count] = prefix_length_of(u);
        r.ipv4_be[r.ipv4_count++] = ipv4_of(u->Address);
    }
    for (const IP_ADAPTER_GATEWAY_ADDRESS_LH* g = a->FirstGatewayAddress; g != nullptr;
         g = g->Next) {
        if (is_ipv4(g->Address)) {
            r.has_gateway = 1;
            r.gateway_be = ipv4_of(g->Address);
            break;
        }
    }
}

}  // namespace

// No surrogate half or other wide character is ever cut into bytes: the name
// simply ends before it.
void win32_narrow_friendly_name(const wchar_t* wide, char* out, std::size_t cap)
{
    if (cap == 0) return;
    std::size_t n = 0;
    // Invariant: n < cap, leaving room for the terminator.
    if (wide != nullptr) {
        while (n + 1 < cap && wide[n] != L'\0' && static_cast<unsigned>(wide[n]) <= 0xFF) {
            out[n] = static_cast<char>(static_cast<unsigned char>(wide[n]));
            n++;
        }
    }
    out[n] = '\0';
}

int plat_list_adapters(plat_adapter_raw* out, int capacity)
{
    if (plat_fault_adapters_faked()) return plat_fault_list_adapters(out, capacity);
    if (capacity <= 0) return 0;
    ULONG size = first_buffer_size;
    void* buffer = nullptr;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int call = 0; call < max_calls && result == ERROR_BUFFER_OVERFLOW; call++) {
        std::free(buffer);
        buffer = std::malloc(size);
        if (buffer == nullptr) return 0;
        result = GetAdaptersAddresses(AF_INET, list_flags, nullptr,
                                      static_cast<IP_ADAPTER_ADDRESSES*>(buffer), &size);
    }
    if (result != NO_ERROR) {
        std::free(buffer);
        return 0;
    }
    int count = 0;
    for (const IP_ADAPTER_ADDRESSES_LH* a = static_cast<const IP_ADAPTER_ADDRESSES_LH*>(buffer);
         a != nullptr && count < capacity; a = a->Next) {
        fill_record(a, out[count++]);
    }
    std::free(buffer);
    return count;
}
