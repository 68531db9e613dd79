// The process's pool of block memory; see block_pool.h.
#include "io/block_pool.h"

#include <windows.h>

#include <cstdlib>

#include "io/banned.h"

namespace {

// A writer's sixteen blocks and a reader's buffer for each of a few files
// open at once (an extraction's file and its stage, a test's pair).
constexpr size_t POOL_LIMIT = 48;

struct Piece {
    void* memory;
    size_t bytes;
};

struct BlockPool {
    SRWLOCK lock;
    Piece pieces[POOL_LIMIT];
    size_t count;
};

BlockPool pool = {SRWLOCK_INIT, {}, 0};

}  // namespace

void* take_block_memory(size_t bytes) {
    void* memory = nullptr;
    AcquireSRWLockExclusive(&pool.lock);
    for (size_t i = pool.count; i-- > 0;) {
        if (pool.pieces[i].bytes != bytes) continue;
        memory = pool.pieces[i].memory;
        pool.pieces[i] = pool.pieces[--pool.count];
        break;
    }
    ReleaseSRWLockExclusive(&pool.lock);
    return memory ? memory : std::malloc(bytes);
}

void give_back_block_memory(void* memory, size_t bytes) {
    if (!memory) return;
    AcquireSRWLockExclusive(&pool.lock);
    const bool kept = pool.count < POOL_LIMIT;
    if (kept) pool.pieces[pool.count++] = Piece{memory, bytes};
    ReleaseSRWLockExclusive(&pool.lock);
    if (!kept) std::free(memory);
}

size_t pooled_block_memory() {
    AcquireSRWLockShared(&pool.lock);
    const size_t count = pool.count;
    ReleaseSRWLockShared(&pool.lock);
    return count;
}
