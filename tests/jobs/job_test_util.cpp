#include "job_test_util.h"

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>
#include <zstd.h>

#include "io/file_reader.h"
#include "io/file_writer.h"
#include "jobs/frame/directory_scan.h"
#include "jobs/frame/job_paths.h"

#include <algorithm>
#include <vector>

void write_tree(const std::string& folder, const Tree& tree) {
    create_directory(folder.c_str());
    for (const auto& [path, bytes] : tree) {
        if (!path.empty() && path.back() == '\\') {
            create_folders_below(folder, path.substr(0, path.size() - 1));
            continue;
        }
        const size_t slash = path.rfind('\\');
        if (slash != std::string::npos) create_folders_below(folder, path.substr(0, slash));
        FileWriter writer((folder + path).c_str());
        writer.write(bytes.data(), bytes.size());
    }
}

void walk_tree(const std::string& folder,
               const std::function<void(const std::string&, const char*, bool)>& visit) {
    std::vector<std::string> pending = {folder};
    String path;
    while (!pending.empty()) {
        const std::string level = pending.back();
        pending.pop_back();
        DirectoryScan scan;
        if (!scan.first(level.c_str())) continue;
        do {
            if (scan.is_dot_entry()) continue;
            scan.full_path(path);
            const std::string relative = std::string(path.c_str()).substr(folder.size());
            visit(scan.is_directory() ? relative + "\\" : relative, path.c_str(), scan.is_directory());
            if (scan.is_directory()) pending.push_back(path.c_str());
        } while (scan.next());
    }
}

Tree read_tree(const std::string& folder) {
    Tree tree;
    walk_tree(folder, [&](const std::string& relative, const char* path, bool is_folder) {
        if (is_folder) {
            tree[relative] = "";
            return;
        }
        FileReader reader(path);
        std::string bytes(static_cast<size_t>(reader.size()), '\0');
        if (!bytes.empty()) bytes.resize(reader.read(&bytes[0], bytes.size()));
        tree[relative] = bytes;
    });
    return tree;
}

std::string pattern_bytes(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        // Half text-like, half noise, so compression has work of both kinds.
        bytes[i] = (i / 4096) % 2 ? static_cast<char>(state >> 24) : static_cast<char>('a' + (state >> 27) % 16);
    }
    return bytes;
}

Tree sample_tree() {
    return {
        {"empty folder\\", ""},
        {"nested\\", ""},
        {"nested\\deeper\\", ""},
        {"nested\\deeper\\deepest\\", ""},
        {"zero.txt", ""},
        {"notes v1.2.txt", "version one point two\n"},
        {"nested\\deeper\\deepest\\leaf.bin", pattern_bytes(70000, 1)},
        {"nested\\r\xC3\xA9sum\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC.txt", "non-ASCII name\n"},
        {"nested\\big.dat", pattern_bytes(300000, 2)},
        {".hidden", "dot file"},
    };
}

::testing::AssertionResult same_tree(const Tree& expected, const Tree& actual) {
    for (const auto& [name, bytes] : expected) {
        const auto found = actual.find(name);
        if (found == actual.end()) return ::testing::AssertionFailure() << "missing " << name;
        if (found->second != bytes) return ::testing::AssertionFailure() << "different bytes in " << name;
    }
    for (const auto& entry : actual) {
        if (!expected.count(entry.first)) return ::testing::AssertionFailure() << "unexpected " << entry.first;
    }
    return ::testing::AssertionSuccess();
}

// The entries of a .tzst as a reader of its own sees them: name to data
// (folders end in /). Empty when the frame or the tarball does not read.
std::map<std::string, std::string> tzst_entries(const std::string& packed) {
    std::map<std::string, std::string> entries;
    std::string tarball;
    ZSTD_DCtx* dctx = ZSTD_createDCtx();
    ZSTD_inBuffer in = {packed.data(), packed.size(), 0};
    std::string out(1 << 17, '\0');
    while (in.pos < in.size) {
        ZSTD_outBuffer o = {&out[0], out.size(), 0};
        if (ZSTD_isError(ZSTD_decompressStream(dctx, &o, &in))) break;
        tarball.append(out.data(), o.pos);
    }
    ZSTD_freeDCtx(dctx);
    archive* reader = archive_read_new();
    archive_read_support_format_tar(reader);
    archive_read_support_format_gnutar(reader);
    archive_read_open_memory(reader, tarball.data(), tarball.size());
    archive_entry* entry = nullptr;
    while (archive_read_next_header(reader, &entry) == ARCHIVE_OK) {
        std::string data;
        char block[8192];
        la_ssize_t n;
        while ((n = archive_read_data(reader, block, sizeof(block))) > 0) data.append(block, static_cast<size_t>(n));
        std::string name = archive_entry_pathname(entry);
        if (archive_entry_filetype(entry) == AE_IFDIR && name.back() != '/') name += '/';
        entries[name] = data;
    }
    archive_read_free(reader);
    return entries;
}

std::string frame_with_window(unsigned window_log, const std::string& data) {
    std::string frame("\x28\xB5\x2F\xFD", 4);
    frame += '\0';  // no content size, no checksum, not a single segment
    frame += static_cast<char>((window_log - 10) << 3);
    constexpr size_t BLOCK = 128 * 1024;
    size_t at = 0;
    do {
        const size_t n = std::min(BLOCK, data.size() - at);
        const uint32_t header = static_cast<uint32_t>(n << 3) | (at + n == data.size() ? 1u : 0u);
        frame += static_cast<char>(header & 0xff);
        frame += static_cast<char>((header >> 8) & 0xff);
        frame += static_cast<char>(header >> 16);
        frame.append(data, at, n);
        at += n;
    } while (at < data.size());
    return frame;
}

std::string le32(uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
    return s;
}

std::string le64(uint64_t v) { return le32(static_cast<uint32_t>(v)) + le32(static_cast<uint32_t>(v >> 32)); }

std::string vint(uint64_t v) {
    std::string s;
    do {
        s += static_cast<char>((v & 0x7F) | (v > 0x7F ? 0x80 : 0));
        v >>= 7;
    } while (v);
    return s;
}

uint32_t crc_of(const std::string& bytes) {
    return static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
}

void read_three_ways(const std::string& path, ThreeReadings* readings) {
    readings->listed = list_archive(path.c_str(), [readings](const ListedEntry& entry) {
        readings->names.push_back(entry.name);
    });
    readings->test->job_inputs = make_selection_list({path});
    run_job(*readings->test, JobKind::test);
    readings->extraction->job_inputs = make_selection_list({path});
    run_job(*readings->extraction, JobKind::decompress);
}
