// Read-ahead file reader. Up to four 8192-byte overlapped reads run ahead of
// the caller at 8192-aligned offsets into aligned slices of one buffer; read()
// hands their data out in file order and keeps the pipeline filled.
//
// One thread per object. A slice belongs to the system while its request is
// on the pending list; the destructor waits for every pending request before
// the buffer goes.
#include "io/file_reader.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>

#include "io/block_pool.h"
#include "io/event_pool.h"
#include "io/io_faults.h"
#include "io/platform.h"

#include "io/banned.h"

namespace {

// Four aligned 8192-byte slices fit in it wherever the allocation starts.
constexpr size_t BUFFER_BYTES = 0x9fff;
static_assert(BUFFER_BYTES >= (FileReader::REQUEST_COUNT + 1) * size_t{FileReader::BLOCK_SIZE} - 1);

constexpr DWORD READ_FLAGS = FILE_FLAG_OVERLAPPED | FILE_FLAG_NO_BUFFERING | FILE_ATTRIBUTE_NORMAL;
constexpr uint64_t BLOCK_MASK = ~uint64_t{FileReader::BLOCK_SIZE - 1};

HANDLE open_for_reading(const char* path, DWORD share, bool* converted) {
    return create_file(path, GENERIC_READ, share, OPEN_EXISTING, READ_FLAGS, true, converted);
}

}  // namespace

int FileReader::List::pop_front() {
    assert(count > 0);
    const int first = items[0];
    remove_at(0);
    return first;
}

void FileReader::List::remove_at(int at) {
    assert(at >= 0 && at < count);
    for (int i = at + 1; i < count; ++i) items[i - 1] = items[i];
    --count;
}

FileReader::FileReader(const char* path) {
    if (!path) return;
    takes_part_in_faults_ = takes_part_in_faults(path);
    handle_ = open_for_reading(path, FILE_SHARE_READ, &converted_path_);
    if (handle_ == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) {
        handle_ = open_for_reading(path, FILE_SHARE_READ | FILE_SHARE_WRITE, &converted_path_);
        shared_for_write_ = is_open();
    }
    if (!is_open()) return;

    buffer_ = static_cast<uint8_t*>(take_block_memory(BUFFER_BYTES));
    bool ready = buffer_ != nullptr;
    if (ready) {
        const uintptr_t first = (reinterpret_cast<uintptr_t>(buffer_) + BLOCK_SIZE - 1) & BLOCK_MASK;
        for (int i = 0; i < REQUEST_COUNT; ++i) {
            Request& request = requests_[i];
            request.event = take_event();
            request.slice = reinterpret_cast<uint8_t*>(first) + size_t{BLOCK_SIZE} * i;
            ready = ready && request.event != nullptr;
            empty_.push_back(i);
        }
    }
    if (!ready) {
        // Nothing was issued; the destructor frees what was made.
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return;
    }
    size_ = query_size();
}

FileReader::~FileReader() {
    for (int i = 0; i < pending_.count; ++i) WaitForSingleObject(requests_[pending_.items[i]].event, INFINITE);
    if (is_open()) CloseHandle(handle_);
    for (Request& request : requests_) {
        give_back_event(request.event);
    }
    give_back_block_memory(buffer_, BUFFER_BYTES);
}

uint64_t FileReader::query_size() const {
    DWORD high = 0;
    const DWORD low = GetFileSize(handle_, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return 0;
    const int64_t size = static_cast<int64_t>((uint64_t{high} << 32) | low);
    return size < 0 ? 0 : static_cast<uint64_t>(size);
}

uint64_t FileReader::size() {
    if (!is_open()) return 0;
    if (shared_for_write_) size_ = query_size();
    return size_;
}

bool FileReader::pending_covers(uint64_t offset) const {
    for (int i = 0; i < pending_.count; ++i) {
        const uint64_t start = requests_[pending_.items[i]].offset;
        if (offset >= start && offset - start < BLOCK_SIZE) return true;
    }
    return false;
}

void FileReader::collect_completed() {
    while (pending_.count > 0) {
        Request& request = requests_[pending_.front()];
        if (request.bytes == 0) {
            DWORD transferred = 0;
            if (!GetOverlappedResult(handle_, &request.overlapped, &transferred, FALSE)) break;
            request.bytes = transferred;
        }
        full_.push_back(pending_.pop_front());
    }
}

bool FileReader::issue_read() {
    collect_completed();
    if (empty_.count == 0) return true;
    readahead_position_ = std::max(readahead_position_, position_) & BLOCK_MASK;
    if (readahead_position_ >= size_) return true;

    const int index = empty_.pop_back();
    Request& request = requests_[index];
    // ReadFile resets the event itself when it starts the request.
    request.offset = readahead_position_;
    request.bytes = 0;
    std::memset(&request.overlapped, 0, sizeof(request.overlapped));
    request.overlapped.Offset = static_cast<DWORD>(request.offset);
    request.overlapped.OffsetHigh = static_cast<DWORD>(request.offset >> 32);
    request.overlapped.hEvent = event_without_port(request.event);
    readahead_position_ += BLOCK_SIZE;

    DWORD transferred = 0;
    BOOL ok = FALSE;
    DWORD error = NO_ERROR;
    if (takes_part_in_faults_ &&
        __atomic_add_fetch(&io_faults.reads_issued, 1, __ATOMIC_RELAXED) == io_faults.fail_read_at) {
        error = ERROR_READ_FAULT;
    } else {
        ok = ReadFile(handle_, request.slice, BLOCK_SIZE, &transferred, &request.overlapped);
        if (!ok) error = GetLastError();
    }
    if (ok ? transferred == 0 : error != ERROR_IO_PENDING) {
        // Nothing is in flight: the event must read as done for the destructor.
        SetEvent(request.event);
        empty_.push_back(index);
        return false;
    }
    request.bytes = ok ? transferred : 0;
    pending_.push_back(index);
    return true;
}

size_t FileReader::copy_buffered(uint8_t* out, size_t wanted, bool& at_end) {
    size_t copied = 0;
    int at = 0;
    while (at < full_.count && copied < wanted) {
        const int index = full_.items[at];
        const Request& request = requests_[index];
        const uint64_t data_end = request.offset + request.bytes;
        if (position_ < request.offset || position_ >= data_end) {
            // Position lies in this block but past its data: the file ended
            // early (it was cut while open).
            if (position_ >= request.offset && position_ - request.offset < BLOCK_SIZE) at_end = true;
            full_.remove_at(at);
            empty_.push_back(index);
            continue;
        }
        const size_t n = static_cast<size_t>(std::min<uint64_t>(wanted - copied, data_end - position_));
        std::memcpy(out + copied, request.slice + (position_ - request.offset), n);
        copied += n;
        position_ += n;
        if (position_ == data_end) {
            full_.remove_at(at);
            empty_.push_back(index);
        } else {
            ++at;
        }
    }
    return copied;
}

void FileReader::seek(uint64_t offset) {
    position_ = std::min(offset, size());
    if (!pending_covers(position_)) readahead_position_ = position_ & BLOCK_MASK;
}

size_t FileReader::read(void* buffer, size_t count) {
    if (!is_open()) return 0;
    const uint64_t end = size();
    if (position_ >= end) return 0;
    count = static_cast<size_t>(std::min<uint64_t>(count, end - position_));
    if (count == 0) return 0;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    bool at_end = false;
    if (error_) return copy_buffered(out, count, at_end);

    size_t copied = 0;
    for (;;) {
        copied += copy_buffered(out + copied, count - copied, at_end);
        const bool wanted = copied < count;
        if (wanted && at_end) break;
        if (wanted && position_ != readahead_position_ && !pending_covers(position_)) {
            readahead_position_ = position_;  // the caller moved away from the read-ahead
        }
        if (!issue_read()) {
            error_ = true;
            return copied;
        }
        if (!wanted) break;
        if (full_.count > 0) continue;
        if (pending_.count == 0) break;

        const int index = pending_.pop_front();
        Request& request = requests_[index];
        if (request.bytes == 0) {
            DWORD transferred = 0;
            if (!GetOverlappedResult(handle_, &request.overlapped, &transferred, TRUE)) transferred = 0;
            request.bytes = transferred;
        }
        if (request.bytes == 0) {
            empty_.push_back(index);
            error_ = true;
            return copied;
        }
        full_.push_back(index);
    }
    // Keep the read-ahead one step in front of the caller.
    if (!issue_read()) error_ = true;
    return copied;
}
