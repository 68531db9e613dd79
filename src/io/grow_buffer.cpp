#include "io/grow_buffer.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>

#include "io/io_faults.h"
#include "io/banned.h"

namespace {

int64_t round_down_4096(int64_t n) { return n & ~int64_t{4095}; }

}  // namespace

GrowBuffer::~GrowBuffer() { std::free(storage); }

int64_t GrowBuffer::capacity_for(int64_t n) const {
    assert(n > 0);
    int64_t slack = std::max(n / 2, granularity);
    if (granularity < 4096) return n + slack;
    slack = std::clamp(round_down_4096(slack), int64_t{4096}, int64_t{4194304});
    return round_down_4096(n + 96 + slack) - 96;
}

int64_t GrowBuffer::shrink_limit() const {
    return std::max(int64_t{1}, std::min(capacity / 2, capacity - 4 * granularity));
}

bool GrowBuffer::resize(int64_t n, bool shrink) {
    if (n < 0) n = 0;
    const bool take_new = capacity < n || (shrink && n < shrink_limit());
    if (!take_new) {
        size = n;
        return true;
    }
    if (n == 0) {
        std::free(storage);
        storage = nullptr;
        capacity = 0;
        size = 0;
        return true;
    }
    const int64_t new_capacity = capacity_for(n);
    if (io_faults.fail_growth_from > 0 && new_capacity >= io_faults.fail_growth_from) return false;
    auto* grown = static_cast<uint8_t*>(std::realloc(storage, static_cast<size_t>(new_capacity)));
    if (!grown) {
        grown = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(new_capacity)));
        if (!grown) return false;
        if (storage) std::memcpy(grown, storage, static_cast<size_t>(std::min(size, n)));
        std::free(storage);
    }
    storage = grown;
    capacity = new_capacity;
    size = n;
    return true;
}

String& String::operator=(const String& other) {
    if (this != &other) set(other.c_str(), other.length());
    return *this;
}

bool String::set(const char* text) { return set(text, std::strlen(text)); }

bool String::set(const char* text, size_t length) {
    if (length == 0) {
        clear();
        return true;
    }
    // text may point into this string's own storage.
    if (text >= c_str() && text < c_str() + this->length()) {
        std::memmove(buffer.storage, text, length);
        truncate(length);
        return true;
    }
    if (!buffer.resize(static_cast<int64_t>(length) + 1)) return false;
    std::memcpy(buffer.storage, text, length);
    buffer.storage[length] = 0;
    return true;
}

bool String::append(const char* text) { return append(text, std::strlen(text)); }

bool String::append(const char* text, size_t count) {
    if (count == 0) return true;
    const size_t old_length = length();
    const bool inside = buffer.storage && text >= c_str() && text < c_str() + old_length;
    const size_t inside_offset = inside ? static_cast<size_t>(text - c_str()) : 0;
    if (!buffer.resize(static_cast<int64_t>(old_length + count) + 1)) return false;
    const char* source = inside ? c_str() + inside_offset : text;
    std::memmove(buffer.storage + old_length, source, count);
    buffer.storage[old_length + count] = 0;
    return true;
}

void String::truncate(size_t new_length) {
    if (new_length >= length()) return;
    if (new_length == 0) {
        clear();
        return;
    }
    buffer.resize(static_cast<int64_t>(new_length) + 1);
    buffer.storage[new_length] = 0;
}

String concat(const char* a, const char* b) {
    String s(a);
    s.append(b);
    return s;
}

String concat(const char* a, const char* b, const char* c) {
    String s(a);
    s.append(b);
    s.append(c);
    return s;
}
