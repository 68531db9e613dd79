// The process's pool of manual-reset events; see event_pool.h. The pool is
// constant-initialised and has no destructor, so nothing of it runs while
// a thread or the process ends.
#include "io/event_pool.h"

#include <cassert>
#include <cstddef>

#include "io/banned.h"

namespace {

// Enough for a reader and a writer open at once on each thread, with room
// for a grown pool.
constexpr size_t POOL_LIMIT = 64;

struct EventPool {
    SRWLOCK lock;
    HANDLE events[POOL_LIMIT];
    size_t count;
};

EventPool pool = {SRWLOCK_INIT, {}, 0};

}  // namespace

HANDLE take_event() {
    HANDLE event = nullptr;
    AcquireSRWLockExclusive(&pool.lock);
    if (pool.count > 0) event = pool.events[--pool.count];
    ReleaseSRWLockExclusive(&pool.lock);
    if (!event) return CreateEventW(nullptr, TRUE, TRUE, nullptr);
    assert(WaitForSingleObject(event, 0) == WAIT_OBJECT_0);
    return event;
}

void give_back_event(HANDLE event) {
    if (!event) return;
    assert(WaitForSingleObject(event, 0) == WAIT_OBJECT_0);
    AcquireSRWLockExclusive(&pool.lock);
    const bool kept = pool.count < POOL_LIMIT;
    if (kept) pool.events[pool.count++] = event;
    ReleaseSRWLockExclusive(&pool.lock);
    if (!kept) CloseHandle(event);
}

size_t pooled_event_count() {
    AcquireSRWLockShared(&pool.lock);
    const size_t count = pool.count;
    ReleaseSRWLockShared(&pool.lock);
    return count;
}

void close_pooled_events() {
    AcquireSRWLockExclusive(&pool.lock);
    while (pool.count > 0) CloseHandle(pool.events[--pool.count]);
    ReleaseSRWLockExclusive(&pool.lock);
}
