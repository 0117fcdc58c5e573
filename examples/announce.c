/*
 * mdns_announce: makes this host visible on the local network.
 *
 *   mdns_announce [--hostname LABEL] [--addr IPV4] [--port PORT]
 *                 [--service TYPE NAME PORT [TXT_JSON]] ... [--seconds N]
 *
 * Runs the responder until interrupted (Ctrl-C) or for N seconds, printing
 * the status report once a second. Uses only the public header.
 */
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tandrelo_mdns.h"

#ifdef _WIN32
#include <windows.h>
static void sleep_second(void) { Sleep(1000); }
#else
#include <time.h>
static void sleep_second(void)
{
    struct timespec ts = {1, 0};
    nanosleep(&ts, NULL);
}
#endif

static volatile sig_atomic_t g_stop = 0;
static void on_signal(int sig)
{
    (void)sig;
    g_stop = 1;
}

static int usage(const char* self)
{
    fprintf(stderr,
            "usage: %s [--hostname LABEL] [--addr IPV4] [--port PORT]\n"
            "          [--service TYPE NAME PORT [TXT_JSON]] ... [--seconds N]\n",
            self);
    return 2;
}

static int fail(const char* what)
{
    fprintf(stderr, "%s: %s\n", what, mdns_last_error());
    return 1;
}

int main(int argc, char** argv)
{
    int port = 0;
    long seconds = -1;
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (strcmp(arg, "--hostname") == 0 && i + 1 < argc) {
            if (mdns_set_hostname(argv[++i]) != MDNS_OK) return fail("hostname");
        } else if (strcmp(arg, "--addr") == 0 && i + 1 < argc) {
            if (mdns_set_addr(argv[++i]) != MDNS_OK) return fail("address");
        } else if (strcmp(arg, "--port") == 0 && i + 1 < argc) {
            port = atoi(argv[++i]);
        } else if (strcmp(arg, "--seconds") == 0 && i + 1 < argc) {
            seconds = atol(argv[++i]);
        } else if (strcmp(arg, "--service") == 0 && i + 3 < argc) {
            const char* type = argv[i + 1];
            const char* name = argv[i + 2];
            int service_port = atoi(argv[i + 3]);
            const char* txt = NULL;
            i += 3;
            if (i + 1 < argc && argv[i + 1][0] == '{') txt = argv[++i];
            if (mdns_add_service(type, name, service_port, txt) < 0) return fail("service");
        } else {
            return usage(argv[0]);
        }
    }

    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
    if (mdns_start(port) != MDNS_OK) return fail("start");
    printf("tandrelo-mdns %s running; Ctrl-C stops\n", mdns_version());
    fflush(stdout);
    for (long elapsed = 0; !g_stop && (seconds < 0 || elapsed < seconds); elapsed++) {
        printf("%s\n", mdns_stats());
        fflush(stdout);
        sleep_second();
    }
    mdns_stop();
    printf("%s\n", mdns_stats());
    return 0;
}
