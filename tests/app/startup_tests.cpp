// Start-up: the program folder, portable mode, the parse-error message and the
// shortcut table.
#include <gtest/gtest.h>

#include <string>

#include "app/shell.h"
#include "io/platform.h"
#include "resources/resource_ids.h"
#include "test_folder.h"

TEST(ProgramFolder, is_cut_after_the_last_separator) {
    EXPECT_STREQ(folder_of("C:\\Program Files\\Velmora\\velmora.exe").c_str(), "C:\\Program Files\\Velmora\\");
    EXPECT_STREQ(folder_of("Z:/tmp/build/velmora.exe").c_str(), "Z:/tmp/build/");
    EXPECT_STREQ(folder_of("C:\\a/b\\c.exe").c_str(), "C:\\a/b\\");
}

TEST(PortableMode, needs_a_folder_named_exactly_portable) {
    TestFolder with_file("portable-file");
    with_file.write("portable", "not a folder");
    EXPECT_FALSE(is_portable(with_file.path().c_str()));

    TestFolder capitalised("portable-case");
    create_directory(concat(capitalised.path().c_str(), "Portable").c_str());
    EXPECT_FALSE(is_portable(capitalised.path().c_str()));

    TestFolder real("portable-real");
    create_directory(concat(real.path().c_str(), "other").c_str());
    create_directory(concat(real.path().c_str(), "portable").c_str());
    EXPECT_TRUE(is_portable(real.path().c_str()));

    EXPECT_FALSE(is_portable("Z:\\no\\such\\folder\\"));
}

TEST(PortableMode, selects_the_portable_folder_as_data_folder) {
    String data;
    ASSERT_TRUE(find_data_folder("C:\\apps\\velmora\\", true, data));
    EXPECT_STREQ(data.c_str(), "C:\\apps\\velmora\\portable\\");
    ASSERT_TRUE(find_data_folder("C:\\apps\\velmora\\", false, data));
    const std::string roaming = data.c_str();
    EXPECT_EQ(roaming.substr(roaming.size() - 9), "\\Velmora\\");
}

TEST(ParseErrorMessage, names_both_files_and_is_cut_to_512_bytes) {
    EXPECT_STREQ(parse_error_message("Parse error before: }\n", "C:\\d\\preferences.txt",
                                     "C:\\d\\preferences-default.txt")
                     .c_str(),
                 "Parse error before: }\n\nin C:\\d\\preferences.txt\n\nPress OK to try load the default file:"
                 "\n\nC:\\d\\preferences-default.txt");
    const std::string long_error = "Parse error before: " + std::string(2000, 'x') + "\n";
    EXPECT_EQ(parse_error_message(long_error.c_str(), "a", "b").length(), 512u);
}

TEST(Shortcuts, modifiers_select_the_command) {
    struct Case {
        const char* name;
        WPARAM key;
        bool ctrl, shift, alt, first;
        int command;
    };
    const Case cases[] = {
        {"ctrl_z", 'Z', true, false, false, true, CMD_COMPRESS_FOLDER},
        {"ctrl_shift_z", 'Z', true, true, false, true, CMD_COMPRESS_FILE},
        {"ctrl_alt_z", 'Z', true, false, true, true, 0},
        {"ctrl_d", 'D', true, false, false, false, CMD_DECOMPRESS_FILE},
        {"ctrl_shift_d", 'D', true, true, false, true, 0},
        {"ctrl_q", 'Q', true, false, false, true, CMD_EXIT},
        {"plain_q", 'Q', false, false, false, true, 0},
        {"ctrl_0", '0', true, false, false, true, CMD_DEFLATE},
        {"ctrl_numpad_0", VK_NUMPAD0, true, false, false, true, 0},
        {"ctrl_1", '1', true, false, false, true, CMD_ZSTANDARD},
        {"ctrl_numpad_1", VK_NUMPAD1, true, false, false, true, 0},
        {"ctrl_p", 'P', true, false, false, true, CMD_PREFERENCES},
        {"ctrl_f1", VK_F1, true, false, false, true, CMD_ABOUT},
        {"ctrl_f1_repeat_bit_clear", VK_F1, true, false, false, false, 0},
        {"ctrl_f2", VK_F2, true, false, false, true, CMD_CHANGELOG},
        {"ctrl_f3", VK_F3, true, false, false, true, CMD_VERSION},
        {"ctrl_shift_f3", VK_F3, true, true, false, true, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(shortcut_command(c.key, c.ctrl, c.shift, c.alt, c.first), c.command) << c.name;
    }
}
