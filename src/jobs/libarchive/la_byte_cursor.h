// A cursor over the bytes of an archive's header, pulled a piece at a time
// from wherever they come (a file, a decoder, memory) and never past a
// limit: every read and skip fails, and keeps failing, once the header or
// its source is used up. The number encodings of 7z and RAR5 read through
// it. One object belongs to one thread.
//
// Invariant: at_ <= end_ <= sizeof piece_; taken_ + (end_ - at_) never
// exceeds the limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

class ByteCursor {
public:
    // Fills up to capacity bytes at to; how many (0 at the source's end or
    // on a failure).
    using Pull = std::function<size_t(uint8_t* to, size_t capacity)>;

    // At most limit bytes from pull.
    ByteCursor(Pull pull, uint64_t limit);
    // The size bytes at data, which the caller keeps for the cursor's life.
    ByteCursor(const uint8_t* data, size_t size);
    ByteCursor(const ByteCursor&) = delete;
    ByteCursor& operator=(const ByteCursor&) = delete;

    // Each returns false (its output unspecified) when the bytes ran out.
    bool byte(uint8_t* out);
    bool take(uint8_t* out, size_t count);
    bool skip(uint64_t count);
    bool le32(uint32_t* out);
    bool le64(uint64_t* out);
    // 7z's UINT64: the first byte's leading ones count the bytes after it.
    bool number_7z(uint64_t* out);
    // RAR5's vint: seven bits a byte, low first, the high bit saying more
    // follow; at most ten bytes, and false for a value past 64 bits.
    bool vint(uint64_t* out);

    // The bytes read or skipped so far.
    uint64_t taken() const { return taken_; }
    // The bytes left before the limit (some may be missing at the source).
    uint64_t left() const { return limit_ - taken_; }

private:
    bool fill();

    Pull pull_;
    const uint8_t* memory_ = nullptr;
    uint64_t limit_;
    uint64_t pulled_ = 0;  // bytes had from the source so far
    uint64_t taken_ = 0;
    uint8_t piece_[4096];
    const uint8_t* window_ = piece_;  // piece_, or memory_ for a cursor over memory
    size_t at_ = 0;
    size_t end_ = 0;
    bool failed_ = false;
};
