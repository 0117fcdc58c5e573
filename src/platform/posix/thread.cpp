// Lock and threads on POSIX threads.
#include <pthread.h>
#include <time.h>

#include "platform/faults.h"
#include "platform/platform.h"

// A statically initialised mutex exists before the first call, so concurrent
// first calls need no creation step at all.
static pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;

void plat_lock_init_once() {}
void plat_lock_enter() { pthread_mutex_lock(&g_mutex); }
void plat_lock_leave() { pthread_mutex_unlock(&g_mutex); }

namespace {
// A thread's entry and argument wait here until the new thread has copied
// them. Only threads in start-up hold a slot, so a few slots are plenty.
struct thread_start {
    void (*fn)(std::uintptr_t);
    std::uintptr_t arg;
    bool used;
};
constexpr int start_slots = 8;
thread_start g_starts[start_slots];
pthread_mutex_t g_starts_mutex = PTHREAD_MUTEX_INITIALIZER;

void* thread_main(void* p)
{
    thread_start* start = static_cast<thread_start*>(p);
    pthread_mutex_lock(&g_starts_mutex);
    void (*fn)(std::uintptr_t) = start->fn;
    std::uintptr_t arg = start->arg;
    start->used = false;
    pthread_mutex_unlock(&g_starts_mutex);
    fn(arg);
    plat_fault_count_thread(-1);
    return nullptr;
}
}  // namespace

plat_thread plat_thread_start(void (*fn)(std::uintptr_t), std::uintptr_t arg)
{
    if (plat_fault_injected(plat_fault_thread_start)) return 0;
    thread_start* start = nullptr;
    pthread_mutex_lock(&g_starts_mutex);
    for (int i = 0; i < start_slots && start == nullptr; i++) {
        if (!g_starts[i].used) {
            start = &g_starts[i];
            start->used = true;
            start->fn = fn;
            start->arg = arg;
        }
    }
    pthread_mutex_unlock(&g_starts_mutex);
    if (start == nullptr) return 0;
    pthread_t thread;
    plat_fault_count_thread(1);
    if (pthread_create(&thread, nullptr, thread_main, start) != 0) {
        plat_fault_count_thread(-1);
        pthread_mutex_lock(&g_starts_mutex);
        start->used = false;
        pthread_mutex_unlock(&g_starts_mutex);
        return 0;
    }
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
