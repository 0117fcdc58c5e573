/*
 * peer_host: one host of the multi-namespace peer tests (lan_*.sh), built on
 * the public header only.
 *
 *   peer_host --label L --addr A [--port P] [--services N] [--types T]
 *             [--txt-bytes B] [--seconds S] [--stop-after S2] [--start-at MS]
 *
 * Registers N services "svc-<i>" over T types "_t0._tcp" .. "_t<T-1>._tcp"
 * (service i has type i % T and port P + i), each with a TXT of about B bytes
 * ("id=<i>" and "pad=xx..."), pins the responder to the adapter with address
 * A and starts it on port 5353, at the wall-clock time MS (milliseconds since
 * the epoch) if given. It prints, one line each, flushed:
 *
 *   label <label>      the host label at start, then every change of it seen
 *                      in the status report (polled every 10 ms): the lines
 *                      after the first one count the renames
 *   ready              the responder runs
 *   stopped <seconds>  wall-clock time (seconds since the epoch, to the
 *                      microsecond) just before mdns_stop, which sends the
 *                      goodbyes: after S2 seconds, or at SIGUSR1
 *
 * and exits after S seconds (default 30) or at SIGTERM/SIGINT, stopping the
 * responder first if it still runs.
 */
#define _POSIX_C_SOURCE 200809L
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "tandrelo_mdns.h"

static volatile sig_atomic_t g_exit = 0;
static volatile sig_atomic_t g_stop_now = 0;
static void on_exit_signal(int sig)
{
    (void)sig;
    g_exit = 1;
}
static void on_stop_signal(int sig)
{
    (void)sig;
    g_stop_now = 1;
}

static double now_seconds(clockid_t clock)
{
    struct timespec ts;
    clock_gettime(clock, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

static void sleep_ms(long ms)
{
    struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, NULL);
}

static int fail(const char* what)
{
    fprintf(stderr, "peer_host: %s: %s\n", what, mdns_last_error());
    return 1;
}

/* Copies the value of "hostname" in the status report into out. */
static void report_label(char* out, size_t cap)
{
    const char* key = "\"hostname\":\"";
    const char* p = strstr(mdns_stats(), key);
    size_t n = 0;
    if (p != NULL) {
        p += strlen(key);
        while (p[n] != '\0' && p[n] != '"' && n + 1 < cap) n++;
        memcpy(out, p, n);
    }
    out[n] = '\0';
}

int main(int argc, char** argv)
{
    const char* label = NULL;
    const char* addr = NULL;
    int port = 8000, services = 0, types = 1, txt_bytes = 0;
    double seconds = 30, stop_after = -1, start_at_ms = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const char* arg = argv[i];
        const char* value = argv[i + 1];
        if (strcmp(arg, "--label") == 0) label = value;
        else if (strcmp(arg, "--addr") == 0) addr = value;
        else if (strcmp(arg, "--port") == 0) port = atoi(value);
        else if (strcmp(arg, "--services") == 0) services = atoi(value);
        else if (strcmp(arg, "--types") == 0) types = atoi(value);
        else if (strcmp(arg, "--txt-bytes") == 0) txt_bytes = atoi(value);
        else if (strcmp(arg, "--seconds") == 0) seconds = atof(value);
        else if (strcmp(arg, "--stop-after") == 0) stop_after = atof(value);
        else if (strcmp(arg, "--start-at") == 0) start_at_ms = atof(value);
        else {
            fprintf(stderr, "peer_host: unknown argument %s\n", arg);
            return 2;
        }
    }
    if (label == NULL || addr == NULL || types < 1 || argc % 2 != 1) {
        fprintf(stderr, "usage: peer_host --label L --addr A [--port P] [--services N] [--types T]\n"
                        "       [--txt-bytes B] [--seconds S] [--stop-after S2] [--start-at MS]\n");
        return 2;
    }
    setvbuf(stdout, NULL, _IOLBF, 0);

    if (mdns_set_hostname(label) != MDNS_OK) return fail("hostname");
    if (mdns_set_addr(addr) != MDNS_OK) return fail("address");
    if (mdns_set_interface(addr) != MDNS_OK) return fail("interface");
    for (int i = 0; i < services; i++) {
        char type[32], name[32], txt[600];
        snprintf(type, sizeof type, "_t%d._tcp", i % types);
        snprintf(name, sizeof name, "svc-%d", i);
        /* TXT on the wire: 1 + strlen("id=<i>") + 1 + strlen("pad=") + pad. */
        int pad = txt_bytes - 9 - snprintf(NULL, 0, "%d", i);
        if (pad < 0) pad = 0;
        if (pad > 250) pad = 250;
        int n = snprintf(txt, sizeof txt, "{\"id\":\"%d\",\"pad\":\"", i);
        memset(txt + n, 'x', (size_t)pad);
        strcpy(txt + n + pad, "\"}");
        if (mdns_add_service(type, name, port + i, txt) < 0) return fail("service");
    }

    signal(SIGINT, on_exit_signal);
    signal(SIGTERM, on_exit_signal);
    signal(SIGUSR1, on_stop_signal);
    while (start_at_ms > 0 && now_seconds(CLOCK_REALTIME) * 1000 < start_at_ms && !g_exit) {
        sleep_ms(1);
    }
    char current[80];
    report_label(current, sizeof current);
    printf("label %s\n", current);
    if (mdns_start(0) != MDNS_OK) return fail("start");
    printf("ready\n");

    double started = now_seconds(CLOCK_MONOTONIC);
    int running = 1;
    while (!g_exit) {
        double elapsed = now_seconds(CLOCK_MONOTONIC) - started;
        if (elapsed >= seconds) break;
        if (running && (g_stop_now || (stop_after >= 0 && elapsed >= stop_after))) {
            printf("stopped %.6f\n", now_seconds(CLOCK_REALTIME));
            mdns_stop();
            running = 0;
        }
        char seen[80];
        report_label(seen, sizeof seen);
        if (strcmp(seen, current) != 0) {
            strcpy(current, seen);
            printf("label %s %.6f\n", current, now_seconds(CLOCK_REALTIME));
        }
        sleep_ms(10);
    }
    if (running) mdns_stop();
    return 0;
}
