// Puts the library's process-wide state back to its values at load, for
// tests, fuzz targets and benchmarks that drive the internals in one
// process. Built into the internal test library only; nothing may be
// running when these are called.
#pragma once

// Every state variable, the browse cache and the last-error text.
void state_reset_for_tests();

// The browse cache alone.
void browse_cache_reset_for_tests();
