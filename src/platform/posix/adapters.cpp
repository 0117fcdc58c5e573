// The system's network interfaces, as Linux reports them.
//
// getifaddrs gives one entry per interface and address family; the entries of
// one interface are gathered into one record, in the order in which each
// interface first appears (the link entries come first, in interface index
// order), each IPv4 address with the prefix length of its netmask. The
// gateway comes from /proc/net/route, which belongs to the
// calling thread's network namespace, like getifaddrs itself; the first
// default route through the interface that names a gateway gives it.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>

#include "platform/faults.h"
#include "platform/platform.h"

// The length of the device name in an address label: labels such as
// "eth0:1" name an alias of "eth0", and device names never contain ':'.
static std::size_t device_name_length(const char* label)
{
    const char* colon = std::strchr(label, ':');
    return colon != nullptr ? static_cast<std::size_t>(colon - label) : std::strlen(label);
}

// The record of the named device among the first count ones, or -1.
static int find_record(const plat_adapter_raw* list, int count, const char* label)
{
    std::size_t len = device_name_length(label);
    for (int i = 0; i < count; i++) {
        if (std::strlen(list[i].name) == len && std::strncmp(list[i].name, label, len) == 0) {
            return i;
        }
    }
    return -1;
}

// The prefix length of a netmask: its leading one bits. An address without
// a netmask stands for itself alone.
static std::uint8_t prefix_length(const struct sockaddr* netmask)
{
    if (netmask == nullptr || netmask->sa_family != AF_INET) return 32;
    struct sockaddr_in sin;
    std::memcpy(&sin, netmask, sizeof sin);
    std::uint32_t mask = ntohl(sin.sin_addr.s_addr);
    std::uint8_t length = 0;
    while (length < 32 && (mask & (0x80000000u >> length)) != 0) length++;
    return length;
}

// Looks up the default gateway of each record in the main routing table.
// /proc/net/route prints addresses as the hexadecimal value of the
// network-order word, so reading them back gives network order again.
static void fill_gateways(plat_adapter_raw* list, int count)
{
    std::FILE* f = std::fopen("/proc/net/route", "r");
    if (f == nullptr) return;
    char line[256];
    // The first line is the column header.
    if (std::fgets(line, sizeof line, f) == nullptr) {
        std::fclose(f);
        return;
    }
    while (std::fgets(line, sizeof line, f) != nullptr) {
        char dev[IF_NAMESIZE + 1];
        unsigned destination, gateway, flags, refcnt, use, metric, mask;
        // Iface Destination Gateway Flags RefCnt Use Metric Mask ...
        if (std::sscanf(line, "%16s %x %x %x %u %u %u %x", dev, &destination, &gateway, &flags,
                        &refcnt, &use, &metric, &mask) != 8) {
            continue;
        }
        if ((flags & RTF_GATEWAY) == 0 || gateway == 0 || destination != 0 || mask != 0) continue;
        int i = find_record(list, count, dev);
        if (i < 0 || list[i].has_gateway) continue;
        list[i].has_gateway = 1;
        list[i].gateway_be = gateway;
    }
    std::fclose(f);
}

int plat_list_adapters(plat_adapter_raw* out, int capacity)
{
    if (plat_fault_adapters_faked()) return plat_fault_list_adapters(out, capacity);
    struct ifaddrs* all = nullptr;
    if (capacity <= 0 || getifaddrs(&all) != 0) return 0;
    int count = 0;
    for (struct ifaddrs* ifa = all; ifa != nullptr; ifa = ifa->ifa_next) {
        if (ifa->ifa_name == nullptr) continue;
        int i = find_record(out, count, ifa->ifa_name);
        if (i < 0) {
            if (count == capacity) continue;
            i = count++;
            plat_adapter_raw& a = out[i];
            std::memset(&a, 0, sizeof a);
            std::size_t len = device_name_length(ifa->ifa_name);
            std::snprintf(a.name, sizeof a.name, "%.*s", static_cast<int>(len), ifa->ifa_name);
            a.oper_up = (ifa->ifa_flags & IFF_UP) != 0 && (ifa->ifa_flags & IFF_RUNNING) != 0;
            a.software_loopback = (ifa->ifa_flags & IFF_LOOPBACK) != 0;
        }
        plat_adapter_raw& a = out[i];
        if (ifa->ifa_addr == nullptr || ifa->ifa_addr->sa_family != AF_INET) continue;
        if (a.ipv4_count >= static_cast<int>(sizeof a.ipv4_be / sizeof a.ipv4_be[0])) continue;
        struct sockaddr_in sin;
        std::memcpy(&sin, ifa->ifa_addr, sizeof sin);
        a.ipv4_prefix[a.ipv4_count] = prefix_length(ifa->ifa_netmask);
        a.ipv4_be[a.ipv4_count++] = sin.sin_addr.s_addr;
    }
    freeifaddrs(all);
    fill_gateways(out, count);
    return count;
}
