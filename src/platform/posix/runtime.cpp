// Pause, calendar clock and case-insensitive comparison.
#include <strings.h>
#include <time.h>

#include "platform/platform.h"

void plat_sleep_ms(unsigned ms)
{
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0) {
    }
}

std::uint64_t plat_time_seconds() { return static_cast<std::uint64_t>(time(nullptr)); }

std::uint64_t plat_monotonic_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

// The library never changes the locale, so strcasecmp folds ASCII letters only.
int plat_stricmp(const char* a, const char* b) { return strcasecmp(a, b); }
