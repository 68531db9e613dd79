// velmora-fuzz: mutates seed inputs and feeds them, in this process, to the
// extraction of every archive family (ZIP, .tzst, tarballs in gzip, bzip2
// and xz, 7z, RAR, single gzip files), to the preferences parser, to the
// editor's load_text and to the Deflate64 decoder, for a bounded time.
//
//   velmora-fuzz [--seconds N] [--seed S] [--findings FOLDER] [--seeds FOLDER]
//                [--target TARGET]
//   velmora-fuzz --replay TARGET FILE
//   velmora-fuzz --self-test
//   velmora-fuzz --write-seeds FOLDER
//   TARGET: zip, tzst, tgz, tbz2, txz, 7z, rar, gz, prefs, editor or deflate64
//
// Seeds are made here: small archives packed by the program's own jobs (and
// a copy of one whose entries are marked Deflate64, and of one whose tarball
// is cut into frames of 8 KiB), the preferences texts,
// a few texts with CR, LF, tabs and a BOM, and Deflate streams of zlib's
// three block kinds that read the same as Deflate64; tarballs and 7z
// archives written by libarchive and RAR 4 and 5 archives written byte by
// byte (fuzz_seeds.h), hostile names among them. --seeds adds every file of
// FOLDER whose extension is a target's name (.zip, .tzst, .7z, ...) to that
// target's seeds; --write-seeds writes the seeds made here into FOLDER. Every seed runs once as it
// is; then each iteration applies one to four mutations (bit flips, byte
// changes, inserts, deletes, truncation, splicing with another seed).
//
// An archive of an archive target is listed (list_archive), tested
// (the test job) and extracted, and the three accounts must agree (see
// fuzz_agreement.h); a run cancelled at its bound is not compared.
//
// Findings, each saved with the input as FOLDER\<kind>-<target>-<n>.bin and
// its one-line account beside it as .txt:
//   crash    an unhandled exception (the filter saves the input and exits 3)
//   hang     one input running longer than 30 s (a watchdog saves it, exits 4)
//   escape   an extraction that left something outside its scratch folder
//   residue  an extraction whose scratch folder could not be emptied
//   disagree list, test and extraction disagree (only the first few inputs
//            of each kind of disagreement are saved; all are counted)
// --replay runs one input through the same checks, saves nothing and
// prints what list, test and extraction said. --self-test checks the
// comparison against made-up accounts and runs every seed once.
// Exit code: 0 no findings, 1 findings, 2 bad usage, 3 crash, 4 hang.
#include <windows.h>

#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "editor/cell_editor.h"
#include "editor/cell_screen.h"
#include "fuzz_agreement.h"
#include "fuzz_seeds.h"
#include "fuzz_self_test.h"
#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io/platform.h"
#include "jobs/worker/archive_inspect.h"
#include "jobs/worker/job_worker.h"
#include "jobs/frame/directory_scan.h"
#include "jobs/zip/inflate64.h"
#include "jobs/frame/job_paths.h"
#include "prefs/preferences.h"

namespace {

enum Target { ZIP, TZST, TGZ, TBZ2, TXZ, SEVEN_ZIP, RAR, GZ, PREFS, EDITOR, DEFLATE64, TARGET_COUNT };
const char* const TARGET_NAMES[TARGET_COUNT] = {"zip", "tzst", "tgz", "tbz2", "txz", "7z", "rar", "gz",
                                                "prefs", "editor", "deflate64"};

// True for the targets that are archives: listed, tested and extracted.
bool is_archive_target(Target target) { return target <= GZ; }
// The name the archive is written under in the work folder: a.<target>.
std::string archive_leaf(Target target) { return std::string("a.") + TARGET_NAMES[target]; }
enum Kind { CRASH, HANG, ESCAPE, RESIDUE, DISAGREE, KIND_COUNT };
const char* const KIND_NAMES[KIND_COUNT] = {"crash", "hang", "escape", "residue", "disagree"};

int target_index(const char* name) {
    for (int t = 0; t < TARGET_COUNT; ++t) {
        if (std::strcmp(name, TARGET_NAMES[t]) == 0) return t;
    }
    return -1;
}

// Inputs kept beside the seeds.
constexpr size_t CORPUS_LIMIT = 256;
// Inputs saved of each kind of disagreement; the rest are counted.
constexpr uint64_t SAVED_PER_DISAGREEMENT = 3;
constexpr size_t INPUT_LIMIT = 1 << 20;
constexpr DWORD EXTRACT_BOUND_MS = 30000;
constexpr ULONGLONG HANG_MS = 30000;
// A Deflate64 stream may decode to a thousand times its size: the output is
// counted, not kept, and refused past this.
constexpr size_t DEFLATE64_OUTPUT_LIMIT = size_t{64} << 20;
constexpr size_t DEFLATE64_KEPT_OUTPUT = 65536;
constexpr size_t DEFLATE64_KEPT_INPUT = 4096;

// What the crash filter and the watchdog save: set before every run.
std::string findings_folder;
const std::string* current_input = nullptr;
std::atomic<int> current_target{0};
std::atomic<ULONGLONG> run_started{0};
std::atomic<uint64_t> runs_begun{0};
char crash_path[1024];

// Saves the current input with plain Win32 calls (the filter may run on what
// is left of an overflowed stack).
void save_current(const char* kind) {
    const std::string* input = current_input;
    std::snprintf(crash_path, sizeof(crash_path), "%s\\%s-%s-%lu.bin", findings_folder.c_str(), kind,
                  TARGET_NAMES[current_target.load()], static_cast<unsigned long>(GetTickCount()));
    HANDLE file = CreateFileA(crash_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    if (input && !input->empty()) WriteFile(file, input->data(), static_cast<DWORD>(input->size()), &written, nullptr);
    CloseHandle(file);
}

LONG WINAPI on_crash(EXCEPTION_POINTERS* info) {
    save_current("crash");
    std::fprintf(stderr, "velmora-fuzz: crash 0x%08lx in %s, input saved as %s\n",
                 static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode), TARGET_NAMES[current_target.load()],
                 crash_path);
    std::fflush(stderr);
    ExitProcess(3);
}

DWORD WINAPI watchdog(void*) {
    for (;;) {
        Sleep(1000);
        const ULONGLONG started = run_started.load();
        if (started && GetTickCount64() - started > HANG_MS) {
            save_current("hang");
            std::fprintf(stderr, "velmora-fuzz: %s ran over %llu s, input saved as %s\n",
                         TARGET_NAMES[current_target.load()], HANG_MS / 1000, crash_path);
            std::fflush(stderr);
            ExitProcess(4);
        }
    }
}

std::wstring wide_path(const std::string& path) {
    WideText wide(path.c_str(), path.size(), true);
    wide.make_long_path();
    return wide.ok() ? std::wstring(wide.c_str()) : std::wstring();
}

// Removes everything below folder (not folder itself); false when something stayed.
bool empty_folder(const std::string& folder) {
    bool all = true;
    DirectoryScan scan;
    if (!scan.first(folder.c_str())) return true;
    std::vector<std::pair<std::string, bool>> names;
    String path;
    do {
        if (scan.is_dot_entry()) continue;
        scan.full_path(path);
        names.emplace_back(path.c_str(), scan.is_directory());
    } while (scan.next());
    scan.close();
    for (const auto& name : names) {
        const std::wstring wide = wide_path(name.first);
        SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (name.second) {
            all = empty_folder(name.first + "\\") && all;
            all = RemoveDirectoryW(wide.c_str()) && all;
        } else {
            all = DeleteFileW(wide.c_str()) && all;
        }
    }
    return all;
}

// The names directly inside folder.
std::set<std::string> names_in(const std::string& folder) {
    std::set<std::string> out;
    DirectoryScan scan;
    if (!scan.first(folder.c_str())) return out;
    String path;
    do {
        if (!scan.is_dot_entry()) {
            scan.full_path(path);
            out.insert(path.c_str());
        }
    } while (scan.next());
    return out;
}

std::string read_all(const std::string& path) {
    FileReader reader(path.c_str());
    std::string bytes(static_cast<size_t>(reader.size()), '\0');
    if (!bytes.empty()) bytes.resize(reader.read(&bytes[0], bytes.size()));
    return bytes;
}

bool write_all(const std::string& path, const std::string& bytes) {
    FileWriter writer(path.c_str());
    writer.write(bytes.data(), bytes.size());
    return writer.close();
}

std::string temp_folder() {
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    String base;
    wide_to_utf8(temp, base);
    std::string out = base.c_str();
    if (out.empty() || out.back() != '\\') out += '\\';
    return out;
}

// A name as the file system compares it, in UTF-8: read as the platform
// layer reads a path (UTF-8 when it is valid, else the ANSI code page) and
// upper-cased.
std::string fold_name(const std::string& text) {
    std::wstring wide;
    if (is_valid_utf8(text.c_str(), text.size())) {
        const WideText converted(text.c_str(), text.size());
        if (converted.ok()) wide.assign(converted.c_str(), converted.length());
    } else if (text.size() < 0x10000000) {
        const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
        wide.resize(static_cast<size_t>(n > 0 ? n : 0));
        if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    }
    if (wide.empty()) return "";
    CharUpperBuffW(&wide[0], static_cast<DWORD>(wide.size()));
    const int length = static_cast<int>(wide.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, &out[0], n, nullptr, nullptr);
    return out;
}

// Every file and folder below folder (ending in \), with paths relative to
// it, folders before what they hold.
void walk_found(const std::string& folder, const std::string& relative, std::vector<FoundItem>& out) {
    std::vector<FoundItem> here;
    {
        DirectoryScan scan;
        if (!scan.first((folder + relative).c_str())) return;
        String path;
        do {
            if (scan.is_dot_entry()) continue;
            scan.full_path(path);
            const std::string full = path.c_str();
            const std::string name = full.substr(full.rfind('\\') + 1);
            here.push_back(FoundItem{relative + name, scan.is_directory() ? 0 : scan.size(), scan.is_directory()});
        } while (scan.next());
    }
    for (const FoundItem& item : here) {
        out.push_back(item);
        if (item.folder) walk_found(folder, item.relative + "\\", out);
    }
}

// Decodes a Deflate64 stream handed over in pieces of up to 4,096 bytes;
// what it gives is counted into *counted, and kept in *out when given.
InflateEnd run_deflate64(Inflate64& decoder, const std::string& input, std::string* out, size_t* counted) {
    struct Ends {
        const std::string& in;
        size_t at;
        size_t counted;
        std::string* out;
    } ends{input, 0, 0, out};
    const InflateStreams streams = {
        [](void* context, const uint8_t** data, size_t* size) {
            auto& e = *static_cast<Ends*>(context);
            if (e.at == e.in.size()) return false;
            *size = std::min<size_t>(4096, e.in.size() - e.at);
            *data = reinterpret_cast<const uint8_t*>(e.in.data()) + e.at;
            e.at += *size;
            return true;
        },
        [](void* context, const uint8_t* data, size_t size) {
            auto& e = *static_cast<Ends*>(context);
            if (e.out) e.out->append(reinterpret_cast<const char*>(data), size);
            e.counted += size;
            return e.counted <= DEFLATE64_OUTPUT_LIMIT;
        },
        &ends};
    const InflateEnd end = decoder.run(streams);
    *counted = ends.counted;
    return end;
}

// Raw Deflate of bytes at a level and strategy ("" when zlib fails).
std::string deflate_raw(const std::string& bytes, int level, int strategy) {
    return fuzz_seeds::deflated(bytes, level, -MAX_WBITS, strategy);
}

// The bytes a Zstandard stream decodes to ("" when it does not decode whole).
std::string zstd_decoded(const std::string& stream) {
    ZSTD_DCtx* dctx = ZSTD_createDCtx();
    if (!dctx) return "";
    std::string out;
    char piece[65536];
    ZSTD_inBuffer in = {stream.data(), stream.size(), 0};
    size_t result = 1;
    while (in.pos < in.size || result != 0) {
        ZSTD_outBuffer buffer = {piece, sizeof(piece), 0};
        result = ZSTD_decompressStream(dctx, &buffer, &in);
        if (ZSTD_isError(result) || (buffer.pos == 0 && in.pos == in.size && result != 0)) {
            out.clear();
            break;
        }
        out.append(piece, buffer.pos);
    }
    ZSTD_freeDCtx(dctx);
    return out;
}

// bytes as a stream of one Zstandard frame (level 1) per piece ("" when
// the library fails).
std::string zstd_frames(const std::string& bytes, size_t piece, bool checksum) {
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    if (!cctx) return "";
    std::string out;
    const bool set = !ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, 1)) &&
                     !ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, checksum ? 1 : 0));
    for (size_t at = 0; set && at < bytes.size(); at += piece) {
        const size_t size = std::min(piece, bytes.size() - at);
        std::string frame(ZSTD_compressBound(size), '\0');
        const size_t made = ZSTD_compress2(cctx, &frame[0], frame.size(), bytes.data() + at, size);
        if (ZSTD_isError(made)) {
            out.clear();
            break;
        }
        out.append(frame.data(), made);
    }
    ZSTD_freeCCtx(cctx);
    return set ? out : "";
}

// A ZIP archive with its Deflate entries marked Deflate64 (method 9) in
// both headers: their data reads the same unless it holds a 258-byte match.
std::string marked_deflate64(std::string zip) {
    for (size_t at = 0; at + 12 <= zip.size(); ++at) {
        const bool local = zip.compare(at, 4, "PK\x03\x04") == 0;
        const bool central = zip.compare(at, 4, "PK\x01\x02") == 0;
        const size_t method = at + (local ? 8 : 10);
        if ((local || central) && zip[method] == 8 && zip[method + 1] == 0) zip[method] = 9;
    }
    return zip;
}

struct Job {
    Job() : job(create_archive_job_without_worker()) {
        job->keep_tarball = false;
    }
    ~Job() { destroy_archive_job(job); }
    ArchiveJob* job;
};

DWORD WINAPI serve_thread(void* job) {
    serve_one_request(*static_cast<ArchiveJob*>(job));
    return 0;
}

// Serves the request on a thread of its own with a 64 MiB stack; false when
// it did not end within the bound (the job is then cancelled and waited for).
bool serve_bounded(ArchiveJob& job) {
    HANDLE thread = CreateThread(nullptr, size_t{64} << 20, serve_thread, &job, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) return false;
    const bool ended = WaitForSingleObject(thread, EXTRACT_BOUND_MS) == WAIT_OBJECT_0;
    if (!ended) {
        set_cancel_requested(job, true);
        WaitForSingleObject(thread, INFINITE);
    }
    CloseHandle(thread);
    return ended;
}

struct Tally {
    uint64_t runs = 0;
    uint64_t complete = 0;
    uint64_t failed = 0;
    uint64_t cancelled = 0;
    uint64_t compared = 0;  // archives whose three accounts were compared
    uint64_t findings[KIND_COUNT] = {};
    std::map<std::string, uint64_t> disagreements;  // by kind of disagreement
};

class Fuzzer {
public:
    // replaying: findings are printed, not saved, and the accounts of an
    // archive are printed.
    Fuzzer(uint32_t seed, const std::string& findings, bool replaying)
        : random_(seed), findings_(findings), replaying_(replaying) {
        scratch_ = temp_folder() + "velmora-fuzz-" + std::to_string(GetCurrentProcessId()) + "\\";
        create_directory(scratch_.c_str());
        empty_folder(scratch_);
        work_ = scratch_ + "x\\";
        create_directory(work_.c_str());
    }
    ~Fuzzer() {
        empty_folder(scratch_);
        RemoveDirectoryW(wide_path(scratch_).c_str());
    }

    void make_seeds();
    // Seeds of the families libarchive reads: written by libarchive, and RAR by hand.
    void make_libarchive_seeds(const std::string& noise);
    // Adds the files of folder whose extension is a target's name to that
    // target's seeds; returns how many.
    size_t add_seed_folder(const std::string& folder);
    // Ends the seeds: what is added from now on may be replaced.
    void seal_seeds() {
        for (int t = 0; t < TARGET_COUNT; ++t) seed_count_[t] = corpus_[t].size();
    }
    const std::vector<std::string>& corpus(Target target) const { return corpus_[target]; }
    // One input through one target; returns false on a finding.
    bool run(Target target, const std::string& input, bool* interesting);
    std::string mutate(Target target);
    // Keeps an input that still parses or extracts.
    void add(Target target, std::string input) {
        auto& corpus = corpus_[target];
        if (corpus.size() < seed_count_[target] + CORPUS_LIMIT) {
            corpus.push_back(std::move(input));
        } else {
            corpus[seed_count_[target] + random_() % CORPUS_LIMIT] = std::move(input);
        }
    }
    size_t corpus_size(Target target) const { return corpus_[target].size(); }
    Tally tally[TARGET_COUNT];
    uint64_t findings = 0;
    std::mt19937 random_;

private:
    std::string pack(const std::string& folder, uint32_t compressor, int level, bool checksum);
    bool check_archive(Target target, const std::string& input, bool* interesting);
    // Runs one request of a new job record on the archive to its end or its
    // bound, into account; test chooses the test job over extraction.
    // Returns the job's outcome.
    JobOutcome run_job_on(const std::string& archive, bool test, JobAccount& account);
    // Notes a finding and saves its input.
    void finding(Kind kind, Target target, const std::string& input, const std::string& detail);
    // Notes an input whose accounts disagree; of each kind of disagreement
    // only the first few inputs are saved.
    void disagreement(Target target, const std::string& input, const std::vector<Disagreement>& found);
    void save_finding(Kind kind, Target target, const std::string& input, const std::string& detail,
                      const std::string& category);
    void print_accounts(const Accounts& accounts) const;

    std::string findings_;
    uint64_t saved_ = 0;
    bool replaying_;
    std::string scratch_;
    std::string work_;
    Inflate64 inflate64_;
    std::vector<std::string> corpus_[TARGET_COUNT];
    size_t seed_count_[TARGET_COUNT] = {};
};

void Fuzzer::disagreement(Target target, const std::string& input, const std::vector<Disagreement>& found) {
    ++findings;
    ++tally[target].findings[DISAGREE];
    for (const Disagreement& d : found) {
        if (++tally[target].disagreements[d.category] <= SAVED_PER_DISAGREEMENT || replaying_) {
            save_finding(DISAGREE, target, input, d.category + ": " + d.detail, d.category);
        }
    }
}

void Fuzzer::finding(Kind kind, Target target, const std::string& input, const std::string& detail) {
    ++findings;
    ++tally[target].findings[kind];
    save_finding(kind, target, input, detail, "");
}

void Fuzzer::save_finding(Kind kind, Target target, const std::string& input, const std::string& detail,
                          const std::string& category) {
    if (replaying_) {
        std::printf("FINDING %s in %s: %s\n", KIND_NAMES[kind], TARGET_NAMES[target], detail.c_str());
        std::fflush(stdout);
        return;
    }
    char path[1024];
    std::snprintf(path, sizeof(path), "%s\\%s-%s-%llu", findings_.c_str(), KIND_NAMES[kind], TARGET_NAMES[target],
                  static_cast<unsigned long long>(++saved_));
    write_all(std::string(path) + ".bin", input);
    write_all(std::string(path) + ".txt", (category.empty() ? "" : category + "\n") + detail + "\n");
    std::printf("FINDING %s in %s: %s (input %s.bin)\n", KIND_NAMES[kind], TARGET_NAMES[target], detail.c_str(), path);
    std::fflush(stdout);
}

std::string Fuzzer::pack(const std::string& folder, uint32_t compressor, int level, bool checksum) {
    Job job;
    job.job->compressor = compressor;
    if (compressor == 0) job.job->zlib_level = level;
    if (compressor == 1) job.job->zstd_level = level;
    job.job->zstd_checksum = checksum ? 1 : 0;
    submit_compress_folder(*job.job, folder.c_str());
    serve_bounded(*job.job);
    if (static_cast<JobOutcome>(job.job->outcome.load()) != JobOutcome::complete) {
        std::fprintf(stderr, "velmora-fuzz: could not pack a seed (%s)\n", folder.c_str());
        return "";
    }
    const std::string archive = job.job->output_path.c_str();
    std::string bytes = read_all(archive);
    DeleteFileW(wide_path(archive).c_str());
    return bytes;
}

void Fuzzer::make_libarchive_seeds(const std::string& noise) {
    using fuzz_seeds::Entries;
    const Entries tree = {{"sub/", ""}, {"a.txt", "hello\r\nworld\n"}, {"empty.bin", ""},
                          {"sub/caf\xc3\xa9.txt", std::string(300, 'x')}, {"sub/noise.bin", noise}};
    // Names that must stay inside the destination.
    const Entries hostile = {{"../escaped.txt", "up"}, {"/abs.txt", "absolute"}, {"con.txt", "device"},
                             {"a:b.txt", "colon"}, {"ok.txt", "fine"}};
    const struct {
        Target target;
        int (*filter)(archive*);
    } tarballs[] = {{TGZ, archive_write_add_filter_gzip},
                    {TBZ2, archive_write_add_filter_bzip2},
                    {TXZ, archive_write_add_filter_xz}};
    for (const auto& t : tarballs) {
        for (const Entries* entries : {&tree, &hostile}) {
            const std::string bytes = fuzz_seeds::libarchive_archive(*entries, archive_write_set_format_pax_restricted, t.filter);
            if (!bytes.empty()) add(t.target, bytes);
        }
    }
    for (const Entries* entries : {&tree, &hostile}) {
        const std::string bytes = fuzz_seeds::libarchive_archive(*entries, archive_write_set_format_7zip, nullptr, true);
        if (!bytes.empty()) add(SEVEN_ZIP, bytes);
    }
    const Entries files = {{"a.txt", "hello\r\nworld\n"}, {"sub\\noise.bin", noise.substr(0, 5000)}, {"../up.txt", "x"}};
    add(RAR, fuzz_seeds::rar4_stored(files));
    add(RAR, fuzz_seeds::rar5_stored(files));
    add(GZ, fuzz_seeds::gzip_of(noise));
    add(GZ, fuzz_seeds::gzip_of("hello") + fuzz_seeds::gzip_of(" world"));
}

void Fuzzer::make_seeds() {
    const std::string tree = scratch_ + "seed";
    create_directory(tree.c_str());
    create_directory((tree + "\\sub").c_str());
    create_directory((tree + "\\sub\\empty").c_str());
    write_all(tree + "\\a.txt", "hello\r\nworld\n");
    write_all(tree + "\\empty.bin", "");
    write_all(tree + "\\sub\\caf\xc3\xa9 n\xc3\xa4me.txt", std::string(300, 'x'));
    std::string noise(70000, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 2654435761u) >> 13);
    write_all(tree + "\\sub\\noise.bin", noise);
    for (int level : {0, 1, 9}) {
        std::string bytes = pack(tree, 0, level, false);
        if (!bytes.empty()) add(ZIP, std::move(bytes));
    }
    if (!corpus_[ZIP].empty()) add(ZIP, marked_deflate64(corpus_[ZIP].back()));
    for (int level : {1, 3}) {
        for (bool checksum : {false, true}) {
            std::string bytes = pack(tree, 1, level, checksum);
            if (!bytes.empty()) add(TZST, std::move(bytes));
        }
    }
    // The same tarball in frames of 8 KiB: damage in one frame leaves the
    // entries of those before it readable, so that listings break off
    // after some entries and single entries are cut short.
    if (!corpus_[TZST].empty()) {
        const std::string tarball = zstd_decoded(corpus_[TZST].front());
        for (bool checksum : {false, true}) {
            const std::string framed = zstd_frames(tarball, 8192, checksum);
            if (!framed.empty()) add(TZST, framed);
        }
    }
    make_libarchive_seeds(noise);
    // A one-file archive keeps mutations close to the headers.
    const std::string one = scratch_ + "one";
    create_directory(one.c_str());
    write_all(one + "\\t.txt", "abc");
    add(ZIP, pack(one, 0, 0, false));
    add(TZST, pack(one, 1, 1, false));
    empty_folder(scratch_);
    create_directory(work_.c_str());

    const String defaults = default_preferences_text();
    const String stub = user_preferences_stub();
    add(PREFS, std::string(defaults.c_str(), defaults.length()));
    add(PREFS, std::string(stub.c_str(), stub.length()));
    add(PREFS, "\xEF\xBB\xBF" + std::string(defaults.c_str(), defaults.length()));
    std::string crlf;
    for (const char* c = defaults.c_str(); *c; ++c) {
        if (*c == '\n') crlf += '\r';
        crlf += *c;
    }
    add(PREFS, crlf);

    add(EDITOR, "");
    add(EDITOR, "one line");
    add(EDITOR, "a\nb\r\nc\rd\n\n\r\n");
    add(EDITOR, "\xEF\xBB\xBF" "bom\r\nline\r\n");
    add(EDITOR, "\tindented\n\t\tdeeper\n    spaces\n\t \tmixed\n");
    add(EDITOR, "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xff\xfe bad \xc3\n");
    add(EDITOR, std::string(5000, 'w') + "\n" + std::string(70000, 'y'));
    add(EDITOR, crlf);

    // Dynamic and fixed blocks of lines that never repeat 258 bytes, and
    // stored blocks of noise; kept when they read as Deflate64 to what they
    // hold.
    std::string lines;
    for (int i = 0; i < 3000; ++i) lines += "line " + std::to_string(i * 7919 % 10007) + " of the seed text\r\n";
    const struct {
        const std::string& text;
        int level;
        int strategy;
    } streams[] = {{lines, 1, Z_DEFAULT_STRATEGY}, {lines, 9, Z_DEFAULT_STRATEGY}, {lines, 9, Z_FIXED},
                   {noise, 0, Z_DEFAULT_STRATEGY}};
    for (const auto& stream : streams) {
        const std::string packed = deflate_raw(stream.text, stream.level, stream.strategy);
        std::string decoded;
        size_t counted = 0;
        if (run_deflate64(inflate64_, packed, &decoded, &counted) == InflateEnd::whole && decoded == stream.text) {
            add(DEFLATE64, packed);
        }
    }
}

size_t Fuzzer::add_seed_folder(const std::string& folder) {
    size_t added = 0;
    DirectoryScan scan;
    if (!scan.first(folder.c_str())) return 0;
    String path;
    do {
        if (scan.is_dot_entry() || scan.is_directory()) continue;
        scan.full_path(path);
        std::string extension = path_extension(path.c_str());
        for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const int target = extension.empty() ? -1 : target_index(extension.c_str() + 1);
        if (target < 0) continue;
        if (scan.size() > INPUT_LIMIT) {
            std::printf("seed %s left out: over %zu bytes\n", path.c_str(), INPUT_LIMIT);
            continue;
        }
        corpus_[target].push_back(read_all(path.c_str()));
        ++added;
    } while (scan.next());
    return added;
}

std::string Fuzzer::mutate(Target target) {
    const auto& corpus = corpus_[target];
    std::string out = corpus[random_() % corpus.size()];
    const auto below = [&](size_t n) { return n ? static_cast<size_t>(random_() % n) : 0; };
    static const uint8_t INTERESTING[] = {0, 1, 0x7f, 0x80, 0xff, 0xfe, '\r', '\n', '\t', '/', '\\', '.', ':', '"', '='};
    const int count = 1 + static_cast<int>(random_() % 4);
    for (int m = 0; m < count; ++m) {
        switch (random_() % 8) {
            case 0:  // bit flip
                if (!out.empty()) out[below(out.size())] ^= static_cast<char>(1u << (random_() % 8));
                break;
            case 1:  // a byte of interest or a random one
                if (!out.empty()) {
                    out[below(out.size())] = static_cast<char>(
                        random_() % 2 ? INTERESTING[random_() % sizeof(INTERESTING)] : random_() & 0xff);
                }
                break;
            case 2: {  // insert bytes
                std::string bytes(1 + below(16), '\0');
                for (char& c : bytes) c = static_cast<char>(random_() & 0xff);
                out.insert(below(out.size() + 1), bytes);
                break;
            }
            case 3:  // delete a run
                if (!out.empty()) {
                    const size_t at = below(out.size());
                    out.erase(at, 1 + below(std::min<size_t>(64, out.size() - at)));
                }
                break;
            case 4:  // truncate
                out.resize(below(out.size() + 1));
                break;
            case 5: {  // splice with another input of the same target
                const std::string& other = corpus[random_() % corpus.size()];
                out = out.substr(0, below(out.size() + 1)) + other.substr(below(other.size() + 1));
                break;
            }
            case 6:  // a 16- or 32-bit field set to an extreme
                if (out.size() >= 4) {
                    const size_t at = below(out.size() - 3);
                    static const uint32_t EXTREMES[] = {0, 0xffffffffu, 0x7fffffffu, 0x80000000u, 0xffffu, 1};
                    const uint32_t value = EXTREMES[random_() % 6];
                    std::memcpy(&out[at], &value, random_() % 2 ? 2 : 4);
                }
                break;
            default:  // repeat a chunk
                if (!out.empty()) {
                    const size_t at = below(out.size());
                    const std::string chunk = out.substr(at, 1 + below(256));
                    out.insert(below(out.size() + 1), chunk);
                }
                break;
        }
    }
    if (out.size() > INPUT_LIMIT) out.resize(INPUT_LIMIT);
    return out;
}

JobOutcome Fuzzer::run_job_on(const std::string& archive, bool test, JobAccount& account) {
    Job job;
    if (test) {
        submit_test(*job.job, archive.c_str());
    } else {
        submit_decompress(*job.job, archive.c_str());
    }
    run_started = GetTickCount64();
    account.ran = serve_bounded(*job.job);
    account.made = job.job->output_made;
    account.problems = job.job->problems;
    return static_cast<JobOutcome>(job.job->outcome.load());
}

void Fuzzer::print_accounts(const Accounts& a) const {
    static const char* const ENDS[] = {"whole", "unknown kind", "unreadable", "broken", "too large",
                                       "needs a dictionary"};
    const size_t end = static_cast<size_t>(a.list_end);
    std::printf("list: %s, %zu entries\n", end < sizeof(ENDS) / sizeof(ENDS[0]) ? ENDS[end] : "?", a.listed.size());
    for (const ListedEntry& entry : a.listed) {
        std::printf("  %10llu  %s%s\n", static_cast<unsigned long long>(entry.size), entry.name.c_str(),
                    entry.skipped ? "  (skipped)" : "");
    }
    const struct {
        const char* name;
        const JobAccount& job;
    } jobs[] = {{"test", a.test}, {"extraction", a.extraction}};
    for (const auto& side : jobs) {
        std::printf("%s: %s%s, %zu problems\n", side.name, side.job.ran ? "" : "cancelled, ",
                    side.job.made ? "ran to its end" : "did not run to its end", side.job.problems.size());
        for (const JobProblem& problem : side.job.problems) {
            std::printf("  %s: %s\n", rule_of(problem.kind).name, problem.name.c_str());
        }
    }
    std::printf("written: %zu files and folders\n", a.found.size());
    for (const FoundItem& item : a.found) {
        std::printf("  %10llu  %s%s\n", static_cast<unsigned long long>(item.size), item.relative.c_str(),
                    item.folder ? "\\" : "");
    }
}

bool Fuzzer::check_archive(Target target, const std::string& input, bool* interesting) {
    const std::string archive = work_ + archive_leaf(target);
    const std::string destination = work_ + "a\\";
    const std::string temp = temp_folder();
    const std::set<std::string> temp_before = names_in(temp);
    const std::set<std::string> root_before = names_in("C:\\");
    if (!write_all(archive, input)) {
        finding(RESIDUE, target, input, "the archive could not be written");
        return false;
    }
    const uint64_t findings_before = findings;
    Accounts accounts;
    accounts.single_file = target == GZ;
    run_started = GetTickCount64();
    accounts.list_end = list_archive(archive.c_str(), [&accounts](const ListedEntry& entry) {
                            accounts.listed.push_back(entry);
                        }).end;
    run_job_on(archive, true, accounts.test);
    if (!accounts.test.ran) finding(HANG, target, input, "the test ran over its bound");
    const JobOutcome extracted = run_job_on(archive, false, accounts.extraction);
    if (!accounts.extraction.ran) finding(HANG, target, input, "extraction ran over its bound");
    Tally& t = tally[target];
    switch (extracted) {
        case JobOutcome::complete: ++t.complete; break;
        case JobOutcome::cancelled: ++t.cancelled; break;
        default: ++t.failed; break;
    }
    *interesting = extracted == JobOutcome::complete;
    walk_found(destination, "", accounts.found);
    // A single compressed file unpacks into the one file a, not a folder.
    const DWORD single = file_attributes((work_ + "a").c_str());
    if (single != INVALID_FILE_ATTRIBUTES && !(single & FILE_ATTRIBUTE_DIRECTORY)) {
        accounts.found.push_back(FoundItem{"a", FileReader((work_ + "a").c_str()).size(), false});
    }
    const Comparison comparison = compare_accounts(accounts, fold_name);
    if (comparison.outcome != Comparison::not_compared) ++t.compared;
    if (comparison.outcome == Comparison::disagree) disagreement(target, input, comparison.found);
    if (replaying_) print_accounts(accounts);
    // Within the scratch folder only the work folder; within that only the
    // archive, its destination folder and the tarball of a .tzst.
    for (const std::string& name : names_in(scratch_)) {
        if (name + "\\" != work_) finding(ESCAPE, target, input, "left " + name);
    }
    for (const std::string& name : names_in(work_)) {
        const std::string leaf = name.substr(work_.size());
        if (leaf != archive_leaf(target) && leaf != "a" && leaf != "a.tar") {
            finding(ESCAPE, target, input, "left " + name);
        }
    }
    // Other programs come and go in the shared temporary folder (the C
    // runtime's tmpfile, other runs of these tools): a new name there counts
    // when it is still present a moment later and is not such a tool's folder.
    std::vector<std::string> shared;
    for (const std::string& name : names_in(temp)) {
        if (!temp_before.count(name) && name.compare(temp.size(), 8, "velmora-") != 0) shared.push_back(name);
    }
    for (const std::string& name : names_in("C:\\")) {
        if (!root_before.count(name)) shared.push_back(name);
    }
    if (!shared.empty()) Sleep(500);
    for (const std::string& name : shared) {
        if (file_attributes(name.c_str()) != INVALID_FILE_ATTRIBUTES) finding(ESCAPE, target, input, "left " + name);
    }
    if (!empty_folder(work_)) finding(RESIDUE, target, input, "the scratch folder could not be emptied");
    // Escapes seen above are removed so that they are reported once.
    for (const std::string& name : names_in(scratch_)) {
        if (name + "\\" != work_) {
            empty_folder(name + "\\");
            RemoveDirectoryW(wide_path(name).c_str());
            DeleteFileW(wide_path(name).c_str());
        }
    }
    return findings == findings_before;
}

bool Fuzzer::run(Target target, const std::string& input, bool* interesting) {
    current_target = target;
    current_input = &input;
    ++runs_begun;
    run_started = GetTickCount64();
    *interesting = false;
    bool ok = true;
    ++tally[target].runs;
    if (is_archive_target(target)) {
        ok = check_archive(target, input, interesting);
    } else if (target == DEFLATE64) {
        size_t counted = 0;
        const bool whole = run_deflate64(inflate64_, input, nullptr, &counted) == InflateEnd::whole;
        ++(whole ? tally[target].complete : tally[target].failed);
        // Streams that soon end (a block marked last, its end code early)
        // or that are a few long matches are whole too; kept, they would
        // soon fill the corpus.
        *interesting = whole && counted >= DEFLATE64_KEPT_OUTPUT && input.size() >= DEFLATE64_KEPT_INPUT;
    } else if (target == PREFS) {
        String error;
        const bool parsed = preferences_text_parses(input.c_str(), input.size(), &error);
        *interesting = parsed;
        ++(parsed ? tally[target].complete : tally[target].failed);
    } else {
        CellScreen screen;
        set_grid_size(&screen, 24, 80);
        {
            CellEditor editor(&screen);
            FILE* stream = std::tmpfile();
            if (stream) {
                std::fwrite(input.data(), 1, input.size(), stream);
                std::rewind(stream);
                editor.clear_document();
                editor.load_text(stream);
                std::fclose(stream);
                editor.draw(-1);
                editor.ensure_cursor_visible(false, -1);
                ++tally[target].complete;
            } else {
                ++tally[target].failed;
            }
        }
        detach(&screen);
    }
    run_started = 0;
    current_input = nullptr;
    return ok;
}

struct Options {
    double seconds = 60;
    uint32_t seed = 0;
    std::string findings;
    std::vector<std::string> seeds;  // folders, each given with --seeds
    int only = -1;
    int replay = -1;
    std::string replay_file;
    bool self_test = false;
    std::string write_seeds;  // the folder --write-seeds names
};

struct Arguments {
    Options options;
    int result = -1;  // set when the loop is not to run
};

void print_summary(const Fuzzer& fuzzer) {
    std::printf("\n%-9s %9s %9s %9s %9s %9s %7s", "target", "runs", "compared", "complete", "failed", "cancelled",
                "corpus");
    for (int k = 0; k < KIND_COUNT; ++k) std::printf(" %8s", KIND_NAMES[k]);
    std::printf("\n");
    for (int t = 0; t < TARGET_COUNT; ++t) {
        const Tally& tally = fuzzer.tally[t];
        if (tally.runs == 0) continue;
        std::printf("%-9s %9llu %9llu %9llu %9llu %9llu %7zu", TARGET_NAMES[t],
                    static_cast<unsigned long long>(tally.runs), static_cast<unsigned long long>(tally.compared),
                    static_cast<unsigned long long>(tally.complete), static_cast<unsigned long long>(tally.failed),
                    static_cast<unsigned long long>(tally.cancelled), fuzzer.corpus_size(static_cast<Target>(t)));
        for (int k = 0; k < KIND_COUNT; ++k) std::printf(" %8llu", static_cast<unsigned long long>(tally.findings[k]));
        std::printf("\n");
    }
    for (int t = 0; t < TARGET_COUNT; ++t) {
        for (const auto& kind : fuzzer.tally[t].disagreements) {
            std::printf("%-9s %9llu  disagree: %s\n", TARGET_NAMES[t], static_cast<unsigned long long>(kind.second),
                        kind.first.c_str());
        }
    }
}

// The comparison against made-up accounts, then every seed once as it is:
// 0 when all pass.
int self_test(Fuzzer& fuzzer) {
    const int failures = run_agreement_cases(fold_name);
    int findings = 0;
    for (int t = 0; t < TARGET_COUNT; ++t) {
        for (const std::string& seed : fuzzer.corpus(static_cast<Target>(t))) {
            bool interesting = false;
            findings += !fuzzer.run(static_cast<Target>(t), seed, &interesting);
        }
    }
    std::printf("self-test: %d comparison cases failed, %d seeds with findings\n", failures, findings);
    return failures || findings ? 1 : 0;
}

DWORD WINAPI fuzz_main(void* argument) {
    Arguments& arguments = *static_cast<Arguments*>(argument);
    const Options& o = arguments.options;
    Fuzzer fuzzer(o.seed, o.findings, o.replay >= 0);
    if (o.replay >= 0) {
        const std::string input = read_all(o.replay_file);
        bool interesting = false;
        const bool ok = fuzzer.run(static_cast<Target>(o.replay), input, &interesting);
        std::printf("replayed %s (%zu bytes): %s\n", TARGET_NAMES[o.replay], input.size(), ok ? "no finding" : "FINDING");
        arguments.result = ok ? 0 : 1;
        return 0;
    }
    // A comparison that fails its own cases would report nonsense.
    if (!o.self_test && run_agreement_cases(fold_name) != 0) {
        arguments.result = 2;
        return 0;
    }
    fuzzer.make_seeds();
    size_t from_folders = 0;
    for (const std::string& folder : o.seeds) from_folders += fuzzer.add_seed_folder(folder);
    fuzzer.seal_seeds();
    for (int t = 0; t < TARGET_COUNT; ++t) {
        std::printf("seeds %-9s %zu\n", TARGET_NAMES[t], fuzzer.corpus_size(static_cast<Target>(t)));
    }
    for (const std::string& folder : o.seeds) std::printf("seeds from %s\n", folder.c_str());
    if (!o.seeds.empty()) std::printf("%zu of them from those folders\n", from_folders);
    if (o.self_test) {
        arguments.result = self_test(fuzzer);
        return 0;
    }
    if (!o.write_seeds.empty()) {
        for (int t = 0; t < TARGET_COUNT; ++t) {
            int n = 0;
            for (const std::string& seed : fuzzer.corpus(static_cast<Target>(t))) {
                write_all(o.write_seeds + "\\seed-" + std::to_string(++n) + "." + TARGET_NAMES[t], seed);
            }
        }
        arguments.result = 0;
        return 0;
    }
    const ULONGLONG start = GetTickCount64();
    const ULONGLONG end = start + static_cast<ULONGLONG>(o.seconds * 1000);
    ULONGLONG next_report = start + 30000;
    uint64_t iterations = 0;
    // Every seed once as it is, then mutations.
    for (int t = 0; t < TARGET_COUNT; ++t) {
        if (o.only >= 0 && o.only != t) continue;
        for (const std::string& seed : fuzzer.corpus(static_cast<Target>(t))) {
            bool interesting = false;
            fuzzer.run(static_cast<Target>(t), seed, &interesting);
            ++iterations;
        }
    }
    while (GetTickCount64() < end) {
        const Target target = o.only >= 0 ? static_cast<Target>(o.only)
                                          : static_cast<Target>(iterations % TARGET_COUNT);
        const std::string input = fuzzer.mutate(target);
        bool interesting = false;
        fuzzer.run(target, input, &interesting);
        // Inputs that still parse or extract keep the corpus varied.
        if (interesting && fuzzer.random_() % 8 == 0) fuzzer.add(target, input);
        ++iterations;
        if (GetTickCount64() >= next_report) {
            next_report += 30000;
            std::printf("%6.0f s  %llu iterations, %llu findings\n", (GetTickCount64() - start) / 1000.0,
                        static_cast<unsigned long long>(iterations), static_cast<unsigned long long>(fuzzer.findings));
            std::fflush(stdout);
        }
    }
    const double seconds = (GetTickCount64() - start) / 1000.0;
    print_summary(fuzzer);
    std::printf("iterations %llu in %.0f s, seed %u, findings %llu\n", static_cast<unsigned long long>(iterations),
                seconds, o.seed, static_cast<unsigned long long>(fuzzer.findings));
    arguments.result = fuzzer.findings ? 1 : 0;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    Options& o = arguments.options;
    o.seed = static_cast<uint32_t>(GetTickCount());
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--seconds" && more) {
            o.seconds = std::atof(argv[++i]);
        } else if (a == "--seed" && more) {
            o.seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (a == "--findings" && more) {
            o.findings = argv[++i];
        } else if (a == "--target" && more && (o.only = target_index(argv[++i])) >= 0) {
        } else if (a == "--seeds" && more) {
            o.seeds.push_back(argv[++i]);
        } else if (a == "--replay" && i + 2 < argc && (o.replay = target_index(argv[i + 1])) >= 0) {
            o.replay_file = argv[i + 2];
            i += 2;
        } else if (a == "--self-test") {
            o.self_test = true;
        } else if (a == "--write-seeds" && more) {
            o.write_seeds = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: velmora-fuzz [--seconds N] [--seed S] [--findings FOLDER] [--seeds FOLDER]"
                         " [--target TARGET]\n"
                         "       velmora-fuzz --replay TARGET FILE\n"
                         "       velmora-fuzz --self-test\n"
                         "       velmora-fuzz --write-seeds FOLDER\n"
                         "TARGET: zip, tzst, tgz, tbz2, txz, 7z, rar, gz, prefs, editor or deflate64\n");
            return 2;
        }
    }
    if (o.findings.empty()) o.findings = temp_folder() + "velmora-fuzz-findings";
    while (o.findings.size() > 3 && (o.findings.back() == '\\' || o.findings.back() == '/')) o.findings.pop_back();
    create_directory(o.findings.c_str());
    findings_folder = o.findings;
    std::printf("velmora-fuzz: seed %u, %.0f s, findings in %s\n", o.seed, o.seconds, o.findings.c_str());
    std::fflush(stdout);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(on_crash);
    CloseHandle(CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr));
    // Deep trees from mutated names: the loop gets a large stack.
    HANDLE thread =
        CreateThread(nullptr, size_t{256} << 20, fuzz_main, &arguments, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) return 2;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    std::fflush(stdout);
    return arguments.result;
}
