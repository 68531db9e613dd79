// Growable byte buffers and the UTF-8 strings built on them. Every text inside
// the program is UTF-8 in a String; large byte buffers use a GrowBuffer with
// a granularity of 4096. Any thread may use its own buffers; nothing here is
// shared.
//
// Invariant: size <= capacity; storage is null exactly when capacity is 0.
#pragma once

#include <cstddef>
#include <cstdint>

struct GrowBuffer {
    explicit GrowBuffer(int64_t granularity = 4096) : granularity(granularity) {}
    ~GrowBuffer();
    GrowBuffer(const GrowBuffer&) = delete;
    GrowBuffer& operator=(const GrowBuffer&) = delete;

    // Sets the size to n (a negative n counts as 0) and takes new storage only
    // when the capacity is below n, or when shrink is set and n is below the
    // shrink limit; n = 0 then frees the storage. Contents up to the smaller
    // of the old and new sizes survive. Returns false when memory ran out; the
    // buffer then keeps its old storage and size.
    bool resize(int64_t n, bool shrink = false);

    // The capacity a resize to n > 0 would choose when it takes new storage.
    int64_t capacity_for(int64_t n) const;
    // The capacity below which a shrinking resize takes new storage.
    int64_t shrink_limit() const;

    uint8_t* storage = nullptr;
    int64_t capacity = 0;
    int64_t size = 0;
    const int64_t granularity;
};

// A zero-terminated UTF-8 string with a separate length. The buffer's size
// counts the terminating zero; an empty string has no storage and reads as "".
class String {
public:
    String() : buffer(128) {}
    String(const char* text) : buffer(128) { set(text); }  // NOLINT: implicit by design
    String(const String& other) : buffer(128) { set(other.c_str(), other.length()); }
    String& operator=(const String& other);

    const char* c_str() const { return buffer.size ? reinterpret_cast<const char*>(buffer.storage) : ""; }
    size_t length() const { return buffer.size ? static_cast<size_t>(buffer.size - 1) : 0; }
    bool empty() const { return length() == 0; }

    // Each returns false when memory ran out; the string is then unchanged.
    bool set(const char* text);
    bool set(const char* text, size_t length);
    bool append(const char* text);
    bool append(const char* text, size_t length);
    bool append_char(char c) { return append(&c, 1); }
    // Cuts the string to at most length bytes.
    void truncate(size_t length);
    // Frees the storage; the string reads as "" afterwards.
    void clear() { buffer.resize(0, true); }
    // Mutable bytes for callers that fill a string in place (length() bytes).
    char* data() { return reinterpret_cast<char*>(buffer.storage); }

private:
    GrowBuffer buffer;
};

// Concatenates two texts into a new String.
String concat(const char* a, const char* b);
String concat(const char* a, const char* b, const char* c);
