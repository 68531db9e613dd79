// Write-behind file writer: accepts data into a pool of 8192-byte blocks and
// lets the operating system write up to 16 of them in the background. One
// object belongs to one thread; a pending block's memory is never touched.
//
// Beyond plain writing it keeps a sticky failure flag and the count of bytes
// the system confirmed, so a caller that needs certainty (a save, a move, an
// archive) can tell a complete file from a damaged one.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

class FileWriter {
public:
    static constexpr uint32_t BLOCK_SIZE = 8192;
    static constexpr int INITIAL_BLOCKS = 16;
    static constexpr size_t PENDING_LIMIT = 16;

    // How the file is made: truncating an existing file, or only when no
    // file of that name exists (is_open() is then false and error() tells
    // ERROR_FILE_EXISTS).
    enum class Create { always, only_new };

    // A writer with no file: writes are refused.
    FileWriter() = default;
    // Creates path (UTF-8); see is_open().
    explicit FileWriter(const char* path, Create how = Create::always);
    // close().
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    bool is_open() const { return handle_ != INVALID_HANDLE_VALUE; }
    // Accepts count bytes; returns how many (all of them when open, 0 when not).
    size_t write(const void* data, size_t count);
    // final: writes the partly filled block too and waits for every pending
    // block; otherwise waits for the oldest pending block only.
    void flush(bool final);
    // Moves the write position forward by count bytes without writing them:
    // they read as zeros, and on a sparse file they take no room. The file
    // reaches at least the new position when it is closed.
    void skip(uint64_t count);
    // Asks the file system to keep unwritten ranges as holes (an NTFS
    // sparse file); where it cannot, the zeros take room as usual.
    void mark_sparse();
    // Flushes everything, sets the end of a file that ends in skipped bytes
    // and closes it. True when every accepted byte was written and the file
    // closed cleanly. Safe to call twice.
    bool close();
    // close(), having the system put the file on the disk before the handle
    // closes: a late failure (a network share, a removable drive) then fails
    // the close. For files whose loss would otherwise pass unseen: a finished
    // archive, and the copy whose source a move deletes.
    bool close_on_disk();

    // True once any write failed, fell short or the close failed, and when
    // the file could not be created.
    bool failed() const { return failed_; }
    // The system's error code of the first failure (ERROR_DISK_FULL for a
    // write the disk took only in part); NO_ERROR while none failed.
    DWORD error() const { return error_; }
    // Bytes the system confirmed as written.
    uint64_t bytes_written() const { return bytes_written_; }
    // Offset of the next block; the largest end offset written so far.
    uint64_t position() const { return position_; }
    uint64_t max_size() const { return max_size_; }
    size_t block_count() const { return block_count_; }
    // True when the path was converted for the UTF-16 API (with the long-path
    // prefix when it is 248 characters or longer).
    bool converted_path() const { return converted_path_; }

private:
    struct Block {
        uint8_t* storage;  // allocated 4095 bytes larger than BLOCK_SIZE
        uint8_t* data;     // storage aligned up to 4096
        uint32_t fill;
        uint64_t offset;
        OVERLAPPED overlapped;
        HANDLE event;
    };
    // An ordered list of blocks in a ring that only grows with the pool, so
    // moving blocks between lists never allocates.
    struct BlockQueue {
        Block** slots = nullptr;
        size_t capacity = 0;
        size_t head = 0;
        size_t count = 0;

        ~BlockQueue();
        bool reserve(size_t wanted);  // false when memory ran out
        bool empty() const { return count == 0; }
        size_t size() const { return count; }
        Block* front() const { return slots[head]; }
        void push_back(Block* block);
        Block* pop_front();
    };

    Block* add_block();
    void free_blocks();
    bool close_file(bool to_disk);
    // Writes the first empty block at position and advances position.
    void submit_first();
    // Starts writing block at offset; true when the write is now pending.
    bool start_write(Block* block, uint64_t offset);
    void finish(Block* block, BOOL ok, DWORD transferred, DWORD error);
    // Sets the failure flag, keeping the first error code.
    void fail(DWORD error);
    // Settles the oldest pending block (waiting for it when wait is set);
    // false when it is still in flight.
    bool reclaim_oldest(bool wait);

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    bool converted_path_ = false;
    bool takes_part_in_faults_ = true;  // the test seam counts this file's writes
    uint64_t position_ = 0;
    uint64_t max_size_ = 0;
    bool sparse_ = false;
    uint64_t bytes_written_ = 0;
    bool failed_ = false;
    DWORD error_ = NO_ERROR;
    size_t block_count_ = 0;
    BlockQueue empty_;
    BlockQueue pending_;
};

// FlushFileBuffers, through the fault seam for a file that takes part in it:
// false, with the reason as the last error, when the disk refused what the
// flush sent.
bool flush_to_disk(HANDLE file, bool takes_part_in_faults);
