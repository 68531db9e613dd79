// Manual-reset events kept for reuse by the file readers and writers of the
// process. Opening a file for a job used to create (and closing it destroy)
// 4 or 16 events, each a round trip to the system; a job over thousands of
// small files now makes them once.
//
// One pool for the process, behind a slim lock, any thread. It is a plain
// array with nothing to run when a thread or the process ends: an event
// handed out belongs to its caller until it is given back, and is given
// back only when no I/O refers to it.
#pragma once

#include <windows.h>

#include <cstddef>

// Returns a manual-reset event in the signalled state, or null when none
// could be made.
HANDLE take_event();
// Keeps event, which must be signalled (no I/O in flight on it), for a later
// take_event, or closes it when the pool is full. Null is ignored.
void give_back_event(HANDLE event);
// The value an OVERLAPPED record's hEvent takes for event: the same handle
// with its low bit set, which asks the system not to queue the completion to
// an I/O completion port. The program binds no file to a port, so that post
// would only cost a request per block (under Wine, a round trip to its
// server). Waits and the system's setting of the event ignore the bit.
inline HANDLE event_without_port(HANDLE event) {
    return reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event) | 1);
}
// Events the pool holds now.
size_t pooled_event_count();
// Closes every event the pool holds (at the end of the process, once no
// file is open).
void close_pooled_events();
