// The preferences files: the texts written at start-up, parsing with
// comments, the error text and every getter's rules.
#include <gtest/gtest.h>

#include <string>

#include "prefs/preferences.h"
#include "test_folder.h"

namespace {

// Gives each test a data folder and a fresh preferences record.
class Preferences : public ::testing::Test {
protected:
    Preferences() : folder("prefs") { preferences_state = create_preferences_state(folder.path().c_str()); }
    ~Preferences() override {
        destroy_preferences_state(preferences_state);
        preferences_state = nullptr;
    }
    bool load_user(const std::string& text) {
        folder.write("preferences.txt", text);
        return load_preferences(false);
    }
    TestFolder folder;
};

int count(const std::string& text, char c) {
    int n = 0;
    for (char x : text) n += x == c;
    return n;
}

}  // namespace

TEST(PreferencesText, default_file_is_43_lines_of_1071_bytes) {
    const String text = default_preferences_text();
    const std::string s(text.c_str(), text.length());
    EXPECT_EQ(s.size(), 1071u);
    EXPECT_EQ(count(s, '\n'), 43);
    EXPECT_EQ(count(s, '\r'), 0);
    EXPECT_EQ(s.rfind("}\n"), s.size() - 2);
    EXPECT_EQ(s.find("//\n// Welcome to Velmora x64 File Archiver, Version 1.17\n//\n// Velmora preferences\n//\n\n{\n"),
              0u);
    EXPECT_NE(s.find("\n{\n  // Display preferences with Curses interface\n"), std::string::npos);
    EXPECT_NE(s.find("\n  // File dialog.\n  \"preserve_current_directory\": true\n}\n"), std::string::npos);
    EXPECT_TRUE(preferences_text_parses(text.c_str(), text.length(), nullptr));
}

TEST(PreferencesText, stub_is_4_lines_of_116_bytes) {
    const String stub = user_preferences_stub();
    EXPECT_STREQ(stub.c_str(),
                 "{\n  // Add your personal preferences here.\n"
                 "  // Your changes will take effect the next time you relaunch Velmora.\n}\n");
    EXPECT_EQ(stub.length(), 116u);
}

TEST_F(Preferences, first_start_writes_both_files_and_a_later_start_keeps_the_users) {
    write_default_preferences();
    EXPECT_EQ(folder.read("preferences-default.txt").size(), 1071u);
    EXPECT_EQ(folder.read("preferences.txt").size(), 116u);

    folder.write("preferences-default.txt", "edited");
    folder.write("preferences.txt", "{ not json");
    write_default_preferences();
    EXPECT_EQ(folder.read("preferences-default.txt").size(), 1071u) << "the default file is rewritten";
    EXPECT_EQ(folder.read("preferences.txt"), "{ not json") << "an existing user file is never rewritten";
}

TEST_F(Preferences, stub_and_default_file_give_every_fallback) {
    write_default_preferences();
    for (bool use_default : {false, true}) {
        ASSERT_TRUE(load_preferences(use_default));
        EXPECT_TRUE(pref_curses_preferences());
        EXPECT_TRUE(pref_curses_right_focus());
        EXPECT_TRUE(pref_preserve_current_directory());
        EXPECT_FALSE(pref_zstd_enable_checksum());
        EXPECT_FALSE(pref_zstd_keep_tarball());
        EXPECT_EQ(pref_zstd_compression_level(), 1);
        EXPECT_EQ(pref_zlib_compression_level(), 1);
        EXPECT_EQ(pref_action_after_compression(), 0);
        EXPECT_EQ(pref_action_after_decompression(), 0);
    }
}

TEST_F(Preferences, numbers_take_their_integer_part_and_out_of_range_gives_fallback) {
    struct Case {
        const char* text;
        int32_t zstd, zlib, after_compression, after_decompression;
    };
    const Case cases[] = {
        {R"({"zstd_compression_level": 0})", -131072, 1, 0, 0},
        {R"({"zstd_compression_level": 0.7})", -131072, 1, 0, 0},
        {R"({"zstd_compression_level": 19})", 19, 1, 0, 0},
        {R"({"zstd_compression_level": 20})", 1, 1, 0, 0},
        {R"({"zstd_compression_level": -3})", 1, 1, 0, 0},
        {R"({"zstd_compression_level": 1e12})", 1, 1, 0, 0},
        {R"({"zlib_compression_level": 9.9})", 1, 9, 0, 0},
        {R"({"zlib_compression_level": 0})", 1, 0, 0, 0},
        {R"({"zlib_compression_level": 10})", 1, 1, 0, 0},
        {R"({"zlib_compression_level": -1})", 1, 1, 0, 0},
        {R"({"zlib_compression_level": "5"})", 1, 1, 0, 0},
        {R"({"zlib_compression_level": 3, "zlib_compression_level": 7})", 1, 3, 0, 0},
        {R"({"action_after_compression": 2, "action_after_decompression": 1})", 1, 1, 2, 1},
        {R"({"action_after_compression": 3, "action_after_decompression": 2})", 1, 1, 0, 0},
        {R"({"action_after_compression": -1, "action_after_decompression": true})", 1, 1, 0, 0},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(load_user(c.text)) << c.text;
        EXPECT_EQ(pref_zstd_compression_level(), c.zstd) << c.text;
        EXPECT_EQ(pref_zlib_compression_level(), c.zlib) << c.text;
        EXPECT_EQ(pref_action_after_compression(), c.after_compression) << c.text;
        EXPECT_EQ(pref_action_after_decompression(), c.after_decompression) << c.text;
    }
}

TEST_F(Preferences, booleans_change_only_for_the_opposite_literal) {
    struct Case {
        const char* text;
        bool curses, checksum;
    };
    const Case cases[] = {
        {R"({"curses_preferences": false, "zstd_enable_checksum": true})", false, true},
        {R"({"curses_preferences": 0, "zstd_enable_checksum": 1})", true, false},
        {R"({"curses_preferences": null, "zstd_enable_checksum": "true"})", true, false},
        {R"({"Curses_preferences": false, "ZSTD_ENABLE_CHECKSUM": true})", true, false},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(load_user(c.text)) << c.text;
        EXPECT_EQ(pref_curses_preferences(), c.curses) << c.text;
        EXPECT_EQ(pref_zstd_enable_checksum(), c.checksum) << c.text;
    }
}

TEST_F(Preferences, comments_odd_roots_and_trailing_text) {
    ASSERT_TRUE(load_user("// a comment\n{ /* block\n comment */ \"zlib_compression_level\": 4 // end\n}\n"));
    EXPECT_EQ(pref_zlib_compression_level(), 4);
    ASSERT_TRUE(load_user(R"({"zlib_compression_level": 5} {"zlib_compression_level": 6} junk)"));
    EXPECT_EQ(pref_zlib_compression_level(), 5) << "text after the root is ignored";
    ASSERT_TRUE(load_user(R"([{"zlib_compression_level": 5}, false])"));
    EXPECT_EQ(pref_zlib_compression_level(), 1) << "an array root gives fallbacks";
    EXPECT_TRUE(pref_curses_preferences());
    ASSERT_TRUE(load_user("7"));
    EXPECT_EQ(pref_zlib_compression_level(), 1);
    ASSERT_TRUE(load_user(std::string("{\"zlib_compression_level\": 2}\0{broken", 37)));
    EXPECT_EQ(pref_zlib_compression_level(), 2) << "the text ends at a zero byte";
    ASSERT_TRUE(load_user(R"({"s": "has // no comment", "zlib_compression_level": 8})"));
    EXPECT_EQ(pref_zlib_compression_level(), 8) << "comment marks inside strings stay";
}

TEST_F(Preferences, parse_errors_quote_the_minified_rest) {
    EXPECT_FALSE(load_user(""));
    EXPECT_STREQ(preferences_state->error_text.c_str(), "Parse error before: \n");
    EXPECT_EQ(preferences_state->root, nullptr);
    EXPECT_FALSE(pref_curses_preferences() == false);

    // The parser's position, quoted from the text with comments and spaces gone.
    EXPECT_FALSE(load_user("{ key: 1 } // comment"));
    EXPECT_STREQ(preferences_state->error_text.c_str(), "Parse error before: ey:1}\n");
    EXPECT_FALSE(load_user("{\"a\": [1, 2 /* two */ x]}"));
    EXPECT_STREQ(preferences_state->error_text.c_str(), "Parse error before: x]}\n");
    EXPECT_FALSE(load_user("{\n  \"zlib_compression_level\": 3, // trailing comma\n}\n"));
    EXPECT_EQ(preferences_state->root, nullptr);
}

TEST_F(Preferences, missing_file_reads_as_empty_and_error_survives_default_load) {
    EXPECT_FALSE(load_preferences(false));
    EXPECT_STREQ(preferences_state->error_text.c_str(), "Parse error before: \n");
    folder.write("preferences.txt", "{ broken");
    write_default_preferences();
    EXPECT_FALSE(load_preferences(false));
    const std::string error = preferences_state->error_text.c_str();
    ASSERT_TRUE(load_preferences(true));
    EXPECT_EQ(std::string(preferences_state->error_text.c_str()), error);
}

TEST_F(Preferences, a_long_error_text_is_cut_to_2048_bytes) {
    EXPECT_FALSE(load_user("{k" + std::string(5000, 'x') + "}"));
    EXPECT_EQ(preferences_state->error_text.length(), 2048u);
}
