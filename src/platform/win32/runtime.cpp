// Pause, calendar clock and case-insensitive comparison.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <time.h>

#include "platform/platform.h"

void plat_sleep_ms(unsigned ms) { Sleep(ms); }

std::uint64_t plat_time_seconds() { return static_cast<std::uint64_t>(_time64(nullptr)); }

// GetTickCount64 moves in steps of the system timer, about 16 ms; the
// performance counter is as fine as the POSIX monotonic clock.
std::uint64_t plat_monotonic_ms()
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER count;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    const std::uint64_t f = static_cast<std::uint64_t>(frequency.QuadPart);
    const std::uint64_t c = static_cast<std::uint64_t>(count.QuadPart);
    // Whole seconds and the rest apart, so that the product cannot overflow.
    return c / f * 1000u + c % f * 1000u / f;
}

// _stricmp folds case through the C runtime's current locale, which the host
// application may have changed with setlocale; under a Western code page it
// would then also match accented letters. Names are compared ignoring the
// case of ASCII letters only, so the folding is done here by hand.
int plat_stricmp(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        int ca = static_cast<unsigned char>(*a);
        int cb = static_cast<unsigned char>(*b);
        if (ca >= 'A' && ca <= 'Z') ca += 'a' - 'A';
        if (cb >= 'A' && cb <= 'Z') cb += 'a' - 'A';
        if (ca != cb || ca == 0) return ca - cb;
    }
}
