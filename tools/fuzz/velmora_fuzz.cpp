// velmora-fuzz: mutates seed inputs and feeds them, in this process, to ZIP
// and .tzst extraction, to the preferences parser, to the editor's
// load_text and to the Deflate64 decoder, for a bounded time.
//
//   velmora-fuzz [--seconds N] [--seed S] [--findings FOLDER] [--target zip|tzst|prefs|editor|deflate64]
//   velmora-fuzz --replay zip|tzst|prefs|editor|deflate64 FILE
//
// Seeds are made here: small archives packed by the program's own jobs (and
// a copy of one whose entries are marked Deflate64), the preferences texts,
// a few texts with CR, LF, tabs and a BOM, and Deflate streams of zlib's
// three block kinds that read the same as Deflate64. Each
// iteration applies one to four mutations (bit flips, byte changes, inserts,
// deletes, truncation, splicing with another seed).
//
// Findings, each saved with the input as FOLDER\<kind>-<target>-<n>.bin:
//   crash   an unhandled exception (the filter saves the input and exits 3)
//   hang    one input running longer than 30 s (a watchdog saves it, exits 4)
//   escape  an extraction that left something outside its scratch folder
//   residue an extraction whose scratch folder could not be emptied
// Exit code: 0 no findings, 1 findings, 2 bad usage, 3 crash, 4 hang.
#include <windows.h>

#include <zlib.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "editor/cell_editor.h"
#include "editor/cell_screen.h"
#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io/platform.h"
#include "jobs/archive_job.h"
#include "jobs/directory_scan.h"
#include "jobs/inflate64.h"
#include "prefs/preferences.h"

namespace {

enum Target { ZIP, TZST, PREFS, EDITOR, DEFLATE64, TARGET_COUNT };
const char* const TARGET_NAMES[TARGET_COUNT] = {"zip", "tzst", "prefs", "editor", "deflate64"};
constexpr size_t CORPUS_LIMIT = 256;
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
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, strategy) != Z_OK) return "";
    std::string packed(deflateBound(&z, static_cast<uLong>(bytes.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(&packed[0]);
    z.avail_out = static_cast<uInt>(packed.size());
    const bool done = deflate(&z, Z_FINISH) == Z_STREAM_END;
    packed.resize(z.total_out);
    deflateEnd(&z);
    return done ? packed : "";
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
};

class Fuzzer {
public:
    Fuzzer(uint32_t seed, const std::string& findings) : random_(seed), findings_(findings) {
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
    // One input through one target; returns false on a finding.
    bool run(Target target, const std::string& input, bool* interesting);
    std::string mutate(Target target);
    void add(Target target, std::string input) {
        auto& corpus = corpus_[target];
        if (corpus.size() < CORPUS_LIMIT) {
            corpus.push_back(std::move(input));
        } else {
            corpus[seed_count_[target] + random_() % (CORPUS_LIMIT - seed_count_[target])] = std::move(input);
        }
    }
    size_t corpus_size(Target target) const { return corpus_[target].size(); }
    Tally tally[TARGET_COUNT];
    uint64_t findings = 0;
    std::mt19937 random_;

private:
    std::string pack(const std::string& folder, uint32_t compressor, int level, bool checksum);
    bool extract(Target target, const std::string& input, bool* interesting);
    void finding(const char* kind, Target target, const std::string& input, const std::string& detail);

    std::string findings_;
    std::string scratch_;
    std::string work_;
    Inflate64 inflate64_;
    std::vector<std::string> corpus_[TARGET_COUNT];
    size_t seed_count_[TARGET_COUNT] = {};
};

void Fuzzer::finding(const char* kind, Target target, const std::string& input, const std::string& detail) {
    ++findings;
    char path[1024];
    std::snprintf(path, sizeof(path), "%s\\%s-%s-%llu.bin", findings_.c_str(), kind, TARGET_NAMES[target],
                  static_cast<unsigned long long>(findings));
    write_all(path, input);
    std::printf("FINDING %s in %s: %s (input %s)\n", kind, TARGET_NAMES[target], detail.c_str(), path);
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
    for (int t = 0; t < TARGET_COUNT; ++t) seed_count_[t] = corpus_[t].size();
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

bool Fuzzer::extract(Target target, const std::string& input, bool* interesting) {
    const std::string archive = work_ + (target == ZIP ? "a.zip" : "a.tzst");
    const std::string temp = temp_folder();
    const std::set<std::string> temp_before = names_in(temp);
    const std::set<std::string> root_before = names_in("C:\\");
    if (!write_all(archive, input)) {
        finding("residue", target, input, "the archive could not be written");
        return false;
    }
    Job job;
    submit_decompress(*job.job, archive.c_str());
    if (!serve_bounded(*job.job)) {
        finding("hang", target, input, "extraction ran over its bound");
        return false;
    }
    Tally& t = tally[target];
    switch (static_cast<JobOutcome>(job.job->outcome.load())) {
        case JobOutcome::complete: ++t.complete; break;
        case JobOutcome::cancelled: ++t.cancelled; break;
        default: ++t.failed; break;
    }
    *interesting = static_cast<JobOutcome>(job.job->outcome.load()) == JobOutcome::complete;
    bool ok = true;
    // Within the scratch folder only the work folder; within that only the
    // archive, its destination folder and the tarball of a .tzst.
    for (const std::string& name : names_in(scratch_)) {
        if (name + "\\" != work_) {
            finding("escape", target, input, "left " + name);
            ok = false;
        }
    }
    for (const std::string& name : names_in(work_)) {
        const std::string leaf = name.substr(work_.size());
        if (leaf != "a.zip" && leaf != "a.tzst" && leaf != "a" && leaf != "a.tar") {
            finding("escape", target, input, "left " + name);
            ok = false;
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
        if (file_attributes(name.c_str()) != INVALID_FILE_ATTRIBUTES) {
            finding("escape", target, input, "left " + name);
            ok = false;
        }
    }
    if (!empty_folder(work_)) {
        finding("residue", target, input, "the scratch folder could not be emptied");
        ok = false;
    }
    // Escapes seen above are removed so that they are reported once.
    for (const std::string& name : names_in(scratch_)) {
        if (name + "\\" != work_) {
            empty_folder(name + "\\");
            RemoveDirectoryW(wide_path(name).c_str());
            DeleteFileW(wide_path(name).c_str());
        }
    }
    return ok;
}

bool Fuzzer::run(Target target, const std::string& input, bool* interesting) {
    current_target = target;
    current_input = &input;
    ++runs_begun;
    run_started = GetTickCount64();
    *interesting = false;
    bool ok = true;
    ++tally[target].runs;
    if (target == ZIP || target == TZST) {
        ok = extract(target, input, interesting);
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
    int only = -1;
    int replay = -1;
    std::string replay_file;
};

int target_index(const char* name) {
    for (int t = 0; t < TARGET_COUNT; ++t) {
        if (std::strcmp(name, TARGET_NAMES[t]) == 0) return t;
    }
    return -1;
}

struct Arguments {
    Options options;
    int result = -1;  // set when the loop is not to run
};

DWORD WINAPI fuzz_main(void* argument) {
    Arguments& arguments = *static_cast<Arguments*>(argument);
    const Options& o = arguments.options;
    Fuzzer fuzzer(o.seed, o.findings);
    if (o.replay >= 0) {
        const std::string input = read_all(o.replay_file);
        bool interesting = false;
        const bool ok = fuzzer.run(static_cast<Target>(o.replay), input, &interesting);
        std::printf("replayed %s (%zu bytes): %s\n", TARGET_NAMES[o.replay], input.size(), ok ? "no finding" : "FINDING");
        arguments.result = ok ? 0 : 1;
        return 0;
    }
    fuzzer.make_seeds();
    for (int t = 0; t < TARGET_COUNT; ++t) {
        std::printf("seeds %-6s %zu\n", TARGET_NAMES[t], fuzzer.corpus_size(static_cast<Target>(t)));
    }
    const ULONGLONG start = GetTickCount64();
    const ULONGLONG end = start + static_cast<ULONGLONG>(o.seconds * 1000);
    ULONGLONG next_report = start + 30000;
    uint64_t iterations = 0;
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
    std::printf("\n%-7s %10s %10s %10s %10s %7s\n", "target", "runs", "complete", "failed", "cancelled", "corpus");
    for (int t = 0; t < TARGET_COUNT; ++t) {
        const Tally& tally = fuzzer.tally[t];
        std::printf("%-7s %10llu %10llu %10llu %10llu %7zu\n", TARGET_NAMES[t],
                    static_cast<unsigned long long>(tally.runs), static_cast<unsigned long long>(tally.complete),
                    static_cast<unsigned long long>(tally.failed), static_cast<unsigned long long>(tally.cancelled),
                    fuzzer.corpus_size(static_cast<Target>(t)));
    }
    std::printf("iterations %llu in %.0f s, seed %u, findings %llu, crashes 0, hangs 0\n",
                static_cast<unsigned long long>(iterations), seconds, o.seed,
                static_cast<unsigned long long>(fuzzer.findings));
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
        } else if (a == "--replay" && i + 2 < argc && (o.replay = target_index(argv[i + 1])) >= 0) {
            o.replay_file = argv[i + 2];
            i += 2;
        } else {
            std::fprintf(stderr,
                         "usage: velmora-fuzz [--seconds N] [--seed S] [--findings FOLDER]"
                         " [--target zip|tzst|prefs|editor|deflate64]\n"
                         "       velmora-fuzz --replay zip|tzst|prefs|editor|deflate64 FILE\n");
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
