// Deflate64 decoding: Deflate with a 64 KiB window, where length code 285
// takes 16 extra bits on a base of 3 (lengths up to 65,538) and distance
// codes 30 and 31 take 14 extra bits on bases 32,769 and 49,153. A stream of
// any length is decoded in bounded memory: the decoder pulls compressed
// pieces from its input and hands decoded pieces on. One object belongs to
// one thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "io/grow_buffer.h"

// The two ends of a decoding.
struct InflateStreams {
    // Points *data at the next piece of compressed bytes (*size of them,
    // valid until the next call); false when the input has ended.
    bool (*next_input)(void* context, const uint8_t** data, size_t* size);
    // Takes size decoded bytes; false stops the decoding (a cancel, a
    // failed write).
    bool (*put_output)(void* context, const uint8_t* data, size_t size);
    void* context;
};

// How a decoding ended.
enum class InflateEnd {
    whole,      // the stream's last block ended; every byte was handed on
    damaged,    // the data breaks the format
    cut_short,  // the input ended inside the stream
    stopped,    // put_output refused a piece
    no_memory,  // the window could not be had
};

class Inflate64 {
public:
    // Decodes one stream from its first block to its last block's end;
    // input after that is left unread.
    InflateEnd run(const InflateStreams& streams);

private:
    GrowBuffer memory_;  // the window and the code tables (about 450 KiB), kept from run to run
    bool fixed_built_ = false;  // memory_ holds the fixed code's tables
};
