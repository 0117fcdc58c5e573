// Lock and threads on POSIX threads.
#include <pthread.h>
#include <time.h>

#include "platform/platform.h"

// A statically initialised mutex exists before the first call, so concurrent
// first calls need no creation step at all.
static pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;

void plat_lock_init_once() {}
void plat_lock_enter() { pthread_mutex_lock(&g_mutex); }
void plat_lock_leave() { pthread_mutex_unlock(&g_mutex); }

// POSIX allows a function pointer to travel as void*, so the entry needs no
// start record of its own.
static void* thread_main(void* entry)
{
    reinterpret_cast<void (*)()>(entry)();
    return nullptr;
}

plat_thread plat_thread_start(void (*fn)())
{
    pthread_t thread;
    if (pthread_create(&thread, nullptr, thread_main, reinterpret_cast<void*>(fn)) != 0) return 0;
    return static_cast<plat_thread>(thread);
}

int plat_thread_wait_and_close(plat_thread handle, unsigned timeout_ms)
{
    pthread_t thread = static_cast<pthread_t>(handle);
    struct timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += timeout_ms / 1000;
    deadline.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    if (pthread_timedjoin_np(thread, nullptr, &deadline) == 0) return 1;
    // Not ended in time: let it end on its own and free itself.
    pthread_detach(thread);
    return 0;
}
