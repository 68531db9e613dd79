// The differential check of velmora-fuzz: what the listing of one archive,
// its test and its extraction said about it, and whether they agree. Pure
// functions on the three accounts, which the fuzzer gathers; any thread.
// Header only, as the tool is built from one source file.
//
// They agree when:
// - they see the archive alike: unreadable to one is unreadable to all
//   three, too large for memory (or made with a dictionary this program
//   does not have) to one is so to all, a listing that breaks
//   off goes with test and extraction both calling the archive damaged, and
//   test calls it damaged exactly when extraction does;
// - test and extraction call the same entries damaged or cut short, and
//   pass over the same entries for their method, their encryption, data
//   shared with another entry or the memory they need;
// - every file the extraction wrote is a listed file entry (a file written
//   under another name is mapped back through its renamed note) of its
//   listed size, unless extraction noted it as damaged; every listed file,
//   link and folder was made or named in a problem of the extraction (or
//   the extraction found the archive damaged, and so stopped early);
// - test is sound exactly when the extraction is, leaving aside what only
//   concerns the destination.
// Names are compared as the file system compares them (the caller's fold),
// with '/' for '\', and a problem names an entry when its text is the name
// or begins with it followed by " (", " -> " or ": ".
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "jobs/worker/archive_inspect.h"
#include "jobs/worker/job_worker.h"

// What a problem kind means to the comparison.
enum class Role {
    entry_damage,    // an entry's data is damaged or cut short: test and extraction name the same entries
    archive_damage,  // the archive as a whole (its state below): all three see it alike
    skip,            // an entry passed over for what it holds: test and extraction name the same entries
    counted,         // an entry the tar reader refused or warned about, by its raw name: as many in each
    destination,     // where the extraction writes: extraction's alone; excuses the entry it names
    renamed,         // a destination matter reading "RELATIVE, saved as PLACED": PLACED is RELATIVE's file
    stopped,         // the extraction could not run or go on for want of its destination: not compared
    notice,          // the job still did all it was asked (is_notice)
    foreign,         // a compression's matter: no reading of an archive notes it
    unclassified,    // a kind this table does not know yet
};

// How an archive stands as a whole.
enum class ArchiveState { whole, damaged, unreadable, too_large, needs_dictionary, names_encrypted };

struct KindRule {
    const char* name;
    Role role;
    ArchiveState state;  // for archive_damage
};

// The one place that classifies problem kinds: a new kind is a line here
// (the compiler warns about a kind this switch leaves out).
inline KindRule rule_of(Problem kind) {
    using R = Role;
    using S = ArchiveState;
    switch (kind) {
    case Problem::damaged: return {"damaged", R::entry_damage, S::whole};
    case Problem::cut_short: return {"cut_short", R::entry_damage, S::whole};
    case Problem::archive_damaged: return {"archive_damaged", R::archive_damage, S::damaged};
    case Problem::unreadable_archive: return {"unreadable_archive", R::archive_damage, S::unreadable};
    case Problem::unreadable_tarball: return {"unreadable_tarball", R::archive_damage, S::unreadable};
    case Problem::needs_memory: return {"needs_memory", R::archive_damage, S::too_large};
    case Problem::needs_dictionary: return {"needs_dictionary", R::archive_damage, S::needs_dictionary};
    case Problem::names_encrypted: return {"names_encrypted", R::archive_damage, S::names_encrypted};
    case Problem::volume_missing: return {"volume_missing", R::archive_damage, S::damaged};
    case Problem::encrypted: return {"encrypted", R::skip, S::whole};
    case Problem::unknown_method: return {"unknown_method", R::skip, S::whole};
    case Problem::shares_data: return {"shares_data", R::skip, S::whole};
    case Problem::entry_needs_memory: return {"entry_needs_memory", R::skip, S::whole};
    case Problem::entry_unreadable: return {"entry_unreadable", R::counted, S::whole};
    case Problem::entry_warning: return {"entry_warning", R::counted, S::whole};
    case Problem::unsafe_name: return {"unsafe_name", R::destination, S::whole};
    case Problem::not_written: return {"not_written", R::destination, S::whole};
    case Problem::symlink_skipped: return {"symlink_skipped", R::destination, S::whole};
    case Problem::special_skipped: return {"special_skipped", R::destination, S::whole};
    case Problem::link_target_missing: return {"link_target_missing", R::destination, S::whole};
    case Problem::renamed: return {"renamed", R::renamed, S::whole};
    case Problem::renamed_same: return {"renamed_same", R::renamed, S::whole};
    case Problem::extraction_stopped: return {"extraction_stopped", R::stopped, S::whole};
    case Problem::destination_not_made: return {"destination_not_made", R::stopped, S::whole};
    case Problem::name_leaves_no_folder: return {"name_leaves_no_folder", R::stopped, S::whole};
    case Problem::unknown_archive_kind: return {"unknown_archive_kind", R::stopped, S::whole};
    case Problem::tarball_kept_as: return {"tarball_kept_as", R::notice, S::whole};
    case Problem::saved_as: return {"saved_as", R::notice, S::whole};
    case Problem::entries_uncounted: return {"entries_uncounted", R::notice, S::whole};
    case Problem::unreadable: return {"unreadable", R::foreign, S::whole};
    case Problem::read_short: return {"read_short", R::foreign, S::whole};
    case Problem::not_stored: return {"not_stored", R::foreign, S::whole};
    case Problem::unlisted_folder: return {"unlisted_folder", R::foreign, S::whole};
    case Problem::output_not_written: return {"output_not_written", R::foreign, S::whole};
    case Problem::root_refused: return {"root_refused", R::foreign, S::whole};
    case Problem::tarball_not_read_back: return {"tarball_not_read_back", R::foreign, S::whole};
    case Problem::saved_aside: return {"saved_aside", R::foreign, S::whole};
    case Problem::link_not_followed: return {"link_not_followed", R::foreign, S::whole};
    case Problem::folder_loop: return {"folder_loop", R::foreign, S::whole};
    }
    return {"unclassified", R::unclassified, S::whole};
}

// What one job said: whether it made its output (ran to its end) and its
// problems in order.
struct JobAccount {
    bool ran = false;  // ended within its bound (a cancelled run is not compared)
    bool made = false;
    std::vector<JobProblem> problems;
};

// A file or folder found below the extraction's destination.
struct FoundItem {
    std::string relative;  // with '\' between components
    uint64_t size = 0;
    bool folder = false;
};

struct Accounts {
    ListEnd list_end = ListEnd::whole;
    std::vector<ListedEntry> listed;
    JobAccount test;
    JobAccount extraction;
    std::vector<FoundItem> found;
    // A single compressed file: its one entry is the stream, so a listing
    // that breaks off there goes with test and extraction naming that entry
    // damaged or cut short rather than the archive.
    bool single_file = false;
};

struct Disagreement {
    std::string category;  // a short name of the kind of disagreement, the same for the same cause
    std::string detail;    // one line: what disagreed, with what each said
};

// The outcome, with the first disagreement each of the checks found (the
// archive as a whole, the entries' damage, the files written, the verdicts),
// so that one disagreement does not hide another.
struct Comparison {
    enum Outcome { agree, not_compared, disagree } outcome = agree;
    std::vector<Disagreement> found;
};

// Turns a name into the form the file system compares (case folded).
using NameFold = std::string (*)(const std::string&);

namespace agreement_detail {

inline const char* state_name(ArchiveState state) {
    switch (state) {
    case ArchiveState::whole: return "whole";
    case ArchiveState::damaged: return "damaged";
    case ArchiveState::unreadable: return "unreadable";
    case ArchiveState::too_large: return "too large";
    case ArchiveState::needs_dictionary: return "in need of a dictionary";
    case ArchiveState::names_encrypted: return "with encrypted names";
    }
    return "?";
}

inline ArchiveState listed_state(ListEnd end) {
    switch (end) {
    case ListEnd::whole: return ArchiveState::whole;
    case ListEnd::broken: return ArchiveState::damaged;
    case ListEnd::too_large: return ArchiveState::too_large;
    case ListEnd::needs_dictionary: return ArchiveState::needs_dictionary;
    case ListEnd::names_encrypted: return ArchiveState::names_encrypted;
    case ListEnd::unreadable:
    case ListEnd::unknown_kind: break;
    }
    return ArchiveState::unreadable;
}

// The gravest archive-wide state a job noted.
inline ArchiveState job_state(const JobAccount& job) {
    ArchiveState state = ArchiveState::whole;
    for (const JobProblem& problem : job.problems) {
        const KindRule rule = rule_of(problem.kind);
        if (rule.role == Role::archive_damage && static_cast<int>(rule.state) > static_cast<int>(state)) {
            state = rule.state;
        }
    }
    return state;
}

inline std::string clip(const std::string& text, size_t limit = 160) {
    std::string out = text.size() > limit ? text.substr(0, limit) + "..." : text;
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20) c = '?';
    }
    return out;
}

// "damaged: a.txt (CRC-32 mismatch)"
inline std::string said(const JobProblem& problem) {
    return std::string(rule_of(problem.kind).name) + ": " + clip(problem.name);
}

// A problem's kind and the reason in brackets at the end of its text,
// without numbers or names: "damaged (its data matches its CRC-32 but holds
// # bytes, not the # its header gives)". One cause, one shape.
inline std::string shape_of(const JobProblem& problem) {
    std::string reason;
    const size_t open = problem.name.rfind(" (");
    if (open != std::string::npos && problem.name.back() == ')') reason = clip(problem.name.substr(open), 100);
    std::string out = rule_of(problem.kind).name;
    for (const char c : reason) {
        const bool digit = c >= '0' && c <= '9';
        if (!digit || out.back() != '#') out += digit ? '#' : c;
    }
    return out;
}

inline std::string first_archive_problem(const JobAccount& job, bool shape = false) {
    for (const JobProblem& problem : job.problems) {
        if (rule_of(problem.kind).role == Role::archive_damage) {
            return " (" + (shape ? shape_of(problem) : said(problem)) + ")";
        }
    }
    return "";
}

// "RELATIVE, saved as PLACED" split where the two parts are closest in
// length (PLACED is RELATIVE with a number put in).
inline bool split_renamed(const std::string& text, std::string* relative, std::string* placed) {
    static const std::string SEPARATOR = ", saved as ";
    size_t best = std::string::npos;
    size_t best_gap = SIZE_MAX;
    for (size_t at = text.find(SEPARATOR); at != std::string::npos; at = text.find(SEPARATOR, at + 1)) {
        const size_t right = text.size() - at - SEPARATOR.size();
        const size_t gap = right > at ? right - at : at - right;
        if (gap < best_gap) {
            best = at;
            best_gap = gap;
        }
    }
    if (best == std::string::npos) return false;
    *relative = text.substr(0, best);
    *placed = text.substr(best + SEPARATOR.size());
    return true;
}

// The entries of a listing by their compared names.
struct Listing {
    std::map<std::string, std::vector<uint64_t>> files;  // sizes, one per entry of the name
    std::map<std::string, std::string> shown;            // compared name -> the listing's own
    std::set<std::string> folders;                       // ending in '/'
    std::map<std::string, int> links;                    // the link's own name, before " -> "
    std::map<std::string, std::string> link_names;       // "NAME -> TARGET" -> NAME
    std::set<std::string> named;                         // every name a problem may give
    std::set<std::string> skipped;
    std::set<std::string> ancestors;  // the folders above named entries, ending in '/'
};

// How a problem's text resolves against a listing.
enum class Naming { entry, skipped, unnamed, unknown };

class Comparer {
public:
    Comparer(const Accounts& accounts, NameFold fold) : a_(accounts), fold_(fold) {}
    Comparison run();

private:
    std::string key(const std::string& text) const {
        std::string slashed = text;
        for (char& c : slashed) {
            if (c == '\\') c = '/';
        }
        return fold_(slashed);
    }
    void index_listing();
    Naming resolve(const std::string& text, bool placed, std::string* entry) const;
    static bool names_with_suffix(const std::string& text, const std::string& name);
    bool disagree(const std::string& category, const std::string& detail) {
        result_.outcome = Comparison::disagree;
        result_.found.push_back(Disagreement{category, detail});
        return true;
    }
    std::string shown(const std::string& entry) const {
        const auto found = listing_.shown.find(entry);
        return clip(found == listing_.shown.end() ? entry : found->second);
    }
    // What a job said about an entry, for a detail ("nothing" when it said nothing).
    std::string about(const JobAccount& job, const std::string& entry, bool placed, bool shape = false) const;
    // The category of a disagreement about an entry: the check, and the
    // kinds and reasons (numbers left out) each job gave for it, so that one
    // cause gives one category.
    std::string about_entry(const std::string& check, const std::string& entry) const {
        return check + " [test: " + about(a_.test, entry, false, true) +
               "; extraction: " + about(a_.extraction, entry, true, true) + "]";
    }

    // True when job named the listed entry name damaged or cut short.
    bool names_entry_damaged(const JobAccount& job, const std::string& name) const;
    bool check_kinds();
    bool check_archive();
    void gather_entries();
    bool check_entries();
    bool check_found();
    bool check_verdict();

    const Accounts& a_;
    NameFold fold_;
    Comparison result_;
    Listing listing_;
    ArchiveState test_state_ = ArchiveState::whole;
    ArchiveState extraction_state_ = ArchiveState::whole;
    std::map<std::string, std::string> renamed_;  // placed -> relative, compared names
    // Entries named by each job, by role.
    std::map<std::string, const JobProblem*> test_damage_, extraction_damage_;
    std::map<std::string, const JobProblem*> test_skip_, extraction_skip_;  // "kind|entry"
    std::set<std::string> excused_;                                 // entries a destination matter kept from the disk
    std::set<std::string> extraction_named_;                        // entries any extraction problem names
    std::map<std::string, int> test_counted_, extraction_counted_;  // by kind
    size_t test_faults_ = 0, extraction_faults_ = 0;                // problems about the archive or its entries
};

inline bool Comparer::names_with_suffix(const std::string& text, const std::string& name) {
    if (text.size() <= name.size() || text.compare(0, name.size(), name) != 0) return false;
    const std::string rest = text.substr(name.size());
    return rest.compare(0, 2, " (") == 0 || rest.compare(0, 4, " -> ") == 0 || rest.compare(0, 2, ": ") == 0;
}

inline void Comparer::index_listing() {
    for (const ListedEntry& entry : a_.listed) {
        const std::string k = key(entry.name);
        if (entry.skipped) {
            listing_.skipped.insert(k);
            continue;
        }
        listing_.shown.emplace(k, entry.name);
        listing_.named.insert(k);
        std::string own = k;
        if (!k.empty() && k.back() == '/') {
            listing_.folders.insert(k);
        } else if (k.find(" -> ") != std::string::npos) {
            own = k.substr(0, k.find(" -> "));
            ++listing_.links[own];
            listing_.link_names[k] = own;
            listing_.named.insert(own);
            listing_.shown.emplace(own, entry.name);
        } else {
            listing_.files[k].push_back(entry.size);
        }
        for (size_t slash = own.find('/'); slash != std::string::npos && slash + 1 < own.size();
             slash = own.find('/', slash + 1)) {
            listing_.ancestors.insert(own.substr(0, slash + 1));
        }
    }
}

inline Naming Comparer::resolve(const std::string& text, bool placed, std::string* entry) const {
    std::string k = key(text);
    if (placed) {
        const auto mapped = renamed_.find(k);
        if (mapped != renamed_.end()) k = mapped->second;
    }
    // The whole text, else the longest part of it before a reason that a
    // listed name is.
    const auto named_in = [&k](const std::set<std::string>& names, std::string* name) {
        if (names.count(k)) {
            *name = k;
            return true;
        }
        for (size_t at = k.size(); at-- > 0;) {
            if ((k[at] == ' ' || k[at] == ':') && names_with_suffix(k, k.substr(0, at)) &&
                names.count(k.substr(0, at))) {
                *name = k.substr(0, at);
                return true;
            }
        }
        return false;
    };
    if (named_in(listing_.named, entry)) {
        // A link is known by its own name, whether a problem gives its target or not.
        const auto link = listing_.link_names.find(*entry);
        if (link != listing_.link_names.end()) *entry = link->second;
        return Naming::entry;
    }
    std::string skipped;
    if (named_in(listing_.skipped, &skipped)) return Naming::skipped;
    if (k.empty() || k.compare(0, 2, " (") == 0) return Naming::unnamed;
    return Naming::unknown;
}

inline std::string Comparer::about(const JobAccount& job, const std::string& entry, bool placed, bool shape) const {
    std::string out;
    for (const JobProblem& problem : job.problems) {
        std::string named;
        const Role role = rule_of(problem.kind).role;
        if (role == Role::archive_damage || role == Role::notice) continue;
        if (resolve(problem.name, placed, &named) != Naming::entry || named != entry) continue;
        if (!shape) {
            out += (out.empty() ? "" : "; ") + said(problem);
            continue;
        }
        const std::string piece = shape_of(problem);
        if (out.find(piece) == std::string::npos) out += (out.empty() ? "" : " + ") + piece;
    }
    return out.empty() ? "nothing" : out;
}

inline bool Comparer::check_kinds() {
    const JobAccount* jobs[] = {&a_.test, &a_.extraction};
    const char* sides[] = {"test", "extraction"};
    for (int side = 0; side < 2; ++side) {
        for (const JobProblem& problem : jobs[side]->problems) {
            const KindRule rule = rule_of(problem.kind);
            if (rule.role == Role::stopped) {
                result_.outcome = Comparison::not_compared;
                return true;
            }
            if (rule.role == Role::foreign || rule.role == Role::unclassified) {
                return disagree(std::string("kind ") + rule.name, std::string(sides[side]) + " noted " + said(problem) +
                                                                      ", which no reading of an archive notes");
            }
        }
    }
    return false;
}

inline bool Comparer::names_entry_damaged(const JobAccount& job, const std::string& name) const {
    for (const JobProblem& problem : job.problems) {
        std::string entry;
        if (rule_of(problem.kind).role == Role::entry_damage &&
            resolve(problem.name, &job == &a_.extraction, &entry) == Naming::entry && entry == key(name)) {
            return true;
        }
    }
    return false;
}

inline bool Comparer::check_archive() {
    ArchiveState list = listed_state(a_.list_end);
    test_state_ = job_state(a_.test);
    extraction_state_ = job_state(a_.extraction);
    // A frame that needs a dictionary or more memory, met after the listing
    // found entries, is where the stream breaks off: a reader that met a
    // damaged header before it and one that decoded on to it (an extraction
    // decodes the whole stream before its tarball) tell the same break.
    if (!a_.listed.empty()) {
        for (ArchiveState* state : {&list, &test_state_, &extraction_state_}) {
            if (*state == ArchiveState::too_large || *state == ArchiveState::needs_dictionary) {
                *state = ArchiveState::damaged;
            }
        }
    }
    const auto mismatch = [&](const char* what) {
        return disagree(std::string("archive ") + what + ": list " + state_name(list) + ", test " +
                            state_name(test_state_) + first_archive_problem(a_.test, true) + ", extraction " +
                            state_name(extraction_state_) + first_archive_problem(a_.extraction, true),
                        std::string("list calls the archive ") + state_name(list) + ", test " +
                            state_name(test_state_) + first_archive_problem(a_.test) + ", extraction " +
                            state_name(extraction_state_) + first_archive_problem(a_.extraction));
    };
    for (const ArchiveState state :
         {ArchiveState::unreadable, ArchiveState::too_large, ArchiveState::needs_dictionary,
          ArchiveState::names_encrypted}) {
        const int count = (list == state) + (test_state_ == state) + (extraction_state_ == state);
        if (count != 0 && count != 3) return mismatch(state_name(state));
    }
    if (list == ArchiveState::damaged && a_.single_file && a_.listed.size() == 1 &&
        names_entry_damaged(a_.test, a_.listed[0].name) && names_entry_damaged(a_.extraction, a_.listed[0].name)) {
        list = ArchiveState::whole;  // the entry's damage is compared with the entries
    }
    if (list == ArchiveState::damaged &&
        (test_state_ != ArchiveState::damaged || extraction_state_ != ArchiveState::damaged)) {
        return mismatch("listing broken");
    }
    if ((test_state_ == ArchiveState::damaged) != (extraction_state_ == ArchiveState::damaged)) {
        return mismatch("damaged");
    }
    return false;
}

inline void Comparer::gather_entries() {
    for (const JobProblem& problem : a_.extraction.problems) {
        std::string relative, placed;
        if (rule_of(problem.kind).role == Role::renamed && split_renamed(problem.name, &relative, &placed)) {
            renamed_[key(placed)] = key(relative);
        }
    }
    const struct Side {
        const char* name;
        const JobAccount& job;
        std::map<std::string, const JobProblem*>& damage;
        std::map<std::string, const JobProblem*>& skip;
        std::map<std::string, int>& counted;
        size_t& faults;
        bool extraction;
    } sides[] = {{"test", a_.test, test_damage_, test_skip_, test_counted_, test_faults_, false},
                 {"extraction", a_.extraction, extraction_damage_, extraction_skip_, extraction_counted_,
                  extraction_faults_, true}};
    bool unlisted_noted = false;
    for (const Side& side : sides) {
        for (const JobProblem& problem : side.job.problems) {
            const KindRule rule = rule_of(problem.kind);
            if (rule.role == Role::archive_damage) ++side.faults;
            if (rule.role == Role::counted) {
                ++side.counted[rule.name];
                ++side.faults;
            }
            const bool about_entry = rule.role == Role::entry_damage || rule.role == Role::skip;
            if (!about_entry && !(side.extraction && rule.role == Role::destination)) continue;
            std::string entry;
            const Naming naming = resolve(problem.name, side.extraction, &entry);
            if (side.extraction && naming == Naming::entry) extraction_named_.insert(entry);
            if (rule.role == Role::destination) {
                if (naming == Naming::entry) excused_.insert(entry);
                continue;
            }
            if (naming == Naming::unknown) {
                ++side.faults;
                if (!unlisted_noted) {
                    unlisted_noted =
                        disagree(std::string("unlisted name in ") + side.name,
                                 std::string(side.name) + " noted " + said(problem) + ", an entry the listing lacks");
                }
                continue;
            }
            if (naming != Naming::entry) continue;  // an entry no one extracts
            ++side.faults;
            if (rule.role == Role::entry_damage) {
                // Names that differ only in case share a key: a file kept
                // with its damage noted speaks for the written file.
                const JobProblem*& noted = side.damage[entry];
                if (!noted || problem.kind == Problem::damaged) noted = &problem;
            } else {
                side.skip.emplace(std::string(rule.name) + "|" + entry, &problem);
            }
        }
    }
}

inline bool Comparer::check_entries() {
    for (const auto& damage : test_damage_) {
        if (!extraction_damage_.count(damage.first) && !excused_.count(damage.first)) {
            return disagree(about_entry("damage in test only", damage.first),
                            "test noted " + said(*damage.second) + ", extraction noted " +
                                about(a_.extraction, damage.first, true));
        }
    }
    for (const auto& damage : extraction_damage_) {
        if (!test_damage_.count(damage.first)) {
            return disagree(
                about_entry("damage in extraction only", damage.first),
                "extraction noted " + said(*damage.second) + ", test noted " + about(a_.test, damage.first, false));
        }
    }
    for (const auto& skip : test_skip_) {
        const std::string entry = skip.first.substr(skip.first.find('|') + 1);
        if (!extraction_skip_.count(skip.first) && !excused_.count(entry)) {
            return disagree(
                about_entry("skip in test only", entry),
                "test noted " + said(*skip.second) + ", extraction noted " + about(a_.extraction, entry, true));
        }
    }
    for (const auto& skip : extraction_skip_) {
        if (!test_skip_.count(skip.first)) {
            const std::string entry = skip.first.substr(skip.first.find('|') + 1);
            return disagree(about_entry("skip in extraction only", entry),
                            "extraction noted " + said(*skip.second) + ", test noted " + about(a_.test, entry, false));
        }
    }
    // Raw tar names are compared by number only, and only where both read
    // the whole archive (a test stops at its first broken entry).
    if (test_state_ == ArchiveState::whole && extraction_state_ == ArchiveState::whole &&
        test_counted_ != extraction_counted_) {
        for (const char* kind : {"entry_unreadable", "entry_warning"}) {
            if (test_counted_[kind] != extraction_counted_[kind]) {
                std::string example;
                for (const JobAccount* job : {&a_.test, &a_.extraction}) {
                    for (const JobProblem& problem : job->problems) {
                        if (example.empty() && rule_of(problem.kind).name == std::string(kind)) {
                            example = std::string(", ") + (job == &a_.test ? "test" : "extraction") + " noted " +
                                      said(problem);
                        }
                    }
                }
                return disagree(std::string("count of ") + kind,
                                std::string("test noted ") + std::to_string(test_counted_[kind]) + " " + kind +
                                    ", extraction " + std::to_string(extraction_counted_[kind]) + example);
            }
        }
    }
    return false;
}

inline bool Comparer::check_found() {
    std::map<std::string, std::vector<uint64_t>> written;
    std::set<std::string> folders_found, links_found;
    for (const FoundItem& item : a_.found) {
        std::string k = key(item.relative);
        const auto mapped = renamed_.find(k);
        if (mapped != renamed_.end()) k = mapped->second;
        if (item.folder) {
            k += '/';
            if (!listing_.folders.count(k) && !listing_.ancestors.count(k)) {
                return disagree("unlisted folder",
                                "extraction made the folder " + clip(item.relative) + ", which no listed entry holds");
            }
            folders_found.insert(k);
        } else if (listing_.files.count(k)) {
            written[k].push_back(item.size);
        } else if (listing_.links.count(k)) {
            links_found.insert(k);
        } else if (listing_.skipped.count(k)) {
            return disagree("skipped entry written",
                            "extraction wrote " + clip(item.relative) + ", which the listing gives as skipped");
        } else {
            return disagree("unlisted file", "extraction wrote " + clip(item.relative) + " (" +
                                                 std::to_string(item.size) + " bytes), which the listing lacks");
        }
    }
    const bool stopped_early = extraction_state_ != ArchiveState::whole;
    for (const auto& file : listing_.files) {
        std::multiset<uint64_t> listed(file.second.begin(), file.second.end());
        std::vector<uint64_t> unmatched;
        for (const uint64_t size : written[file.first]) {
            const auto match = listed.find(size);
            if (match != listed.end()) {
                listed.erase(match);
            } else {
                unmatched.push_back(size);
            }
        }
        for (const uint64_t size : unmatched) {
            // A file kept with its damage noted may have any size.
            if (extraction_damage_.count(file.first) && extraction_damage_.at(file.first)->kind == Problem::damaged &&
                !listed.empty()) {
                listed.erase(listed.begin());
                continue;
            }
            if (listed.empty()) {
                return disagree("more files than listed",
                                "extraction wrote " + std::to_string(written[file.first].size()) + " files named " +
                                    shown(file.first) + ", the listing " + std::to_string(file.second.size()));
            }
            return disagree(about_entry("size", file.first),
                            "extraction wrote " + shown(file.first) + " with " + std::to_string(size) +
                                " bytes, listed with " + std::to_string(*listed.begin()) + "; test noted " +
                                about(a_.test, file.first, false) + "; extraction noted " +
                                about(a_.extraction, file.first, true));
        }
        if (!listed.empty() && !extraction_named_.count(file.first) && !stopped_early) {
            return disagree(about_entry("listed file missing", file.first),
                            "listed " + shown(file.first) + " (" + std::to_string(*listed.begin()) +
                                " bytes) was neither extracted nor named in a problem; test noted " +
                                about(a_.test, file.first, false));
        }
    }
    for (const auto& link : listing_.links) {
        if (!links_found.count(link.first) && !extraction_named_.count(link.first) && !stopped_early) {
            return disagree("listed link missing",
                            "listed " + shown(link.first) + " was neither made nor named in a problem");
        }
    }
    for (const std::string& folder : listing_.folders) {
        if (!folders_found.count(folder) && !extraction_named_.count(folder) && !stopped_early) {
            return disagree("listed folder missing",
                            "listed " + shown(folder) + " was neither made nor named in a problem");
        }
    }
    return false;
}

inline bool Comparer::check_verdict() {
    // Faults about entries that a destination matter kept from the disk
    // are the test's alone.
    size_t excused_faults = 0;
    for (const auto& damage : test_damage_) excused_faults += excused_.count(damage.first);
    for (const auto& skip : test_skip_) excused_faults += excused_.count(skip.first.substr(skip.first.find('|') + 1));
    const bool test_sound = a_.test.made && test_faults_ == excused_faults;
    const bool extraction_sound = a_.extraction.made && extraction_faults_ == 0;
    if (test_sound == extraction_sound) return false;
    const auto account = [](const char* name, const JobAccount& job, bool shape) {
        std::string out = std::string(name) + (job.made ? " ran to its end" : " did not run to its end");
        for (const JobProblem& problem : job.problems) {
            const Role role = rule_of(problem.kind).role;
            if (role != Role::notice && role != Role::destination && role != Role::renamed) {
                return out + ", noted " + (shape ? shape_of(problem) : said(problem));
            }
        }
        return out + " and noted nothing";
    };
    return disagree(
        std::string(test_sound ? "verdict: test sound, extraction not" : "verdict: extraction sound, test not") + " [" +
            account("test", a_.test, true) + "; " + account("extraction", a_.extraction, true) + "]",
        account("test", a_.test, false) + "; " + account("extraction", a_.extraction, false));
}

inline Comparison Comparer::run() {
    if (!a_.test.ran || !a_.extraction.ran) {
        result_.outcome = Comparison::not_compared;
        return result_;
    }
    index_listing();
    if (check_kinds()) return result_;
    check_archive();
    gather_entries();
    check_entries();
    check_found();
    // The verdicts, when nothing above explains why they would differ.
    if (result_.found.empty()) check_verdict();
    return result_;
}

}  // namespace agreement_detail

// Compares the three accounts of one archive; names are compared through fold.
inline Comparison compare_accounts(const Accounts& accounts, NameFold fold) {
    return agreement_detail::Comparer(accounts, fold).run();
}
