// Read-ahead file reader: keeps up to four 8192-byte overlapped reads in
// flight ahead of the caller, so disk reads overlap the caller's work. One
// object belongs to one thread; the operating system's background reads are
// the only concurrency, and a request's slice is never touched while pending.
//
// Invariant: every request is in exactly one of the empty, pending and full
// lists; readahead_position is a multiple of 8192.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

class FileReader {
public:
    static constexpr uint32_t BLOCK_SIZE = 8192;
    static constexpr int REQUEST_COUNT = 4;

    // Opens path (UTF-8) for reading; never fails loudly: see is_open().
    explicit FileReader(const char* path);
    // Waits for every pending read, then closes the file.
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    bool is_open() const { return handle_ != INVALID_HANDLE_VALUE; }
    // The file's size; queried again on each call when the file had to be
    // opened with write sharing. 0 when not open.
    uint64_t size();
    // Copies up to count bytes; returns how many (0 at the end of the file,
    // when not open, or after an error once the buffered data is used up).
    size_t read(void* buffer, size_t count);
    // Bytes already handed to the caller.
    uint64_t position() const { return position_; }
    // Moves the read position to offset (at most the file's size): the next
    // read reads from there, and blocks read ahead elsewhere are dropped.
    void seek(uint64_t offset);
    // True once any read failed.
    bool failed() const { return error_; }
    // True when the file was opened with write sharing.
    bool shared_for_write() const { return shared_for_write_; }
    // True when the path was converted for the UTF-16 API (with the long-path
    // prefix when it is 248 characters or longer).
    bool converted_path() const { return converted_path_; }

private:
    struct Request {
        OVERLAPPED overlapped;
        HANDLE event;
        uint64_t offset;
        DWORD bytes;  // delivered bytes; 0 while pending
        uint8_t* slice;
    };
    // A small ordered list of request indices.
    struct List {
        int items[REQUEST_COUNT];
        int count = 0;
        void push_back(int i) { items[count++] = i; }
        int front() const { return items[0]; }
        int pop_front();
        int pop_back() { return items[--count]; }
        void remove_at(int at);
    };

    bool issue_read();  // false on error
    void collect_completed();
    // Copies buffered data at position into out (step a of a read); sets
    // at_end when a completed request ended short of position.
    size_t copy_buffered(uint8_t* out, size_t wanted, bool& at_end);
    bool pending_covers(uint64_t offset) const;
    uint64_t query_size() const;

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    uint64_t size_ = 0;
    bool shared_for_write_ = false;
    bool converted_path_ = false;
    bool takes_part_in_faults_ = true;  // the test seam counts this file's reads
    uint64_t position_ = 0;
    uint64_t readahead_position_ = 0;
    bool error_ = false;
    uint8_t* buffer_ = nullptr;
    Request requests_[REQUEST_COUNT] = {};
    List empty_, pending_, full_;
};
