// The differential check's own cases: made-up accounts of list, test and
// extraction, each with the outcome the comparison must reach. Run by
// `velmora-fuzz --self-test` and before every fuzzing run; header only, as
// the tool is built from one source file.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "fuzz_agreement.h"

namespace agreement_cases {

// Accounts built entry by entry; both jobs ran to their end unless a case says not.
struct Make {
    Accounts a;
    Make() {
        a.test.ran = a.test.made = true;
        a.extraction.ran = a.extraction.made = true;
    }
    Make& list(const std::string& name, uint64_t size = 0, bool skipped = false) {
        a.listed.push_back(ListedEntry{name, size, skipped});
        return *this;
    }
    Make& list_end(ListEnd end) {
        a.list_end = end;
        return *this;
    }
    Make& test(Problem kind, const std::string& name) {
        a.test.problems.push_back(JobProblem{kind, name, ""});
        return *this;
    }
    Make& extraction(Problem kind, const std::string& name) {
        a.extraction.problems.push_back(JobProblem{kind, name, ""});
        return *this;
    }
    Make& file(const std::string& relative, uint64_t size) {
        a.found.push_back(FoundItem{relative, size, false});
        return *this;
    }
    Make& folder(const std::string& relative) {
        a.found.push_back(FoundItem{relative, 0, true});
        return *this;
    }
    Make& test_made(bool made) {
        a.test.made = made;
        return *this;
    }
    Make& extraction_made(bool made) {
        a.extraction.made = made;
        return *this;
    }
    Make& single_file() {
        a.single_file = true;
        return *this;
    }
    Make& extraction_ran(bool ran) {
        a.extraction.ran = ran;
        return *this;
    }
};

struct Case {
    const char* name;
    Accounts accounts;
    Comparison::Outcome expected;
    const char* category;  // the disagreement's category begins with this
};

inline std::vector<Case> cases() {
    using P = Problem;
    const auto agree = Comparison::agree;
    const auto disagree = Comparison::disagree;
    const auto skipped = Comparison::not_compared;
    const std::string crc = " (CRC-32 mismatch)";
    return {
        {"sound_archive_with_folders_agrees",
         Make().list("a.txt", 5).list("sub/").list("sub/b.txt", 3).list("deep/er/c.txt", 1)
             .file("a.txt", 5).folder("sub").file("sub\\b.txt", 3).folder("deep").folder("deep\\er")
             .file("deep\\er\\c.txt", 1).a,
         agree, ""},
        {"names_compare_without_regard_to_case",
         Make().list("Dir/x.txt", 1).list("dir/y.txt", 2).folder("Dir").file("Dir\\x.txt", 1).file("Dir\\y.txt", 2).a,
         agree, ""},
        {"file_written_short_while_test_calls_it_damaged",
         Make().list("t.txt", 960)
             .test(P::damaged, "t.txt (its data matches its CRC-32 but holds 0 bytes, not the 960 its header gives)")
             .test_made(true).file("t.txt", 0).a,
         disagree, "damage in test only"},
        {"file_of_another_size_than_listed_without_a_word",
         Make().list("t.txt", 960).file("t.txt", 10).a, disagree, "size"},
        {"damaged_file_kept_with_its_note_may_have_any_size",
         Make().list("t.txt", 960).test(P::damaged, "t.txt" + crc).extraction(P::damaged, "t.txt").file("t.txt", 900).a,
         agree, ""},
        {"damage_only_extraction_sees",
         Make().list("t.txt", 3).extraction(P::cut_short, "t.txt").a, disagree, "damage in extraction only"},
        {"file_renamed_for_case_maps_back_to_its_entry",
         Make().list("A.txt", 1).list("a.txt", 2).extraction(P::renamed, "a.txt, saved as a (2).txt")
             .file("A.txt", 1).file("a (2).txt", 2).a,
         agree, ""},
        {"damage_of_a_renamed_file_is_named_by_its_entry",
         Make().list("a.txt", 1).list("a.txt", 2).extraction(P::renamed, "a.txt, saved as a (2).txt")
             .extraction(P::cut_short, "a (2).txt").test(P::cut_short, "a.txt (its data is damaged or cut short)")
             .file("a.txt", 1).a,
         agree, ""},
        {"file_renamed_for_the_very_same_name_maps_back",
         Make().list("a.txt", 1).list("a.txt", 2).extraction(P::renamed_same, "a.txt, saved as a (2).txt")
             .file("a.txt", 1).file("a (2).txt", 2).a,
         agree, ""},
        {"more_files_of_a_name_than_listed",
         Make().list("a.txt", 1).extraction(P::renamed, "a.txt, saved as a (2).txt").file("a.txt", 1)
             .file("a (2).txt", 1).a,
         disagree, "more files than listed"},
        {"file_the_listing_lacks", Make().list("a.txt", 1).file("a.txt", 1).file("x.txt", 4).a, disagree,
         "unlisted file"},
        {"folder_the_listing_lacks", Make().list("a.txt", 1).file("a.txt", 1).folder("stray").a, disagree,
         "unlisted folder"},
        {"listed_file_missing_without_a_word", Make().list("a.txt", 1).list("b.txt", 2).file("a.txt", 1).a, disagree,
         "listed file missing"},
        {"listed_folder_missing_without_a_word", Make().list("e/").a, disagree, "listed folder missing"},
        {"file_the_disk_refused_excuses_what_test_says",
         Make().list("a/b.txt", 4).test(P::damaged, "a/b.txt" + crc).extraction(P::not_written, "a\\b.txt").a, agree,
         ""},
        {"entries_after_the_break_of_a_damaged_archive",
         Make().list("a.txt", 1).list("b.txt", 2).list_end(ListEnd::broken)
             .test(P::archive_damaged, "a.zip (it breaks off after 2 entries)")
             .extraction(P::archive_damaged, "a.zip").test_made(false).extraction_made(false).file("a.txt", 1).a,
         agree, ""},
        {"unreadable_to_all_three",
         Make().list_end(ListEnd::unreadable).test(P::unreadable_archive, "a.tzst")
             .extraction(P::unreadable_archive, "a.tzst").test_made(false).extraction_made(false).a,
         agree, ""},
        {"unreadable_to_the_listing_damaged_to_extraction",
         Make().list_end(ListEnd::unreadable).test(P::unreadable_archive, "a.tzst")
             .extraction(P::archive_damaged, "a.tzst").test_made(false).a,
         disagree, "archive unreadable"},
        {"listing_breaks_off_while_test_finds_it_whole",
         Make().list("a.txt", 1).list_end(ListEnd::broken).extraction(P::archive_damaged, "a.zip")
             .extraction_made(false).file("a.txt", 1).a,
         disagree, "archive listing broken"},
        {"single_file_cut_short_to_all_three",
         Make().single_file().list("a", 70).list_end(ListEnd::broken).test(P::cut_short, "a (its data is damaged or cut short)")
             .extraction(P::cut_short, "a").test_made(false).extraction_made(false).a,
         agree, ""},
        {"single_file_cut_short_where_extraction_finds_it_whole",
         Make().single_file().list("a", 70).list_end(ListEnd::broken).test(P::cut_short, "a (its data is damaged or cut short)")
             .test_made(false).file("a", 70).a,
         disagree, "archive listing broken"},
        {"archive_damaged_to_test_only",
         Make().list("a.txt", 1).test(P::archive_damaged, "a.tzst (damaged after its last entry)").test_made(false)
             .file("a.txt", 1).a,
         disagree, "archive damaged"},
        {"too_large_to_all_three",
         Make().list_end(ListEnd::too_large).test(P::needs_memory, "a.tzst").extraction(P::needs_memory, "a.tzst")
             .test_made(false).extraction_made(false).a,
         agree, ""},
        {"dictionary_wanted_by_all_three",
         Make().list_end(ListEnd::needs_dictionary).test(P::needs_dictionary, "a.tzst")
             .extraction(P::needs_dictionary, "a.tzst").test_made(false).extraction_made(false).a,
         agree, ""},
        {"dictionary_wanted_by_list_and_test_only",
         Make().list_end(ListEnd::needs_dictionary).test(P::needs_dictionary, "a.tzst")
             .extraction(P::archive_damaged, "a.tzst").test_made(false).extraction_made(false).a,
         disagree, "archive in need of a dictionary"},
        {"unsafe_name_is_the_destination_s_matter",
         Make().list("../evil", 0, true).list("ok.txt", 1).test(P::unsafe_name, "../evil")
             .extraction(P::unsafe_name, "../evil").extraction_made(true).file("ok.txt", 1).a,
         agree, ""},
        {"unsafe_name_that_test_does_not_note",
         Make().list("../evil", 0, true).extraction(P::unsafe_name, "../evil").a, agree, ""},
        {"what_test_says_of_a_skipped_entry_is_left_aside",
         Make().list("../x", 0, true).test(P::damaged, "../x" + crc).extraction(P::unsafe_name, "../x").a, agree, ""},
        {"what_test_says_of_an_unnamed_entry_is_left_aside", Make().test(P::damaged, crc).a, agree, ""},
        {"test_names_an_entry_the_listing_lacks", Make().list("a.txt", 1).file("a.txt", 1)
             .test(P::damaged, "ghost.txt" + crc).a,
         disagree, "unlisted name in test"},
        {"encrypted_entry_both_pass_over",
         Make().list("s/k.bin", 9).test(P::encrypted, "s/k.bin").extraction(P::encrypted, "s\\k.bin").folder("s").a,
         agree, ""},
        {"shared_data_both_pass_over",
         Make().list("a.txt", 3).list("b.txt", 3).test(P::shares_data, "b.txt").extraction(P::shares_data, "b.txt")
             .file("a.txt", 3).a,
         agree, ""},
        {"shared_data_only_test_passes_over",
         Make().list("a.txt", 3).list("b.txt", 3).test(P::shares_data, "b.txt").file("a.txt", 3).file("b.txt", 3).a,
         disagree, "skip in test only"},
        {"method_only_extraction_passes_over",
         Make().list("k.bin", 9).extraction(P::unknown_method, "k.bin").a, disagree, "skip in extraction only"},
        {"links_not_made_and_a_hard_link_copied",
         Make().list("a.txt", 5).list("l -> a.txt").list("h -> a.txt").list("f")
             .extraction(P::symlink_skipped, "l -> a.txt").extraction(P::special_skipped, "f (fifo)")
             .file("a.txt", 5).file("h", 5).a,
         agree, ""},
        {"tar_warning_only_extraction_notes",
         Make().list("a.txt", 1).extraction(P::entry_warning, "a.txt: Pathname can't be converted").file("a.txt", 1).a,
         disagree, "count of entry_warning"},
        {"unusable_headers_both_count",
         Make().test(P::entry_unreadable, "x (header could not be read)").extraction(P::entry_unreadable, "x: bad").a,
         agree, ""},
        {"extraction_that_stops_silently",
         Make().list("a.txt", 1).extraction_made(false).file("a.txt", 1).a, disagree,
         "verdict: test sound, extraction not"},
        {"a_full_disk_is_not_compared",
         Make().list("a.txt", 1).extraction(P::extraction_stopped, "a\\a.txt: the disk is full").a, skipped, ""},
        {"a_cancelled_run_is_not_compared", Make().list("a.txt", 1).extraction_ran(false).a, skipped, ""},
        {"a_compression_kind_from_a_reading", Make().list("a.txt", 1).test(P::read_short, "a.txt").file("a.txt", 1).a,
         disagree, "kind read_short"},
    };
}

}  // namespace agreement_cases

// Runs every case and the checks of the kind table; prints each failure and
// returns how many failed.
inline int run_agreement_cases(NameFold fold) {
    int failed = 0;
    for (const agreement_cases::Case& c : agreement_cases::cases()) {
        const Comparison got = compare_accounts(c.accounts, fold);
        const std::string expected = c.category;
        bool category_ok = expected.empty() && got.found.empty();
        for (const Disagreement& d : got.found) {
            category_ok = category_ok || d.category.compare(0, expected.size(), expected) == 0;
        }
        if (got.outcome != c.expected || !category_ok) {
            std::printf("agreement case %s: got %d, expected %d \"%s\"\n", c.name, got.outcome, c.expected, c.category);
            for (const Disagreement& d : got.found) std::printf("  %s: %s\n", d.category.c_str(), d.detail.c_str());
            ++failed;
        }
    }
    // The table's notices are the job frame's.
    for (int value = 0; value < 256; ++value) {
        const Problem kind = static_cast<Problem>(value);
        const Role role = rule_of(kind).role;
        if (role != Role::unclassified && (role == Role::notice) != is_notice(kind)) {
            std::printf("agreement table: %s is%s a notice to the job frame\n", rule_of(kind).name,
                        is_notice(kind) ? "" : " not");
            ++failed;
        }
    }
    // "RELATIVE, saved as PLACED" where the name itself holds the words.
    std::string relative, placed;
    if (!agreement_detail::split_renamed("a, saved as b.txt, saved as a, saved as b (2).txt", &relative, &placed) ||
        relative != "a, saved as b.txt" || placed != "a, saved as b (2).txt") {
        std::printf("agreement: a renamed note was split as \"%s\" and \"%s\"\n", relative.c_str(), placed.c_str());
        ++failed;
    }
    return failed;
}
