// The coders of a .7z, read from its headers before libarchive decodes
// anything: the signature header, then the next header, decoded first when
// it is packed (kEncodedHeader) with LZMA or LZMA2. Every size, offset and
// count in them may lie: the walk reads through a bounded cursor, stops at
// the first thing that does not fit, and gives what it has seen. Any one
// thread.
#include "jobs/libarchive/la_memory_walks.h"

#define LZMA_API_STATIC
#include <lzma.h>

#include <algorithm>
#include <cstring>

#include "io/file_reader.h"
#include "jobs/libarchive/la_byte_cursor.h"
#include "io/banned.h"

namespace {

const uint8_t SIGNATURE[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
constexpr uint64_t SIGNATURE_HEADER = 32;

// The property IDs the walk meets.
enum : uint8_t {
    END = 0x00, HEADER = 0x01, ARCHIVE_PROPERTIES = 0x02, ADDITIONAL_STREAMS = 0x03, MAIN_STREAMS = 0x04,
    PACK_INFO = 0x06, UNPACK_INFO = 0x07, SIZE = 0x09, CRC = 0x0A, FOLDER = 0x0B, CODERS_UNPACK_SIZE = 0x0C,
    ENCODED_HEADER = 0x17,
};

// 7-Zip's own bounds on a folder.
constexpr uint64_t MAX_CODERS = 64;
constexpr uint64_t MAX_STREAMS = 64;
constexpr size_t MAX_METHOD_ID = 15;  // the four bits of its size
constexpr size_t MAX_PROPERTIES = 16;  // longer ones are skipped, unread

// One coder of a folder, as far as the walk needs it.
struct Coder {
    uint8_t method[MAX_METHOD_ID] = {};
    size_t method_size = 0;
    uint8_t properties[MAX_PROPERTIES] = {};
    size_t properties_size = 0;  // 0 also when they were too long to keep

    bool is(const char* id, size_t size) const {
        return method_size == size && std::memcmp(method, id, size) == 0;
    }
    bool lzma() const { return is("\x03\x01\x01", 3); }
    bool lzma2() const { return is("\x21", 1); }
    bool ppmd() const { return is("\x03\x04\x01", 3); }
    bool aes() const { return is("\x06\xF1\x07\x01", 4); }
    uint32_t properties32() const {  // bytes 1-4: LZMA's dictionary, PPMd's memory
        return uint32_t{properties[1]} | uint32_t{properties[2]} << 8 | uint32_t{properties[3]} << 16 |
               uint32_t{properties[4]} << 24;
    }
};

// LZMA2's dictionary from its one property byte; 0 when the byte is past 40.
uint64_t lzma2_dictionary(uint8_t code) {
    if (code > 40) return 0;
    if (code == 40) return 0xFFFFFFFFu;
    return uint64_t{2u | (code & 1u)} << (code / 2 + 11);
}

// The dictionary (or PPMd model) a coder decodes with; 0 for the others.
uint64_t coder_dictionary(const Coder& coder) {
    if ((coder.lzma() || coder.ppmd()) && coder.properties_size >= 5) return coder.properties32();
    if (coder.lzma2() && coder.properties_size >= 1) return lzma2_dictionary(coder.properties[0]);
    return 0;
}

// What the walk saw of a folder.
struct Folder {
    uint64_t need = 0;  // its largest coder's memory, 0 when none has a dictionary
    bool encrypted = false;
    uint64_t coders = 0;
    uint64_t out_streams = 0;
    Coder first;
};

bool read_folder(ByteCursor& in, Folder* folder) {
    uint64_t in_streams = 0;
    if (!in.number_7z(&folder->coders) || folder->coders == 0 || folder->coders > MAX_CODERS) return false;
    for (uint64_t i = 0; i < folder->coders; ++i) {
        uint8_t flags = 0;
        Coder coder;
        if (!in.byte(&flags) || (flags & 0x80)) return false;  // alternative methods: never written
        coder.method_size = flags & 0x0Fu;
        if (!in.take(coder.method, coder.method_size)) return false;
        uint64_t ins = 1;
        uint64_t outs = 1;
        if ((flags & 0x10) && (!in.number_7z(&ins) || !in.number_7z(&outs))) return false;
        if (ins > MAX_STREAMS || outs > MAX_STREAMS) return false;
        in_streams += ins;
        folder->out_streams += outs;
        if (in_streams > MAX_STREAMS || folder->out_streams > MAX_STREAMS) return false;
        if (flags & 0x20) {
            uint64_t size = 0;
            if (!in.number_7z(&size)) return false;
            if (size <= MAX_PROPERTIES) {
                coder.properties_size = static_cast<size_t>(size);
                if (!in.take(coder.properties, coder.properties_size)) return false;
            } else if (!in.skip(size)) {
                return false;
            }
        }
        const uint64_t dictionary = coder_dictionary(coder);
        if (dictionary > 0) folder->need = std::max(folder->need, dictionary + DECODER_OVERHEAD);
        folder->encrypted = folder->encrypted || coder.aes();
        if (i == 0) folder->first = coder;
    }
    if (folder->out_streams == 0) return false;
    const uint64_t bind_pairs = folder->out_streams - 1;
    if (in_streams < bind_pairs) return false;
    uint64_t ignored = 0;
    for (uint64_t i = 0; i < bind_pairs; ++i) {
        if (!in.number_7z(&ignored) || !in.number_7z(&ignored)) return false;
    }
    const uint64_t packed = in_streams - bind_pairs;
    for (uint64_t i = 0; packed > 1 && i < packed; ++i) {
        if (!in.number_7z(&ignored)) return false;
    }
    return true;
}

// Skips a digest list of count streams.
bool skip_digests(ByteCursor& in, uint64_t count) {
    uint8_t all_defined = 0;
    if (!in.byte(&all_defined)) return false;
    uint64_t defined = count;
    if (!all_defined) {
        defined = 0;
        for (uint64_t i = 0; i < count; i += 8) {
            uint8_t bits = 0;
            if (!in.byte(&bits)) return false;
            if (count - i < 8) bits &= static_cast<uint8_t>(0xFF00u >> (count - i));
            for (; bits; bits &= static_cast<uint8_t>(bits - 1)) ++defined;
        }
    }
    return defined <= UINT64_MAX / 4 && in.skip(defined * 4);
}

// What the walk saw of a streams info: the memory of its folders, and of
// its first folder and first packed stream what decoding it takes.
struct Streams {
    uint64_t need = 0;
    uint64_t folders = 0;
    Folder first;
    uint64_t pack_position = 0;
    uint64_t first_pack_size = 0;   // 0 when not given
    uint64_t first_unpack_size = 0;  // the first folder's, 0 when not given
};

bool read_pack_info(ByteCursor& in, Streams* streams) {
    uint64_t count = 0;
    if (!in.number_7z(&streams->pack_position) || !in.number_7z(&count)) return false;
    for (;;) {
        uint8_t id = 0;
        if (!in.byte(&id)) return false;
        if (id == END) return true;
        if (id == SIZE) {
            for (uint64_t i = 0; i < count; ++i) {
                uint64_t size = 0;
                if (!in.number_7z(&size)) return false;
                if (i == 0) streams->first_pack_size = size;
            }
        } else if (id != CRC || !skip_digests(in, count)) {
            return false;
        }
    }
}

// Reads the folders; then, when sizes is set, the first folder's unpacked
// sizes (its one coder's is its whole).
bool read_unpack_info(ByteCursor& in, Streams* streams, bool sizes) {
    uint8_t id = 0;
    uint8_t external = 0;
    if (!in.byte(&id) || id != FOLDER || !in.number_7z(&streams->folders) || !in.byte(&external) || external != 0) {
        return false;
    }
    for (uint64_t i = 0; i < streams->folders; ++i) {
        Folder folder;
        if (!read_folder(in, &folder)) return false;
        streams->need = std::max(streams->need, folder.need);
        if (i == 0) streams->first = folder;
    }
    if (!sizes || streams->folders == 0) return true;
    if (!in.byte(&id) || id != CODERS_UNPACK_SIZE) return false;
    for (uint64_t i = 0; i < streams->first.out_streams; ++i) {
        uint64_t size = 0;
        if (!in.number_7z(&size)) return false;
        if (i == 0) streams->first_unpack_size = size;
    }
    return true;
}

// Walks a streams info as far as its folders (and, with sizes, the first
// folder's unpacked size): false when it did not read that far.
bool read_streams(ByteCursor& in, Streams* streams, bool sizes) {
    uint8_t id = 0;
    if (!in.byte(&id)) return false;
    if (id == PACK_INFO) {
        if (!read_pack_info(in, streams) || !in.byte(&id)) return false;
    }
    return id == UNPACK_INFO && read_unpack_info(in, streams, sizes);
}

// The largest need of the folders of a header, from the byte after its
// kHeader: those of its main streams, or of its additional streams when it
// has them (7-Zip writes none; the walk takes their folders and stops
// there). What it saw when the header stops early.
uint64_t walk_header(ByteCursor& in) {
    uint8_t id = 0;
    if (!in.byte(&id)) return 0;
    if (id == ARCHIVE_PROPERTIES) {
        for (;;) {
            uint8_t type = 0;
            uint64_t size = 0;
            if (!in.byte(&type)) return 0;
            if (type == END) break;
            if (!in.number_7z(&size) || !in.skip(size)) return 0;
        }
        if (!in.byte(&id)) return 0;
    }
    if (id != ADDITIONAL_STREAMS && id != MAIN_STREAMS) return 0;
    Streams streams;
    read_streams(in, &streams, false);
    return streams.need;
}

// Decodes a packed header: LZMA or LZMA2 from the file, into the pulls of
// a cursor. No more than the header's unpacked size is decoded, so the
// dictionary need not be larger than that: a sound stream refers to
// nothing before its own start.
class HeaderDecoder {
public:
    HeaderDecoder(FileReader& file, uint64_t packed_size) : file_(file), packed_left_(packed_size) {}
    ~HeaderDecoder() { lzma_end(&stream_); }
    HeaderDecoder(const HeaderDecoder&) = delete;
    HeaderDecoder& operator=(const HeaderDecoder&) = delete;

    // False when the coder is not one liblzma decodes raw, or it refuses.
    bool start(const Coder& coder, uint64_t unpacked_size) {
        lzma_options_lzma options = {};
        options.lc = LZMA_LC_DEFAULT;
        options.lp = LZMA_LP_DEFAULT;
        options.pb = LZMA_PB_DEFAULT;
        lzma_filter filters[2] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
        if (coder.lzma() && coder.properties_size >= 5) {
            unsigned packed = coder.properties[0];
            if (packed >= 9 * 5 * 5) return false;
            options.lc = packed % 9;
            packed /= 9;
            options.lp = packed % 5;
            options.pb = packed / 5;
            filters[0].id = LZMA_FILTER_LZMA1;
        } else if (!coder.lzma2() || coder.properties_size < 1) {
            return false;
        }
        const uint64_t dictionary = std::min(coder_dictionary(coder), unpacked_size);
        options.dict_size = static_cast<uint32_t>(std::max<uint64_t>(dictionary, LZMA_DICT_SIZE_MIN));
        return lzma_raw_decoder(&stream_, filters) == LZMA_OK;
    }

    size_t pull(uint8_t* to, size_t capacity) {
        stream_.next_out = to;
        stream_.avail_out = capacity;
        while (!ended_ && stream_.avail_out > 0) {
            if (stream_.avail_in == 0 && packed_left_ > 0) {
                const size_t n = file_.read(in_, static_cast<size_t>(std::min<uint64_t>(sizeof in_, packed_left_)));
                packed_left_ = n == 0 ? 0 : packed_left_ - n;
                stream_.next_in = in_;
                stream_.avail_in = n;
            }
            const size_t room = stream_.avail_out;
            const bool input = stream_.avail_in > 0;
            const lzma_ret status = lzma_code(&stream_, LZMA_RUN);
            // An error, the stream's end, or its input used up with nothing more to give.
            ended_ = status != LZMA_OK || (!input && stream_.avail_out == room);
        }
        return capacity - stream_.avail_out;
    }

private:
    FileReader& file_;
    uint64_t packed_left_;
    lzma_stream stream_ = LZMA_STREAM_INIT;
    uint8_t in_[4096];
    bool ended_ = false;
};

// The need of an encoded header: its own coder's and that of the folders
// of the header it decodes to; 0 when the header is encrypted.
uint64_t walk_encoded_header(FileReader& file, ByteCursor& in) {
    Streams header;
    if (!read_streams(in, &header, true) || header.folders == 0) return 0;
    if (header.first.encrypted) return 0;
    const uint64_t start = SIGNATURE_HEADER + header.pack_position;
    if (header.first.coders != 1 || start < header.pack_position || start > file.size() ||
        header.first_pack_size > file.size() - start) {
        return header.need;
    }
    file.seek(start);
    HeaderDecoder decoder(file, header.first_pack_size);
    const uint64_t unpacked = std::min(header.first_unpack_size, HEADER_READ_MAX);
    if (!decoder.start(header.first.first, unpacked)) return header.need;
    ByteCursor decoded([&decoder](uint8_t* to, size_t capacity) { return decoder.pull(to, capacity); }, unpacked);
    uint8_t id = 0;
    if (!decoded.byte(&id) || id != HEADER) return header.need;
    return std::max(header.need, walk_header(decoded));
}

}  // namespace

uint64_t seven_zip_memory_needed(FileReader& file) {
    const uint64_t size = file.size();
    if (size < SIGNATURE_HEADER) return 0;
    file.seek(0);
    uint8_t start[SIGNATURE_HEADER];
    if (file.read(start, sizeof start) != sizeof start || std::memcmp(start, SIGNATURE, sizeof SIGNATURE) != 0) {
        return 0;
    }
    ByteCursor fields(start + 12, 16);
    uint64_t offset = 0;
    uint64_t header_size = 0;
    if (!fields.le64(&offset) || !fields.le64(&header_size)) return 0;
    const uint64_t room = size - SIGNATURE_HEADER;
    if (header_size == 0 || offset > room || header_size > room - offset) return 0;
    file.seek(SIGNATURE_HEADER + offset);
    ByteCursor header([&file](uint8_t* to, size_t capacity) { return file.read(to, capacity); },
                      std::min(header_size, HEADER_READ_MAX));
    uint8_t id = 0;
    if (!header.byte(&id)) return 0;
    if (id == ENCODED_HEADER) return walk_encoded_header(file, header);
    return id == HEADER ? walk_header(header) : 0;
}
