// velmora-jobloop: runs many archive jobs in a row in this process, on the
// program's job record and worker thread, and compares the process's memory
// and handle counts before and after.
//
//   velmora-jobloop [--jobs N] [--folder FOLDER]
//
// The jobs cycle through ZIP compression, ZIP extraction, .tzst compression
// and .tzst extraction of a small tree in FOLDER (default: the Windows
// temporary folder). The first cycle warms up (thread stacks, zstd and zlib
// contexts, CRT buffers); the counts are read after it and after the last job.
// Exit code: 0 every job completed and growth stayed within bounds, 1 not.
#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "io/file_writer.h"
#include "io/platform.h"
#include "jobs/worker/job_worker.h"
#include "jobs/frame/directory_scan.h"

namespace {

// Allowed growth between the counts: a few handles of Wine's own and some
// heap fragmentation, far below one leak per job.
constexpr DWORD HANDLE_GROWTH_LIMIT = 16;
constexpr uint64_t MEMORY_GROWTH_LIMIT = uint64_t{32} << 20;

struct Counts {
    uint64_t private_bytes = 0;
    uint64_t working_set = 0;
    DWORD handles = 0;
};

Counts read_counts() {
    Counts counts;
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof(memory);
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory))) {
        counts.private_bytes = memory.PrivateUsage;
        counts.working_set = memory.WorkingSetSize;
    }
    if (!counts.private_bytes) counts.private_bytes = memory.PagefileUsage;
    GetProcessHandleCount(GetCurrentProcess(), &counts.handles);
    // Wine answers 0 here: count the open handles of the table instead.
    if (!counts.handles) {
        for (uintptr_t value = 4; value < (uintptr_t{1} << 18); value += 4) {
            DWORD flags;
            if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++counts.handles;
        }
    }
    return counts;
}

bool write_all(const std::string& path, const std::string& bytes) {
    FileWriter writer(path.c_str());
    writer.write(bytes.data(), bytes.size());
    return writer.close();
}

void remove_below(const std::string& folder) {
    DirectoryScan scan;
    if (!scan.first(folder.c_str())) return;
    String path;
    do {
        if (scan.is_dot_entry()) continue;
        scan.full_path(path);
        const std::wstring wide = window_wide(path.c_str(), path.length());
        if (scan.is_directory()) {
            remove_below(std::string(path.c_str()) + "\\");
            RemoveDirectoryW(wide.c_str());
        } else {
            DeleteFileW(wide.c_str());
        }
    } while (scan.next());
}

// Hands a request to the worker and waits until it has been served.
JobOutcome run(ArchiveJob& job, bool decompress, const std::string& path) {
    const uint32_t served = job.requests_served.load();
    if (decompress) {
        submit_decompress(job, path.c_str());
    } else {
        submit_compress_folder(job, path.c_str());
    }
    while (job.requests_served.load() == served) Sleep(1);
    return static_cast<JobOutcome>(job.outcome.load());
}

void print(const char* when, const Counts& c) {
    std::printf("%-7s committed %8.1f MiB  working set %8.1f MiB  handles %5lu\n", when, c.private_bytes / 1048576.0,
                c.working_set / 1048576.0, static_cast<unsigned long>(c.handles));
}

}  // namespace

int main(int argc, char** argv) {
    int jobs = 1000;
    std::string base;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--jobs") == 0 && i + 1 < argc) {
            jobs = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--folder") == 0 && i + 1 < argc) {
            base = argv[++i];
        } else {
            std::fprintf(stderr, "usage: velmora-jobloop [--jobs N] [--folder FOLDER]\n");
            return 2;
        }
    }
    if (base.empty()) {
        wchar_t temp[MAX_PATH + 1];
        GetTempPathW(MAX_PATH + 1, temp);
        String utf8;
        wide_to_utf8(temp, utf8);
        base = utf8.c_str();
    }
    if (base.back() != '\\') base += '\\';
    const std::string root = base + "velmora-jobloop-" + std::to_string(GetCurrentProcessId()) + "\\";
    create_directory(root.c_str());
    const std::string tree = root + "tree";
    create_directory(tree.c_str());
    create_directory((tree + "\\sub").c_str());
    std::string bytes(200000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7919) % 251);
    write_all(tree + "\\big.bin", bytes);
    write_all(tree + "\\a.txt", "first\n");
    write_all(tree + "\\sub\\b.txt", "second\n");
    write_all(tree + "\\sub\\empty", "");

    ArchiveJob* job = create_archive_job(JobSettings{});
    job->keep_tarball = false;
    int failures = 0;
    Counts before;
    const ULONGLONG start = GetTickCount64();
    for (int i = 0; i < jobs; ++i) {
        const int step = i % 4;
        const bool zip = step < 2;
        job->compressor = zip ? 0 : 1;
        const std::string archive = tree + (zip ? ".zip" : ".tzst");
        JobOutcome outcome;
        if (step % 2 == 0) {
            outcome = run(*job, false, tree);
        } else {
            outcome = run(*job, true, archive);
            // The extraction goes next to the archive under a free name;
            // remove it and the archive so the next cycle starts alike.
            const std::string destination = job->output_path.c_str();
            if (!destination.empty() && destination != tree) {
                remove_below(destination + "\\");
                RemoveDirectoryW(window_wide(destination.c_str(), destination.size()).c_str());
            }
            DeleteFileW(window_wide(archive.c_str(), archive.size()).c_str());
        }
        if (outcome != JobOutcome::complete) {
            ++failures;
            std::fprintf(stderr, "job %d (%s %s) did not complete: %s\n", i, zip ? "zip" : "tzst",
                         step % 2 ? "extract" : "compress", job->output_path.c_str());
        }
        if (i == 3) {
            before = read_counts();
            print("after 4", before);
        }
    }
    const Counts after = read_counts();
    print("after", after);
    destroy_archive_job(job);
    remove_below(root);
    RemoveDirectoryW(window_wide(root.c_str(), root.size()).c_str());

    const long long handle_growth = static_cast<long long>(after.handles) - before.handles;
    const long long memory_growth = static_cast<long long>(after.private_bytes) - static_cast<long long>(before.private_bytes);
    std::printf("%d jobs in %.1f s, %d did not complete; growth: handles %+lld, committed %+.1f MiB\n", jobs,
                (GetTickCount64() - start) / 1000.0, failures, handle_growth, memory_growth / 1048576.0);
    const bool ok = failures == 0 && handle_growth <= static_cast<long long>(HANDLE_GROWTH_LIMIT) &&
                    memory_growth <= static_cast<long long>(MEMORY_GROWTH_LIMIT);
    std::printf("%s\n", ok ? "within bounds" : "OUT OF BOUNDS");
    return ok ? 0 : 1;
}
