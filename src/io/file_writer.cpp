// Write-behind file writer. Data is copied into the first empty block; a full
// block is handed to an overlapped WriteFile at the next file offset and sits
// on the pending list until the system reports it done. Up to 16 blocks are
// in flight; the pool grows only when a block aborted and had to be rewritten.
//
// One thread per object. Every block is on exactly one of the empty and
// pending lists, and a pending block's data is never touched. A failed or
// short write sets the sticky failure flag; bytes_written counts only what
// the system confirmed.
#include "io/file_writer.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <new>

#include <winioctl.h>

#include "io/block_pool.h"
#include "io/event_pool.h"
#include "io/io_faults.h"
#include "io/platform.h"

#include "io/banned.h"

namespace {

constexpr DWORD WRITE_FLAGS = FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL;
constexpr uintptr_t STORAGE_ALIGNMENT = 4096;
constexpr size_t STORAGE_BYTES = FileWriter::BLOCK_SIZE + STORAGE_ALIGNMENT - 1;

}  // namespace

FileWriter::BlockQueue::~BlockQueue() { std::free(slots); }

bool FileWriter::BlockQueue::reserve(size_t wanted) {
    if (wanted <= capacity) return true;
    const size_t grown = std::max(wanted, capacity * 2);
    Block** fresh = static_cast<Block**>(std::malloc(grown * sizeof(Block*)));
    if (!fresh) return false;
    for (size_t i = 0; i < count; ++i) fresh[i] = slots[(head + i) % capacity];
    std::free(slots);
    slots = fresh;
    capacity = grown;
    head = 0;
    return true;
}

void FileWriter::BlockQueue::push_back(Block* block) {
    assert(count < capacity);
    slots[(head + count) % capacity] = block;
    ++count;
}

FileWriter::Block* FileWriter::BlockQueue::pop_front() {
    assert(count > 0);
    Block* const block = slots[head];
    head = (head + 1) % capacity;
    --count;
    return block;
}

FileWriter::FileWriter(const char* path, Create how) {
    if (path) {
        takes_part_in_faults_ = takes_part_in_faults(path);
        handle_ = create_file(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                              how == Create::only_new ? CREATE_NEW : CREATE_ALWAYS, WRITE_FLAGS, false,
                              &converted_path_);
    }
    if (!is_open()) {
        fail(path ? GetLastError() : ERROR_INVALID_PARAMETER);
        return;
    }
    for (int i = 0; i < INITIAL_BLOCKS; ++i) {
        if (add_block()) continue;
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        failed_ = true;
        free_blocks();
        return;
    }
}

FileWriter::~FileWriter() { close(); }

FileWriter::Block* FileWriter::add_block() {
    const size_t total = block_count_ + 1;
    if (!empty_.reserve(total) || !pending_.reserve(total)) return nullptr;
    Block* const block = new (std::nothrow) Block{};
    if (!block) return nullptr;
    block->storage = static_cast<uint8_t*>(take_block_memory(STORAGE_BYTES));
    block->event = take_event();
    if (!block->storage || !block->event) {
        give_back_block_memory(block->storage, STORAGE_BYTES);
        give_back_event(block->event);
        delete block;
        return nullptr;
    }
    const uintptr_t start = reinterpret_cast<uintptr_t>(block->storage);
    block->data = reinterpret_cast<uint8_t*>((start + STORAGE_ALIGNMENT - 1) & ~(STORAGE_ALIGNMENT - 1));
    ++block_count_;
    empty_.push_back(block);
    return block;
}

void FileWriter::free_blocks() {
    // Only called with nothing in flight.
    assert(pending_.empty());
    while (!empty_.empty()) {
        Block* const block = empty_.pop_front();
        give_back_event(block->event);
        give_back_block_memory(block->storage, STORAGE_BYTES);
        delete block;
        --block_count_;
    }
}

void FileWriter::finish(Block* block, BOOL ok, DWORD transferred, DWORD error) {
    if (ok) {
        bytes_written_ += transferred;
        // A write that took less than it was given ran out of room.
        if (transferred < block->fill) fail(ERROR_DISK_FULL);
    } else {
        fail(error);
    }
    block->fill = 0;
}

void FileWriter::fail(DWORD error) {
    if (!failed_ || error_ == NO_ERROR) error_ = error != NO_ERROR ? error : ERROR_WRITE_FAULT;
    failed_ = true;
}

bool FileWriter::start_write(Block* block, uint64_t offset) {
    block->offset = offset;
    std::memset(&block->overlapped, 0, sizeof(block->overlapped));
    block->overlapped.Offset = static_cast<DWORD>(offset);
    block->overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
    // WriteFile resets the event itself when it starts the request.
    block->overlapped.hEvent = event_without_port(block->event);

    DWORD transferred = 0;
    BOOL ok = FALSE;
    uint32_t allowed = 0;
    DWORD error = injected_write_fault(takes_part_in_faults_, block->fill, &allowed);
    if (error == NO_ERROR) {
        ok = WriteFile(handle_, block->data, allowed, &transferred, &block->overlapped);
        if (!ok) error = GetLastError();
    }
    if (!ok && error == ERROR_IO_PENDING) return true;
    // Done at once, or failed outright: nothing is in flight, and the block
    // is emptied either way so the writer always moves on.
    if (!ok) SetEvent(block->event);
    finish(block, ok, transferred, error);
    return false;
}

void FileWriter::submit_first() {
    Block* const block = empty_.front();
    assert(block->fill > 0);
    const uint64_t offset = position_;
    position_ += block->fill;
    max_size_ = std::max(max_size_, position_);
    if (start_write(block, offset)) pending_.push_back(empty_.pop_front());
}

bool FileWriter::reclaim_oldest(bool wait) {
    if (pending_.empty()) return false;
    Block* const block = pending_.front();
    DWORD transferred = 0;
    if (GetOverlappedResult(handle_, &block->overlapped, &transferred, wait ? TRUE : FALSE)) {
        pending_.pop_front();
        finish(block, TRUE, transferred, NO_ERROR);
        empty_.push_back(block);
        return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_OPERATION_ABORTED) {
        pending_.pop_front();
        if (start_write(block, block->offset)) {
            pending_.push_back(block);
        } else {
            empty_.push_back(block);
        }
        return true;
    }
    if (!wait) return false;  // a failed block is settled when it is waited for
    pending_.pop_front();
    finish(block, FALSE, 0, error);
    empty_.push_back(block);
    return true;
}

size_t FileWriter::write(const void* data, size_t count) {
    if (!is_open()) return 0;
    const uint8_t* in = static_cast<const uint8_t*>(data);
    size_t accepted = 0;
    while (accepted < count) {
        if (empty_.empty()) reclaim_oldest(false);
        if (empty_.empty()) {
            if (pending_.size() >= PENDING_LIMIT) flush(false);
            if (empty_.empty() && !add_block()) {
                failed_ = true;
                return accepted;
            }
        }
        Block* const block = empty_.front();
        const size_t n = std::min<size_t>(count - accepted, BLOCK_SIZE - block->fill);
        std::memcpy(block->data + block->fill, in + accepted, n);
        block->fill += static_cast<uint32_t>(n);  // n <= BLOCK_SIZE
        accepted += n;
        if (block->fill == BLOCK_SIZE) submit_first();
    }
    return accepted;
}

void FileWriter::flush(bool final) {
    if (!is_open()) return;
    if (final && !empty_.empty() && empty_.front()->fill > 0) submit_first();
    while (!pending_.empty()) {
        reclaim_oldest(true);
        if (!final) break;
    }
}

void FileWriter::skip(uint64_t count) {
    if (!is_open() || count == 0) return;
    // The bytes before the gap go out at their own offset first.
    if (!empty_.empty() && empty_.front()->fill > 0) submit_first();
    position_ += count;
}

void FileWriter::mark_sparse() {
    if (!is_open() || sparse_) return;
    sparse_ = true;
    // The handle is overlapped, so the request needs a record and an event.
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!overlapped.hEvent) return;
    DWORD returned = 0;
    if (!DeviceIoControl(handle_, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, &overlapped) &&
        GetLastError() == ERROR_IO_PENDING) {
        GetOverlappedResult(handle_, &overlapped, &returned, TRUE);
    }
    // A file system without sparse files writes the holes as zeros: no fault.
    CloseHandle(overlapped.hEvent);
}

bool flush_to_disk(HANDLE file, bool takes_part_in_faults) {
    if (!FlushFileBuffers(file)) return false;
    if (takes_part_in_faults && io_faults.fail_flush) {
        SetLastError(ERROR_WRITE_FAULT);  // the test seam: the disk refused what the flush sent
        return false;
    }
    return true;
}

bool FileWriter::close() { return close_file(false); }

bool FileWriter::close_on_disk() { return close_file(true); }

bool FileWriter::close_file(bool to_disk) {
    if (is_open()) {
        flush(true);
        if (position_ > max_size_) {
            // The file ends in skipped bytes: its end is set, not written.
            FILE_END_OF_FILE_INFO end{};
            end.EndOfFile.QuadPart = static_cast<LONGLONG>(position_);
            if (SetFileInformationByHandle(handle_, FileEndOfFileInfo, &end, sizeof(end))) {
                max_size_ = position_;
            } else {
                fail(GetLastError());
            }
        }
        if (to_disk && !flush_to_disk(handle_, takes_part_in_faults_)) fail(GetLastError());
        if (!CloseHandle(handle_)) fail(GetLastError());
        handle_ = INVALID_HANDLE_VALUE;
    }
    free_blocks();
    return !failed_;
}
