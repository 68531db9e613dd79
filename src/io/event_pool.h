// Manual-reset events kept for reuse by the file reader and writer of one
// thread. Opening a file for a job used to create (and closing it destroy)
// 4 or 16 events, each a round trip to the system; a job over thousands of
// small files now makes them once per thread.
//
// One pool per thread; an event handed out belongs to its caller until it is
// given back, and is given back only when no I/O refers to it.
#pragma once

#include <windows.h>

// Returns a manual-reset event in the signalled state, or null when none
// could be made.
HANDLE take_event();
// Keeps event, which must be signalled (no I/O in flight on it), for a later
// take_event of this thread, or closes it when the pool is full. Null is
// ignored.
void give_back_event(HANDLE event);
// Events this thread's pool holds now.
size_t pooled_event_count();
