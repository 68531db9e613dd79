// Per-thread pool of manual-reset events; see event_pool.h. The pool of a
// thread is closed when the thread ends.
#include "io/event_pool.h"

#include <cassert>
#include <cstddef>

#include "io/banned.h"

namespace {

// Enough for a reader and a writer open at once, with room for a grown pool.
constexpr size_t POOL_LIMIT = 48;

struct EventPool {
    HANDLE events[POOL_LIMIT] = {};
    size_t count = 0;
    ~EventPool() {
        while (count > 0) CloseHandle(events[--count]);
    }
};

EventPool& pool() {
    thread_local EventPool events;
    return events;
}

}  // namespace

HANDLE take_event() {
    EventPool& p = pool();
    if (p.count == 0) return CreateEventW(nullptr, TRUE, TRUE, nullptr);
    HANDLE event = p.events[--p.count];
    assert(WaitForSingleObject(event, 0) == WAIT_OBJECT_0);
    return event;
}

void give_back_event(HANDLE event) {
    if (!event) return;
    assert(WaitForSingleObject(event, 0) == WAIT_OBJECT_0);
    EventPool& p = pool();
    if (p.count == POOL_LIMIT) {
        CloseHandle(event);
        return;
    }
    p.events[p.count++] = event;
}

size_t pooled_event_count() { return pool().count; }
