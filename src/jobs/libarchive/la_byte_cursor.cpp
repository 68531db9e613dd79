// A bounded cursor over header bytes; see la_byte_cursor.h.
#include "jobs/libarchive/la_byte_cursor.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <utility>

#include "io/banned.h"

ByteCursor::ByteCursor(Pull pull, uint64_t limit) : pull_(std::move(pull)), limit_(limit) {}

ByteCursor::ByteCursor(const uint8_t* data, size_t size)
    : memory_(data), limit_(size), pulled_(size), window_(data), end_(size) {}

bool ByteCursor::fill() {
    assert(at_ == end_);
    if (failed_ || memory_ || pulled_ >= limit_) return false;
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(sizeof piece_, limit_ - pulled_));
    const size_t n = pull_(piece_, wanted);
    assert(n <= wanted);
    if (n == 0) {
        failed_ = true;
        return false;
    }
    pulled_ += n;
    at_ = 0;
    end_ = n;
    return true;
}

bool ByteCursor::byte(uint8_t* out) {
    if (at_ == end_ && !fill()) return false;
    *out = window_[at_++];
    ++taken_;
    return true;
}

bool ByteCursor::take(uint8_t* out, size_t count) {
    if (count > left()) return false;
    while (count > 0) {
        if (at_ == end_ && !fill()) return false;
        const size_t n = std::min(count, end_ - at_);
        std::memcpy(out, window_ + at_, n);
        out += n;
        at_ += n;
        taken_ += n;
        count -= n;
    }
    return true;
}

bool ByteCursor::skip(uint64_t count) {
    if (count > left()) return false;
    while (count > 0) {
        if (at_ == end_ && !fill()) return false;
        const size_t n = static_cast<size_t>(std::min<uint64_t>(count, end_ - at_));
        at_ += n;
        taken_ += n;
        count -= n;
    }
    return true;
}

bool ByteCursor::le32(uint32_t* out) {
    uint8_t b[4];
    if (!take(b, sizeof b)) return false;
    *out = uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
    return true;
}

bool ByteCursor::le64(uint64_t* out) {
    uint32_t low = 0;
    uint32_t high = 0;
    if (!le32(&low) || !le32(&high)) return false;
    *out = uint64_t{high} << 32 | low;
    return true;
}

bool ByteCursor::number_7z(uint64_t* out) {
    uint8_t first = 0;
    if (!byte(&first)) return false;
    int extra = 0;
    while (extra < 8 && (first & (0x80 >> extra))) ++extra;
    // The bits of the first byte below its marker are the value's highest.
    const uint64_t high = extra < 7 ? (first & ((0x80u >> extra) - 1)) : 0;
    uint64_t low = 0;
    for (int i = 0; i < extra; ++i) {
        uint8_t b = 0;
        if (!byte(&b)) return false;
        low |= uint64_t{b} << (8 * i);
    }
    *out = extra < 7 ? low | high << (8 * extra) : low;
    return true;
}

bool ByteCursor::vint(uint64_t* out) {
    uint64_t value = 0;
    for (int shift = 0; shift < 70; shift += 7) {
        uint8_t b = 0;
        if (!byte(&b)) return false;
        if (shift == 63 && (b & 0x7E)) return false;  // past 64 bits
        value |= uint64_t{b & 0x7Fu} << shift;
        if (!(b & 0x80)) {
            *out = value;
            return true;
        }
    }
    return false;
}
