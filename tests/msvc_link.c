/*
 * Linked the way MSVC links: compiled for the MSVC target and linked by
 * lld-link against tandrelo-mdns.lib alone, with no C runtime (the entry
 * point is this function, and its result is the exit code). Proves that the
 * import library resolves the header's dllimport references to the DLL.
 */
#include "tandrelo_mdns.h"

static int same(const char* a, const char* b)
{
    while (*a && *a == *b) {
        a++;
        b++;
    }
    return *a == *b;
}

int msvc_link_main(void)
{
    if (!same(mdns_version(), "1.1.0"))
        return 2;
    if (mdns_set_hostname("kitchen.local") != MDNS_ERR_INVALID)
        return 3;
    if (!same(mdns_last_error(), "Hostname label cannot contain dots (provide label without .local)"))
        return 4;
    if (mdns_status() != 0 || mdns_stats()[0] != '{')
        return 5;
    return 0;
}
