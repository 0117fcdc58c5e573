/* Compiled as C: the public header must be usable from C callers. */
#include "tandrelo_mdns.h"

#include <stdio.h>
#include <string.h>

int main(void)
{
    if (strcmp(mdns_version(), "1.1.0") != 0) return 1;
    if (mdns_status() != 0) return 2;
    if (MDNS_ERR_ALREADY_RUNNING != -7 || MDNS_ERR_INVALID != -1) return 3;
    printf("version %s, last error \"%s\"\n", mdns_version(), mdns_last_error());
    return 0;
}
