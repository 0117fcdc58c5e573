// Lock and threads on Win32.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <atomic>

#include "platform/faults.h"
#include "platform/platform.h"

// A critical section must be initialised by a call before its first use, and
// two threads that both initialise it corrupt it. InitOnceExecuteOnce runs the
// initialisation exactly once and makes every other first caller wait until
// it has finished, so concurrent first calls are safe.
static CRITICAL_SECTION g_lock;
static INIT_ONCE g_lock_once = INIT_ONCE_STATIC_INIT;

static BOOL CALLBACK lock_init(PINIT_ONCE, PVOID, PVOID*)
{
    InitializeCriticalSection(&g_lock);
    return TRUE;
}

void plat_lock_init_once() { InitOnceExecuteOnce(&g_lock_once, lock_init, nullptr, nullptr); }
void plat_lock_enter() { EnterCriticalSection(&g_lock); }
void plat_lock_leave() { LeaveCriticalSection(&g_lock); }

namespace {

// A thread's entry and argument wait here until the new thread has copied
// them; CreateThread passes only one pointer. Only threads in start-up hold a
// slot, so a few slots are plenty.
struct thread_start {
    std::atomic<int> used;
    void (*fn)(std::uintptr_t);
    std::uintptr_t arg;
};
constexpr int start_slots = 8;
thread_start g_starts[start_slots];

DWORD WINAPI thread_main(LPVOID p)
{
    thread_start* start = static_cast<thread_start*>(p);
    void (*fn)(std::uintptr_t) = start->fn;
    std::uintptr_t arg = start->arg;
    start->used.store(0, std::memory_order_release);
    fn(arg);
    plat_fault_count_thread(-1);
    return 0;
}

}  // namespace

plat_thread plat_thread_start(void (*fn)(std::uintptr_t), std::uintptr_t arg)
{
    if (plat_fault_injected(plat_fault_thread_start)) return 0;
    for (thread_start& start : g_starts) {
        int free_slot = 0;
        if (!start.used.compare_exchange_strong(free_slot, 1, std::memory_order_acquire)) continue;
        start.fn = fn;
        start.arg = arg;
        // CreateThread publishes the slot's contents to the new thread.
        plat_fault_count_thread(1);
        HANDLE thread = CreateThread(nullptr, 0, thread_main, &start, 0, nullptr);
        if (thread == nullptr) {
            plat_fault_count_thread(-1);
            start.used.store(0, std::memory_order_release);
        }
        return reinterpret_cast<plat_thread>(thread);  // NULL on failure, which is 0
    }
    return 0;
}

int plat_thread_wait_and_close(plat_thread handle, unsigned timeout_ms)
{
    HANDLE thread = reinterpret_cast<HANDLE>(handle);
    int ended = WaitForSingleObject(thread, timeout_ms) == WAIT_OBJECT_0;
    // Closing the handle of a running thread does not stop it; the thread
    // ends on its own and the system frees it then.
    CloseHandle(thread);
    return ended;
}
