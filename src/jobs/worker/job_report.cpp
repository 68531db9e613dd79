// The words of a job's report. Any thread.
#include "jobs/worker/job_report.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "io/platform.h"
#include "jobs/frame/archive_names.h"
#include "io/banned.h"

namespace {

constexpr size_t NAMES_SHOWN = 10;

// The words of a kind; {count} stands for the count and {detail} for what
// the problem names (its method), or for the names table's extensions.
struct ProblemWords {
    const char* one;    // heading for a single entry
    const char* many;   // heading for {count} entries
    const char* label;  // the console's few words
};

// Indexed by Problem.
const ProblemWords WORDS[] = {
    {"1 file could not be read and is not in the archive:",
     "{count} files could not be read and are not in the archive:", "could not be read, left out"},
    {"1 file could not be read to its end; the archive holds an incomplete copy:",
     "{count} files could not be read to their end; the archive holds incomplete copies:",
     "could not be read to its end, stored incomplete"},
    {"1 file could not be added to the archive:", "{count} files could not be added to the archive:",
     "could not be added, left out"},
    {"1 folder could not be read; what it holds is not in the archive:",
     "{count} folders could not be read; what they hold is not in the archive:", "folder could not be read, left out"},
    {"1 entry was skipped because its name leads outside the destination folder:",
     "{count} entries were skipped because their names lead outside the destination folder:",
     "name leads outside the folder, skipped"},
    {"1 entry is encrypted and was not unpacked:", "{count} entries are encrypted and were not unpacked:",
     "encrypted, not unpacked"},
    {"1 entry is compressed with {detail}, which Velmora cannot unpack:",
     "{count} entries are compressed with {detail}, which Velmora cannot unpack:", "compressed with {detail}, which Velmora cannot unpack"},
    {"1 file does not match its checksum or size and may be damaged:",
     "{count} files do not match their checksum or size and may be damaged:", "checksum or size mismatch, kept"},
    {"1 file is damaged or cut short in the archive and was not extracted:",
     "{count} files are damaged or cut short in the archive and were not extracted:",
     "damaged or cut short, not extracted"},
    {"1 item could not be written to the disk:", "{count} items could not be written to the disk:", "could not be written"},
    {"1 file has the name of an earlier one but for letter case and was saved under another name:",
     "{count} files have the names of earlier ones but for letter case and were saved under other names:",
     "same name as an earlier file but for letter case"},
    {"The tarball inside the archive could not be read; it was left at:",
     "The tarballs inside the archive could not be read; they were left at:", "tarball could not be read, kept"},
    {"The archive could not be read (it is damaged, or not an archive of its kind):",
     "The archives could not be read (they are damaged, or not archives of their kind):", "archive could not be read"},
    {"The archive is damaged or cut short; nothing after the damage was extracted:",
     "The archives are damaged or cut short; nothing after the damage was extracted:", "archive damaged or cut short"},
    {"The archive could not be written:", "The archives could not be written:", "archive could not be written"},
    {"Not unpacked: Velmora can unpack {detail} files, and this file is none of them:",
     "Not unpacked: Velmora can unpack {detail} files, and these files are none of them:",
     "not a kind of file Velmora unpacks, not unpacked"},
    {"A drive or share root cannot be compressed; choose a folder in it:",
     "Drive or share roots cannot be compressed; choose a folder in them:",
     "a drive or share root cannot be compressed; choose a folder in it"},
    {"The tarball could not be read back to compress it, so no archive was made:",
     "The tarballs could not be read back to compress them, so no archives were made:",
     "tarball could not be read back, no archive made"},
    {"Another program held the file of the same name, so the new one was saved as:",
     "Other programs held the files of the same names, so the new ones were saved as:",
     "an older file of its name was held by another program; saved as"},
    {"1 folder is a link to another place and was not followed:",
     "{count} folders are links to other places and were not followed:", "link not followed"},
    {"1 folder leads back to a folder that holds it and was left out:",
     "{count} folders lead back to folders that hold them and were left out:", "folder loop, left out"},
    {"1 entry was extracted although the tar reader warned about it:",
     "{count} entries were extracted although the tar reader warned about them:", "extracted with a warning"},
    {"1 entry has a header that could not be read and was skipped:",
     "{count} entries have headers that could not be read and were skipped:", "header could not be read, skipped"},
    {"1 symbolic link was not created:", "{count} symbolic links were not created:", "symbolic link not created"},
    {"1 device, fifo or socket was not created:", "{count} devices, fifos or sockets were not created:",
     "device, fifo or socket not created"},
    {"1 hard link points to a file that is not in the archive and was not created:",
     "{count} hard links point to files that are not in the archive and were not created:",
     "hard link to a file not in the archive, not created"},
    {"The extraction stopped because a file could not be written:",
     "The extractions stopped because files could not be written:", "could not be written, extraction stopped"},
    {"Not unpacked: the archive's name is only dots or spaces, so it would unpack into its own folder or the one "
     "above it:",
     "Not unpacked: the archives' names are only dots or spaces, so they would unpack into their own folders or the "
     "ones above them:",
     "name is only dots or spaces, not unpacked"},
    {"Not unpacked: the archive needs more memory than this computer can give:",
     "Not unpacked: the archives need more memory than this computer can give:", "not enough memory, not unpacked"},
    {"A file had the tarball's name, so the tarball was kept as:",
     "Files had the tarballs' names, so the tarballs were kept as:", "a file had the tarball's name; kept as"},
    {"A file had the unpacked file's name, so it was saved as:",
     "Files had the unpacked files' names, so they were saved as:", "a file had its name; saved as"},
    {"Nothing was unpacked: the folder to unpack into could not be made:",
     "Nothing was unpacked: the folders to unpack into could not be made:",
     "nothing was extracted: the folder could not be made"},
    {"The archive's end record counts fewer entries than its directory holds; every entry was extracted:",
     "The archives' end records count fewer entries than their directories hold; every entry was extracted:",
     "end record counts fewer entries than the directory holds, all extracted"},
    {"Not unpacked: the archive is compressed with {detail}, which Velmora does not have:",
     "Not unpacked: {count} archives are compressed with {detail}, which Velmora does not have:",
     "compressed with {detail}, which Velmora does not have"},
    {"1 entry shares its data with an earlier entry and was not extracted:",
     "{count} entries share their data with earlier entries and were not extracted:",
     "shares its data with an earlier entry, not extracted"},
    {"1 file has the same name as an earlier one and was saved under another name:",
     "{count} files have the same names as earlier ones and were saved under other names:",
     "same name as an earlier file"},
    {"1 entry needs more memory to unpack than this computer can give and was not unpacked:",
     "{count} entries need more memory to unpack than this computer can give and were not unpacked:",
     "needs more memory than this computer can give, not unpacked"},
    {"Not unpacked: the archive's names are encrypted, and Velmora asks for no password:",
     "Not unpacked: the archives' names are encrypted, and Velmora asks for no password:",
     "names are encrypted, nothing unpacked"},
    {"A volume of the archive is missing ({detail}); what came before it was unpacked:",
     "Volumes of the archives are missing; what came before them was unpacked:", "volume {detail} is missing"},
};

static_assert(sizeof(WORDS) / sizeof(WORDS[0]) == static_cast<size_t>(Problem::volume_missing) + 1,
              "one entry of words per kind of problem");

const ProblemWords& words_of(Problem kind) { return WORDS[static_cast<size_t>(kind)]; }

// The kinds whose words name a detail ({detail}).
bool takes_detail(Problem kind) {
    return kind == Problem::unknown_method || kind == Problem::needs_dictionary ||
           kind == Problem::unknown_archive_kind || kind == Problem::volume_missing;
}

// What a detail-taking kind's words name when the problem has no detail.
std::string general_detail(Problem kind) {
    if (kind == Problem::unknown_archive_kind) return unpackable_extensions_text();
    return kind == Problem::needs_dictionary ? "a Zstandard dictionary" : "an unknown method";
}

std::string detail_of(const JobProblem& problem) {
    return problem.detail.empty() ? general_detail(problem.kind) : problem.detail;
}

// words with {count} and {detail} filled in.
std::string filled(const char* words, size_t count, const std::string& detail) {
    std::string text = words;
    const auto fill = [&](const std::string& key, const std::string& value) {
        const size_t at = text.find(key);
        if (at != std::string::npos) text.replace(at, key.size(), value);
    };
    fill("{count}", std::to_string(count));
    fill("{detail}", detail);
    return text;
}

bool same_group(const JobProblem& a, const JobProblem& b) { return a.kind == b.kind && a.detail == b.detail; }

}  // namespace

const char* problem_label(Problem kind) {
    if (kind == Problem::unknown_method) return "compressed with a method Velmora cannot unpack";
    if (kind == Problem::needs_dictionary) return "compressed with a Zstandard dictionary, which Velmora does not have";
    if (kind == Problem::volume_missing) return "a volume is missing";
    return words_of(kind).label;
}

std::string problem_label(const JobProblem& problem) {
    return filled(words_of(problem.kind).label, 1, takes_detail(problem.kind) ? detail_of(problem) : "");
}

std::string problem_report(const ArchiveJob& job) {
    // One group per kind (and detail), in the order each first happened.
    std::vector<const JobProblem*> groups;
    for (const JobProblem& problem : job.problems) {
        bool known = false;
        for (const JobProblem* group : groups) known = known || same_group(*group, problem);
        if (!known) groups.push_back(&problem);
    }
    std::string text;
    for (const JobProblem* group : groups) {
        const Problem kind = group->kind;
        size_t count = 0;
        for (const JobProblem& problem : job.problems) count += same_group(*group, problem);
        const ProblemWords& words = words_of(kind);
        text += text.empty() ? "Velmora: " : "\n\n";
        text += filled(count == 1 ? words.one : words.many, count, takes_detail(kind) ? detail_of(*group) : "");
        size_t shown = 0;
        for (const JobProblem& problem : job.problems) {
            if (!same_group(*group, problem) || shown == NAMES_SHOWN) continue;
            text += "\n" + problem.name;
            ++shown;
        }
        if (count > shown) {
            char more[64];
            std::snprintf(more, sizeof(more), "\n... and %zu more", count - shown);
            text += more;
        }
    }
    return text;
}

int32_t phase_percent(const ArchiveJob& job) {
    const auto phase = static_cast<Phase>(job.phase.load());
    const int64_t done = job.items_done.load(std::memory_order_relaxed);
    const int64_t total = job.items_total.load(std::memory_order_relaxed);
    const int32_t item = job.item_percent.load(std::memory_order_relaxed);
    switch (phase) {
    case Phase::decompressing_zstd:
    case Phase::compressing_tarball:
    case Phase::decompressing_file: return item;  // one stream, followed by its own bar
    default: break;
    }
    if (total <= 0) return job.overall_percent.load(std::memory_order_relaxed);
    // The files done and the part of the current one.
    const int64_t percent = (std::min(done, total) * 100 + (done < total ? item : 0)) / total;
    return static_cast<int32_t>(percent);
}

std::string progress_words(const ArchiveJob& job) {
    const auto phase = static_cast<Phase>(job.phase.load());
    const int32_t total = job.items_total.load(std::memory_order_relaxed);
    const int32_t done = job.items_done.load(std::memory_order_relaxed);
    std::string words = phase_name(phase);
    if (phase == Phase::preparing) return words + " " + std::to_string(total) + (total == 1 ? " file" : " files");
    words += " " + std::to_string(phase_percent(job)) + "%";
    if (total > 0 && phase != Phase::decompressing_zstd && phase != Phase::compressing_tarball) {
        words += " (" + std::to_string(done) + "/" + std::to_string(total) + (total == 1 ? " file)" : " files)");
    }
    return words;
}

std::string move_failure_report(const char* source, const char* target) {
    return std::string("Velmora: The archive could not be saved as:\n") + target + "\nIt is still at:\n" + source;
}
