/*
 * Runs the library's responder on a port with a few services registered,
 * until it is killed or --seconds (default 120, at most 3600) have passed.
 * Uses the public header only.
 *
 *   bench_responder_host --port 5354 [--browse] [--seconds N]
 *   bench_responder_host --idle [--seconds N]
 *
 * Host name bench.local at 127.0.0.1; services of types _http._tcp (two),
 * _ipp._tcp and _ssh._tcp. With --browse the browser runs too, and each
 * report is asked for once, so that every buffer the library uses has been
 * touched (bench/footprint.sh reads the resident memory). With --idle the
 * library is loaded and nothing else is done: the baseline for that figure.
 * Prints "ready" when it is set up.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "tandrelo_mdns.h"

int main(int argc, char** argv)
{
    int port = 0, browse = 0, idle = 0, seconds = 120, i;
    for (i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--port") == 0 && i + 1 < argc) port = atoi(argv[++i]);
        else if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) seconds = atoi(argv[++i]);
        else if (strcmp(argv[i], "--browse") == 0) browse = 1;
        else if (strcmp(argv[i], "--idle") == 0) idle = 1;
    }
    if ((!idle && (port < 1 || port > 65535)) || seconds < 1 || seconds > 3600) {
        fprintf(stderr, "usage: bench_responder_host --port N [--browse] [--seconds N]\n"
                        "       bench_responder_host --idle [--seconds N]\n");
        return 2;
    }
    if (idle) {
        printf("ready %s\n", mdns_version());
        fflush(stdout);
        sleep((unsigned)seconds);
        return 0;
    }
    mdns_set_hostname("bench");
    mdns_set_addr("127.0.0.1");
    mdns_add_service("_http._tcp", "Bench Web", 8080, "{\"path\":\"/\",\"version\":\"1.1\"}");
    mdns_add_service("_http._tcp", "Bench Admin", 8081, "{\"path\":\"/admin\"}");
    mdns_add_service("_ipp._tcp", "Bench Printer", 631, "{\"rp\":\"ipp/print\",\"ty\":\"Bench\"}");
    mdns_add_service("_ssh._tcp", "Bench Shell", 22, NULL);
    if (mdns_start(port) != MDNS_OK) {
        fprintf(stderr, "mdns_start: %s\n", mdns_last_error());
        return 1;
    }
    if (browse) {
        if (mdns_browse_start() != MDNS_OK) {
            fprintf(stderr, "mdns_browse_start: %s\n", mdns_last_error());
            return 1;
        }
        (void)mdns_stats();
        (void)mdns_interfaces();
        (void)mdns_browse_results();
    }
    printf("ready\n");
    fflush(stdout);
    sleep((unsigned)seconds);
    mdns_browse_stop();
    mdns_stop();
    return 0;
}
