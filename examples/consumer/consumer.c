/*
 * consumer: a program outside the project, built against the installed
 * library (through its CMake package or its pkg-config file). Prints the
 * library's version and checks that a refused call comes back with its code
 * and message. Opens no socket.
 */
#include <stdio.h>
#include <string.h>

#include "tandrelo_mdns.h"

int main(void)
{
    const char* expected = "Hostname label cannot contain dots (provide label without .local)";

    printf("tandrelo-mdns %s\n", mdns_version());
    if (mdns_set_hostname("kitchen.local") != MDNS_ERR_INVALID) {
        fprintf(stderr, "consumer: a label with a dot was accepted\n");
        return 1;
    }
    if (strcmp(mdns_last_error(), expected) != 0) {
        fprintf(stderr, "consumer: unexpected message \"%s\"\n", mdns_last_error());
        return 1;
    }
    if (mdns_set_hostname("kitchen") != MDNS_OK || mdns_status() != 0) {
        fprintf(stderr, "consumer: %s\n", mdns_last_error());
        return 1;
    }
    printf("%s\n", mdns_stats());
    return 0;
}
