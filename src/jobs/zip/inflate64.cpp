// The Deflate64 decoder; see inflate64.h. Codes are decoded through tables:
// a root table indexed by the next ROOT bits of the input, with sub-tables
// for the longer codes. Bits come from a 64-bit buffer refilled eight bytes
// at a time; decoded bytes go into one buffer that holds the 64 KiB window
// before them, handed on and slid down once a chunk has built up.
//
// Invariant: bits above count_ in bits_ are zero or the bits of the input
// bytes at next_ on; at the start of every symbol out_ <= FLUSH_AT, so a
// symbol's bytes always fit.
#include "jobs/zip/inflate64.h"

#include <cassert>
#include <cstring>

#include "io/banned.h"

namespace {

constexpr uint32_t WINDOW = 65536;
constexpr uint32_t LONGEST_MATCH = 65538;
constexpr uint32_t LONGEST_STORED = 65535;
constexpr uint32_t CHUNK = 256 * 1024;
constexpr uint32_t FLUSH_AT = WINDOW + CHUNK;
constexpr size_t COPY_SLACK = 8;  // a match may copy up to 7 bytes past its end
constexpr size_t OUTPUT_BYTES = FLUSH_AT + LONGEST_MATCH + COPY_SLACK;
constexpr size_t TABLES_AT = (OUTPUT_BYTES + 15) & ~size_t{15};

constexpr unsigned MAX_BITS = 15;
constexpr unsigned LITLEN_ROOT = 10;
constexpr unsigned DIST_ROOT = 8;
constexpr unsigned CODELEN_ROOT = 7;
constexpr unsigned LITLEN_SYMBOLS = 288;
constexpr unsigned DIST_SYMBOLS = 32;
constexpr unsigned CODELEN_SYMBOLS = 19;
// A root table and, at the most, a sub-table of the longest code's size for
// every symbol.
constexpr size_t LITLEN_ENTRIES = (1u << LITLEN_ROOT) + LITLEN_SYMBOLS * (1u << (MAX_BITS - LITLEN_ROOT));
constexpr size_t DIST_ENTRIES = (1u << DIST_ROOT) + DIST_SYMBOLS * (1u << (MAX_BITS - DIST_ROOT));
constexpr size_t CODELEN_ENTRIES = 1u << CODELEN_ROOT;
// The fixed code's longest codes fit the roots: its tables have no
// sub-tables. They are built once and kept apart from the tables of the
// dynamic blocks, so a stream of tiny fixed blocks costs no table building.
constexpr size_t FIXED_LITLEN_ENTRIES = 1u << LITLEN_ROOT;
constexpr size_t FIXED_DIST_ENTRIES = 1u << DIST_ROOT;
constexpr size_t MEMORY_BYTES =
    TABLES_AT + 4 * (LITLEN_ENTRIES + DIST_ENTRIES + CODELEN_ENTRIES + FIXED_LITLEN_ENTRIES + FIXED_DIST_ENTRIES);

// A table entry: bits 0-7 the code's whole length; bits 8-15 zero for a
// symbol, the index bits of the sub-table it leads to, or NO_CODE; bits
// 16-31 the symbol, or the sub-table's first index.
constexpr uint32_t NO_CODE = 0xff;
constexpr uint32_t NO_CODE_ENTRY = NO_CODE << 8;
constexpr uint32_t symbol_entry(unsigned symbol, unsigned length) { return symbol << 16 | length; }
constexpr uint32_t link_entry(size_t index, unsigned bits) { return static_cast<uint32_t>(index) << 16 | bits << 8; }

constexpr unsigned END_OF_BLOCK = 256;
constexpr unsigned FIRST_LENGTH = 257;
constexpr unsigned LENGTH_CODES = 29;
const uint16_t LENGTH_BASE[LENGTH_CODES] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                            31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3};
const uint8_t LENGTH_EXTRA[LENGTH_CODES] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                            2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16};
const uint32_t DIST_BASE[DIST_SYMBOLS] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                          49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                          2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
const uint8_t DIST_EXTRA[DIST_SYMBOLS] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,  6,
                                          7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
const uint8_t CODELEN_ORDER[CODELEN_SYMBOLS] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

unsigned reversed(unsigned code, unsigned length) {
    unsigned out = 0;
    for (unsigned i = 0; i < length; ++i, code >>= 1) out = out << 1 | (code & 1);
    return out;
}

// Builds the table of the canonical code of the given lengths (count of
// them, at most LITLEN_SYMBOLS). False when the lengths ask for more codes
// than their bits hold. An incomplete code is taken: what it leaves out
// decodes as NO_CODE.
bool build_table(const uint8_t* lengths, unsigned count, unsigned root, uint32_t* table, size_t capacity) {
    unsigned per_length[MAX_BITS + 1] = {};
    for (unsigned s = 0; s < count; ++s) ++per_length[lengths[s]];
    per_length[0] = 0;
    int left = 1;
    for (unsigned length = 1; length <= MAX_BITS; ++length) {
        left = 2 * left - static_cast<int>(per_length[length]);
        if (left < 0) return false;
    }
    unsigned next_code[MAX_BITS + 1] = {};
    for (unsigned length = 1; length < MAX_BITS; ++length) {
        next_code[length + 1] = (next_code[length] + per_length[length]) << 1;
    }
    const uint32_t root_size = 1u << root;
    for (uint32_t i = 0; i < root_size; ++i) table[i] = NO_CODE_ENTRY;
    uint16_t codes[LITLEN_SYMBOLS] = {};
    uint8_t longest[1u << LITLEN_ROOT] = {};
    for (unsigned s = 0; s < count; ++s) {
        const unsigned length = lengths[s];
        if (length == 0) continue;
        const unsigned code = reversed(next_code[length]++, length);
        codes[s] = static_cast<uint16_t>(code);
        if (length > root) {
            uint8_t& most = longest[code & (root_size - 1)];
            if (length > most) most = static_cast<uint8_t>(length);
            continue;
        }
        for (uint32_t i = code; i < root_size; i += 1u << length) table[i] = symbol_entry(s, length);
    }
    size_t used = root_size;
    for (uint32_t prefix = 0; prefix < root_size; ++prefix) {
        if (longest[prefix] == 0) continue;
        const unsigned bits = longest[prefix] - root;
        if (used + (size_t{1} << bits) > capacity) return false;
        table[prefix] = link_entry(used, bits);
        for (size_t i = 0; i < (size_t{1} << bits); ++i) table[used + i] = NO_CODE_ENTRY;
        used += size_t{1} << bits;
    }
    for (unsigned s = 0; s < count; ++s) {
        const unsigned length = lengths[s];
        if (length <= root) continue;
        const uint32_t link = table[codes[s] & (root_size - 1)];
        const uint32_t first = link >> 16;
        const unsigned bits = (link >> 8) & 0xff;
        for (uint32_t i = codes[s] >> root; i < (1u << bits); i += 1u << (length - root)) {
            table[first + i] = symbol_entry(s, length);
        }
    }
    return true;
}

// One run of the decoder over one stream.
class Decoder {
public:
    // fixed_built tells whether memory already holds the fixed code's
    // tables (from an earlier run); it is set once they are built.
    Decoder(const InflateStreams& streams, uint8_t* memory, bool& fixed_built)
        : streams_(streams),
          window_(memory),
          litlen_(reinterpret_cast<uint32_t*>(memory + TABLES_AT)),
          dist_(litlen_ + LITLEN_ENTRIES),
          codelen_(dist_ + DIST_ENTRIES),
          fixed_litlen_(codelen_ + CODELEN_ENTRIES),
          fixed_dist_(fixed_litlen_ + FIXED_LITLEN_ENTRIES),
          fixed_built_(fixed_built) {}

    InflateEnd run();

private:
    // Whether the bits used so far reach into the zeros added after the
    // input's end.
    bool overran() const { return count_ < padding_; }
    InflateEnd damaged_or_short() const { return overran() ? InflateEnd::cut_short : InflateEnd::damaged; }

    bool more_input();
    // Leaves at least 57 bits in the buffer: the input's, or zeros after its end.
    void refill() {
        if (count_ > 56) return;
        if (end_ - next_ >= 8) {
            uint64_t bytes;
            std::memcpy(&bytes, next_, 8);
            bits_ |= bytes << count_;
            next_ += (63 - count_) >> 3;
            count_ |= 56;
            return;
        }
        refill_slowly();
    }
    void refill_slowly();
    void drop(unsigned n) {
        bits_ >>= n;
        count_ -= n;
    }
    uint32_t take(unsigned n) {
        const uint32_t value = static_cast<uint32_t>(bits_ & ((uint64_t{1} << n) - 1));
        drop(n);
        return value;
    }
    // The next symbol of the code in table; false for a bit pattern that is
    // no code.
    bool decode(const uint32_t* table, unsigned root, unsigned& symbol) {
        uint32_t entry = table[bits_ & ((1u << root) - 1)];
        const unsigned link = (entry >> 8) & 0xff;
        if (link != 0) {
            if (link == NO_CODE) return false;
            entry = table[(entry >> 16) + ((bits_ >> root) & ((1u << link) - 1))];
            if (((entry >> 8) & 0xff) == NO_CODE) return false;
        }
        drop(entry & 0xff);
        symbol = entry >> 16;
        return true;
    }
    bool flush();

    InflateEnd stored_block();
    InflateEnd fixed_block();
    InflateEnd dynamic_block();
    InflateEnd codes(const uint32_t* litlen, const uint32_t* dist);

    const InflateStreams& streams_;
    uint8_t* window_;
    uint32_t* litlen_;
    uint32_t* dist_;
    uint32_t* codelen_;
    uint32_t* fixed_litlen_;
    uint32_t* fixed_dist_;
    bool& fixed_built_;
    const uint8_t* next_ = nullptr;
    const uint8_t* end_ = nullptr;
    bool input_ended_ = false;
    uint64_t bits_ = 0;
    unsigned count_ = 0;
    unsigned padding_ = 0;  // zero bits added to the buffer after the input's end
    size_t out_ = 0;        // where the next decoded byte goes
    size_t handed_on_ = 0;  // bytes before this one were handed on
};

bool Decoder::more_input() {
    while (!input_ended_) {
        const uint8_t* data = nullptr;
        size_t size = 0;
        if (!streams_.next_input(streams_.context, &data, &size)) {
            input_ended_ = true;
        } else if (size > 0) {
            next_ = data;
            end_ = data + size;
            return true;
        }
    }
    return false;
}

void Decoder::refill_slowly() {
    while (count_ <= 56) {
        if (next_ == end_ && !more_input()) {
            padding_ += 8;
        } else {
            bits_ |= static_cast<uint64_t>(*next_++) << count_;
        }
        count_ += 8;
    }
}

// Hands on what was decoded since the last time, and keeps only the window
// before the next byte.
bool Decoder::flush() {
    if (out_ > handed_on_ && !streams_.put_output(streams_.context, window_ + handed_on_, out_ - handed_on_)) {
        return false;
    }
    if (out_ > WINDOW) {
        std::memmove(window_, window_ + out_ - WINDOW, WINDOW);
        out_ = WINDOW;
    }
    handed_on_ = out_;
    return true;
}

InflateEnd Decoder::stored_block() {
    drop(count_ & 7);
    refill();
    uint32_t length = take(16);
    const uint32_t complement = take(16);
    if (overran()) return InflateEnd::cut_short;
    if (length != (~complement & 0xffff)) return InflateEnd::damaged;
    if (out_ > FLUSH_AT && !flush()) return InflateEnd::stopped;
    static_assert(FLUSH_AT + LONGEST_STORED <= OUTPUT_BYTES, "a stored block fits after a flush");
    // Whole bytes still in the bit buffer come first, then the input's.
    for (; length > 0 && count_ >= 8; --length) {
        window_[out_++] = static_cast<uint8_t>(take(8));
        if (overran()) return InflateEnd::cut_short;
    }
    // The buffer may still hold bits of bytes that the copy below moves past.
    if (count_ == 0) bits_ = 0;
    while (length > 0) {
        if (next_ == end_ && !more_input()) return InflateEnd::cut_short;
        const size_t n = static_cast<size_t>(end_ - next_) < length ? static_cast<size_t>(end_ - next_) : length;
        std::memcpy(window_ + out_, next_, n);
        out_ += n;
        next_ += n;
        length -= static_cast<uint32_t>(n);
    }
    return InflateEnd::whole;
}

InflateEnd Decoder::fixed_block() {
    if (!fixed_built_) {
        uint8_t lengths[LITLEN_SYMBOLS + DIST_SYMBOLS];
        for (unsigned s = 0; s < LITLEN_SYMBOLS; ++s) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        for (unsigned s = 0; s < DIST_SYMBOLS; ++s) lengths[LITLEN_SYMBOLS + s] = 5;
        fixed_built_ = build_table(lengths, LITLEN_SYMBOLS, LITLEN_ROOT, fixed_litlen_, FIXED_LITLEN_ENTRIES) &&
                       build_table(lengths + LITLEN_SYMBOLS, DIST_SYMBOLS, DIST_ROOT, fixed_dist_, FIXED_DIST_ENTRIES);
        assert(fixed_built_);
    }
    return codes(fixed_litlen_, fixed_dist_);
}

InflateEnd Decoder::dynamic_block() {
    refill();
    const unsigned litlen_count = take(5) + FIRST_LENGTH;
    const unsigned dist_count = take(5) + 1;
    const unsigned codelen_count = take(4) + 4;
    uint8_t codelen_lengths[CODELEN_SYMBOLS] = {};
    for (unsigned i = 0; i < codelen_count; ++i) {
        refill();
        codelen_lengths[CODELEN_ORDER[i]] = static_cast<uint8_t>(take(3));
    }
    if (overran()) return InflateEnd::cut_short;
    if (!build_table(codelen_lengths, CODELEN_SYMBOLS, CODELEN_ROOT, codelen_, CODELEN_ENTRIES)) {
        return InflateEnd::damaged;
    }
    uint8_t lengths[LITLEN_SYMBOLS + DIST_SYMBOLS] = {};
    const unsigned total = litlen_count + dist_count;
    for (unsigned i = 0; i < total;) {
        refill();
        unsigned symbol = 0;
        if (!decode(codelen_, CODELEN_ROOT, symbol)) return damaged_or_short();
        if (symbol < 16) {
            lengths[i++] = static_cast<uint8_t>(symbol);
            continue;
        }
        if (symbol == 16 && i == 0) return InflateEnd::damaged;
        const uint8_t value = symbol == 16 ? lengths[i - 1] : 0;
        const unsigned repeat = symbol == 16 ? 3 + take(2) : symbol == 17 ? 3 + take(3) : 11 + take(7);
        if (overran()) return InflateEnd::cut_short;
        if (i + repeat > total) return InflateEnd::damaged;
        for (unsigned r = 0; r < repeat; ++r) lengths[i++] = value;
    }
    if (overran()) return InflateEnd::cut_short;
    if (lengths[END_OF_BLOCK] == 0) return InflateEnd::damaged;
    if (!build_table(lengths, litlen_count, LITLEN_ROOT, litlen_, LITLEN_ENTRIES) ||
        !build_table(lengths + litlen_count, dist_count, DIST_ROOT, dist_, DIST_ENTRIES)) {
        return InflateEnd::damaged;
    }
    return codes(litlen_, dist_);
}

// The symbols of a block up to its end: whole when it ended.
InflateEnd Decoder::codes(const uint32_t* litlen, const uint32_t* dist) {
    for (;;) {
        if (out_ > FLUSH_AT && !flush()) return InflateEnd::stopped;
        refill();
        unsigned symbol = 0;
        if (!decode(litlen, LITLEN_ROOT, symbol)) return damaged_or_short();
        if (symbol < END_OF_BLOCK) {
            if (overran()) return InflateEnd::cut_short;
            window_[out_++] = static_cast<uint8_t>(symbol);
            continue;
        }
        if (symbol == END_OF_BLOCK) return overran() ? InflateEnd::cut_short : InflateEnd::whole;
        symbol -= FIRST_LENGTH;
        if (symbol >= LENGTH_CODES) return damaged_or_short();
        const uint32_t length = LENGTH_BASE[symbol] + take(LENGTH_EXTRA[symbol]);
        refill();
        if (!decode(dist, DIST_ROOT, symbol)) return damaged_or_short();
        const uint32_t distance = DIST_BASE[symbol] + take(DIST_EXTRA[symbol]);
        if (overran()) return InflateEnd::cut_short;
        // Before the first slide the buffer holds every byte decoded; after
        // it, the whole window. Either way this is the reach.
        if (distance > out_) return InflateEnd::damaged;
        uint8_t* to = window_ + out_;
        const uint8_t* from = to - distance;
        out_ += length;
        if (distance >= 8) {
            for (uint32_t done = 0; done < length; done += 8) std::memcpy(to + done, from + done, 8);
        } else if (distance == 1) {
            std::memset(to, *from, length);
        } else {
            for (uint32_t i = 0; i < length; ++i) to[i] = from[i];
        }
    }
}

InflateEnd Decoder::run() {
    for (;;) {
        refill();
        const bool last = take(1) != 0;
        const uint32_t type = take(2);
        if (overran()) return InflateEnd::cut_short;
        const InflateEnd end = type == 0   ? stored_block()
                               : type == 1 ? fixed_block()
                               : type == 2 ? dynamic_block()
                                           : InflateEnd::damaged;
        if (end != InflateEnd::whole) return end;
        if (last) return flush() ? InflateEnd::whole : InflateEnd::stopped;
    }
}

}  // namespace

InflateEnd Inflate64::run(const InflateStreams& streams) {
    if (memory_.size < static_cast<int64_t>(MEMORY_BYTES)) {
        if (!memory_.resize(MEMORY_BYTES)) return InflateEnd::no_memory;
        fixed_built_ = false;
    }
    Decoder decoder(streams, memory_.storage, fixed_built_);
    return decoder.run();
}
