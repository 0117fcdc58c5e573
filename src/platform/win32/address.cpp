// IPv4 address text and byte order.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/platform.h"

int plat_ipv4_parse(const char* text, std::uint32_t* addr_be)
{
    IN_ADDR a;
    if (text == nullptr || inet_pton(AF_INET, text, &a) != 1) return 0;
    *addr_be = a.s_addr;
    return 1;
}

std::uint32_t plat_ipv4_addr(const char* text) { return inet_addr(text); }

std::uint16_t plat_htons(std::uint16_t v) { return htons(v); }
std::uint32_t plat_htonl(std::uint32_t v) { return htonl(v); }
