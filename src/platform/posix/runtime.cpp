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

// The library never changes the locale, so strcasecmp folds ASCII letters only.
int plat_stricmp(const char* a, const char* b) { return strcasecmp(a, b); }
