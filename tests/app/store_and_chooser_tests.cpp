// The window-position store and the chooser result formats.
#include <gtest/gtest.h>

#include "app/choosers.h"
#include "io/window_store.h"
#include "test_folder.h"

TEST(WindowStore, reads_numbers_as_windows_does_and_writes_them_back) {
    TestFolder folder("ini");
    const String path = concat(folder.path().c_str(), "velmora.ini");
    set_window_store_path(path.c_str());
    EXPECT_EQ(read_ini_int("main_wnd_x", 50), 50) << "missing file";
    folder.write("velmora.ini", "[velmora]\r\nneg=-7\r\nword=abc\r\nempty=\r\nlead=12px\r\n");
    EXPECT_EQ(read_ini_int("neg", 1), -7);
    EXPECT_EQ(read_ini_int("word", 1), 0) << "a value that is no number reads as 0";
    EXPECT_EQ(read_ini_int("empty", 9), 9) << "an empty value reads as the default";
    EXPECT_EQ(read_ini_int("lead", 1), 12);
    EXPECT_EQ(read_ini_int("absent", 5), 5);
    EXPECT_TRUE(write_ini_int("progress_wnd_x", -20));
    EXPECT_TRUE(write_ini_string("main_wnd_maximized", "1"));
    EXPECT_EQ(read_ini_int("progress_wnd_x", 50), -20);
    EXPECT_EQ(read_ini_int("main_wnd_maximized", 0), 1);
    set_window_store_path("");
}

TEST(Choosers, multiple_selection_lists_are_utf8_and_cut_at_whole_names) {
    const wchar_t one[] = L"C:\\docs\\r\u00e9sum\u00e9.txt\0";
    EXPECT_EQ(selection_list_from_wide(one, 262144), std::string("C:\\docs\\r\xC3\xA9sum\xC3\xA9.txt") + std::string(2, '\0'));
    const wchar_t three[] = L"C:\\docs\0a.txt\0b\0c.md\0";
    EXPECT_EQ(selection_list_from_wide(three, 262144), std::string("C:\\docs\0a.txt\0b\0c.md\0\0", 22));
    EXPECT_EQ(selection_list_from_wide(three, 16), std::string("C:\\docs\0a.txt\0\0", 15))
        << "names that no longer fit are left off the end";
    EXPECT_EQ(selection_list_from_wide(L"\0", 262144), "");
}

TEST(Choosers, the_first_filter_holding_the_extension_is_selected) {
    // "All files" first, so that only the real rule lands anywhere but 1.
    const std::vector<ChooserFilter> decompress = {{"All files (*.*)", "*.*"},
                                                   {"Zstandard files (*.tzst)", "*.tzst"},
                                                   {"ZIP files (*.zip)", "*.zip"},
                                                   {"All supported files", "*.zip;*.tzst"}};
    const struct {
        std::vector<ChooserFilter> filters;
        const char* extension;
        unsigned index;
    } cases[] = {
        {decompress, "zip", 3u},
        {decompress, "TZST", 2u},
        {{{"All files (*.*)", "*.*"}, {"Text files (*.txt)", "*.txt"}}, "txt", 2u},
        {{{"Text", "*.md"}, {"ZIP", "*.ZIP"}}, "zip", 2u},
        {{{"Text", "*.md"}, {"ZIP", "*.zip"}}, "txt", 1u},  // none holds it
        {{{"Text", "*.md"}, {"ZIP", "*.zip"}}, "", 1u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.extension);
        EXPECT_EQ(filter_index_for(c.filters, c.extension), c.index);
    }
}

// The Decompress chooser's own list: it starts on every kind Velmora
// unpacks, then offers a filter per family, each named with its patterns.
TEST(Choosers, the_decompress_list_offers_every_name_velmora_unpacks) {
    const std::vector<ChooserFilter>& filters = decompress_filters();
    std::vector<std::string> shown;
    for (const ChooserFilter& filter : filters) shown.push_back(std::string(filter.name) + " = " + filter.pattern);
    EXPECT_EQ(shown, (std::vector<std::string>{
                         "All supported files = *.zip;*.tzst;*.tar.zst;*.tar.zstd;*.zst;*.zstd;*.tar;*.tar.gz;*.tgz;"
                         "*.tar.bz2;*.tbz2;*.tbz;*.tar.xz;*.txz;*.7z;*.rar;*.gz;*.bz2;*.xz",
                         "ZIP files (*.zip) = *.zip",
                         "Zstandard files (*.tzst, *.tar.zst, *.tar.zstd, *.zst, *.zstd) = "
                         "*.tzst;*.tar.zst;*.tar.zstd;*.zst;*.zstd",
                         "Tar files (*.tar, *.tar.gz, *.tgz, *.tar.bz2, *.tbz2, *.tbz, *.tar.xz, *.txz) = "
                         "*.tar;*.tar.gz;*.tgz;*.tar.bz2;*.tbz2;*.tbz;*.tar.xz;*.txz",
                         "7-Zip files (*.7z) = *.7z", "RAR files (*.rar) = *.rar",
                         "gzip, bzip2 and xz files (*.gz, *.bz2, *.xz) = *.gz;*.bz2;*.xz", "All files (*.*) = *.*"}));
    EXPECT_EQ(filter_index_for(filters, "zip"), 1u) << "Decompress starts on all supported files";
}
