#include "robust_util.h"
#include "jobs/job_test_util.h"

#include <windows.h>
#include <zlib.h>

#include <cstdio>
#include <functional>
#include <string>

#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io/platform.h"
#include "jobs/frame/directory_scan.h"
#include "test_folder.h"

namespace {
int scratch_counter = 0;

DWORD WINAPI call_thread(void* work) {
    (*static_cast<const std::function<void()>*>(work))();
    return 0;
}

DWORD WINAPI serve_thread(void* job) {
    serve_one_request(*static_cast<ArchiveJob*>(job));
    return 0;
}
}  // namespace

ScratchFolder::ScratchFolder(const char* name) {
    char unique[128];
    std::snprintf(unique, sizeof(unique), "velmora-robust-%s-%lu-%d\\", name, GetCurrentProcessId(), ++scratch_counter);
    const DWORD shm = file_attributes("Z:\\dev\\shm");
    if (shm != INVALID_FILE_ATTRIBUTES && (shm & FILE_ATTRIBUTE_DIRECTORY)) {
        path_ = std::string("Z:\\dev\\shm\\") + unique;
    } else {
        wchar_t temp[MAX_PATH + 1];
        GetTempPathW(MAX_PATH + 1, temp);
        String base;
        wide_to_utf8(temp, base);
        path_ = std::string(base.c_str()) + unique;
    }
    remove_deep_tree(path_);
    create_directory(path_.c_str());
}

ScratchFolder::~ScratchFolder() { remove_deep_tree(path_); }

void on_big_stack(const std::function<void()>& work) {
    HANDLE thread = CreateThread(nullptr, size_t{256} << 20, call_thread, const_cast<std::function<void()>*>(&work),
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) return work();
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

void remove_deep_tree(const std::string& path) {
    on_big_stack([&] { remove_tree(path.c_str()); });
}

std::string ScratchFolder::unix_path() const {
    if (path_.compare(0, 3, "Z:\\") != 0) return "";
    std::string out = path_.substr(2);
    for (char& c : out) c = c == '\\' ? '/' : c;
    return out;
}

Snapshot snapshot_tree(const std::string& folder) {
    Snapshot out;
    walk_tree(folder, [&](const std::string& relative, const char* path, bool is_folder) {
        if (is_folder) {
            out[relative] = "";
            return;
        }
        FileReader reader(path);
        uLong crc = crc32(0, nullptr, 0);
        std::string block(65536, '\0');
        size_t n;
        while (reader.is_open() && (n = reader.read(&block[0], block.size())) > 0) {
            crc = crc32(crc, reinterpret_cast<const Bytef*>(block.data()), static_cast<uInt>(n));
        }
        char text[64];
        std::snprintf(text, sizeof(text), "%llu:%08lx", static_cast<unsigned long long>(reader.size()), crc);
        out[relative] = text;
    });
    return out;
}

bool write_file(const std::string& path, const std::string& bytes) {
    FileWriter writer(path.c_str());
    writer.write(bytes.data(), bytes.size());
    return writer.close();
}

std::string read_file(const std::string& path) {
    FileReader reader(path.c_str());
    std::string bytes(static_cast<size_t>(reader.size()), '\0');
    if (!bytes.empty()) bytes.resize(reader.read(&bytes[0], bytes.size()));
    return bytes;
}

bool path_exists(const std::string& path) { return file_attributes(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool serve_within(ArchiveJob& job, double seconds) {
    HANDLE thread = CreateThread(nullptr, 0, serve_thread, &job, 0, nullptr);
    if (!thread) return false;
    const bool ended = WaitForSingleObject(thread, static_cast<DWORD>(seconds * 1000)) == WAIT_OBJECT_0;
    if (!ended) {
        set_cancel_requested(job, true);
        WaitForSingleObject(thread, INFINITE);
    }
    CloseHandle(thread);
    return ended;
}

bool decompress_within(ArchiveJob& job, const std::string& archive, double seconds) {
    submit_decompress(job, archive.c_str());
    return serve_within(job, seconds);
}

const char* outcome_word(const ArchiveJob& job) {
    switch (static_cast<JobOutcome>(job.outcome.load())) {
        case JobOutcome::complete: return "complete";
        case JobOutcome::cancelled: return "cancelled";
        case JobOutcome::failed: return "failed";
        default: return "none";
    }
}
