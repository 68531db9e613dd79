// Memory of the file readers' and writers' blocks, kept for reuse by the
// process. A job over thousands of small files opens a reader or a writer
// per file, and each used to allocate its blocks (a writer sixteen of 12 KiB,
// a reader one of 40 KiB) and free them at its close; the heap then handed
// that memory back to the system and took it again for the next file, two
// changes of the address space per file, each a system call that also stops
// the process's other threads. The blocks' sizes and counts stay as they
// were: only their memory comes from here.
//
// One pool for the process, behind a slim lock, any thread; like the event
// pool it is constant-initialised and nothing of it runs when a thread or
// the process ends. Memory taken belongs to its caller until given back.
#pragma once

#include <cstddef>

// Returns bytes of memory (from the pool when it holds a piece of exactly
// that size, else from the heap), or null when none could be had. The
// contents are undefined.
void* take_block_memory(size_t bytes);
// Keeps memory, taken with the same bytes, for a later take_block_memory, or
// frees it when the pool is full. Null is ignored.
void give_back_block_memory(void* memory, size_t bytes);
// Pieces the pool holds now.
size_t pooled_block_memory();
