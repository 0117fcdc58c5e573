// The three functions that need neither the lock nor any set-up.
#include "tandrelo_mdns.h"

#include "core/state.h"

extern "C" {

TANDRELO_MDNS_API const char* mdns_version(void) { return "1.1.0"; }

TANDRELO_MDNS_API const char* mdns_last_error(void) { return last_error_text(); }

TANDRELO_MDNS_API int32_t mdns_status(void) { return g_running.load() != 0 ? 1 : 0; }

}
