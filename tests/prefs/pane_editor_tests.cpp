// The Preferences window's two editors without a window: the read-only
// filter of the reference pane and the validate-before-save of the user's.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "io/platform.h"
#include "prefs/pane_editors.h"
#include "prefs/preferences.h"
#include "test_folder.h"

namespace {

bool ctrl_held_for_test = false;
bool test_ctrl() { return ctrl_held_for_test; }

class PaneEditors : public ::testing::Test {
protected:
    PaneEditors() : folder("panes") {
        preferences_state = create_preferences_state(folder.path().c_str());
        ctrl_is_held = test_ctrl;
        set_grid_size(&screen, 20, 60);
    }
    ~PaneEditors() override {
        ctrl_is_held_for_test_reset();
        destroy_preferences_state(preferences_state);
        preferences_state = nullptr;
    }
    static void ctrl_is_held_for_test_reset() { ctrl_held_for_test = false; }

    template <typename Editor>
    void load(Editor& editor, const char* name, const std::string& text) {
        folder.write(name, text);
        editor.file_path = concat(folder.path().c_str(), name);
        FILE* stream = open_stream(editor.file_path.c_str(), "rb");
        editor.load_text(stream);
        std::fclose(stream);
    }
    std::string help_row() const {
        std::string text;
        for (int col = 0; col < screen.cols; ++col) {
            const Cell* cell = cell_at(&screen, screen.rows - 1, col);
            text.push_back(cell && cell->ch >= 32 && cell->ch < 127 ? static_cast<char>(cell->ch) : ' ');
        }
        return text.substr(0, text.find_last_not_of(' ') + 1);
    }
    void keys(CellEditor& editor, std::initializer_list<int> codes) {
        for (int code : codes) editor.on_key(code);
    }

    TestFolder folder;
    CellScreen screen;
};

}  // namespace

TEST_F(PaneEditors, the_reference_pane_moves_and_copies_but_never_changes) {
    DefaultPaneEditor editor(&screen);
    load(editor, "preferences-default.txt", "{\n  \"a\": 1\n}\n");
    keys(editor, {'x', KEY_ENTER, KEY_BACKSPACE, KEY_DELETE, KEY_INSERT, 22 /* Ctrl+V */, 24 /* Ctrl+X */,
                  19 /* Ctrl+S */, 26 /* Ctrl+Z */});
    EXPECT_FALSE(editor.modified());
    EXPECT_STREQ(editor.line_text(1).c_str(), "  \"a\": 1");
    keys(editor, {KEY_DOWN, KEY_END});
    EXPECT_EQ(editor.cursor_line, 1);
    EXPECT_EQ(editor.cursor_col, 8);
    keys(editor, {6 /* Ctrl+F without Ctrl held */});
    EXPECT_FALSE(editor.find_prompt_open());
    ctrl_held_for_test = true;
    keys(editor, {6});
    EXPECT_TRUE(editor.find_prompt_open()) << "Ctrl+F opens the find prompt";
    ctrl_held_for_test = false;
    keys(editor, {'a'});
    EXPECT_STREQ(editor.find_text.c_str(), "a") << "the find prompt takes typing";
    EXPECT_FALSE(editor.modified());
}

TEST_F(PaneEditors, ctrl_s_saves_only_text_that_parses) {
    UserPaneEditor editor(&screen);
    load(editor, "preferences.txt", "{\n  \"zlib_compression_level\": 3\n}\n");
    keys(editor, {KEY_DOWN, KEY_END, ','});
    ctrl_held_for_test = true;
    editor.on_key(19);
    ctrl_held_for_test = false;
    EXPECT_EQ(folder.read("preferences.txt"), "{\n  \"zlib_compression_level\": 3\n}\n") << "nothing written";
    EXPECT_NE(help_row().find("Parse error before:"), std::string::npos) << help_row();

    keys(editor, {KEY_BACKSPACE, '0'});
    ctrl_held_for_test = true;
    editor.on_key(19);
    ctrl_held_for_test = false;
    EXPECT_EQ(folder.read("preferences.txt"), "{\n  \"zlib_compression_level\": 30\n}\n");
    EXPECT_NE(help_row().find("Parsed and saved successfully"), std::string::npos) << help_row();
    EXPECT_FALSE(editor.modified());
}

// Lines past 1,024 bytes: what Ctrl+S checks is what it writes, so text
// that the next start cannot parse is never saved, and long text that
// parses is saved and read back at start.
TEST_F(PaneEditors, ctrl_s_checks_the_whole_of_long_lines) {
    const std::string blanks(1060, ' ');
    const struct {
        const char* name;
        std::string text;
        bool parses;
    } cases[] = {
        {"broken after 1,024 bytes", "{\"zlib_compression_level\": 7" + blanks + ", \"tail\": }\n}\n", false},
        {"valid past 1,024 bytes", "{\"zlib_compression_level\": 7" + blanks + ", \"tail\": 1\n}\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        set_grid_size(&screen, 20, 60);  // the last editor let its cells go
        UserPaneEditor editor(&screen);
        load(editor, "preferences.txt", c.text);
        keys(editor, {' '});
        ctrl_held_for_test = true;
        editor.on_key(19);
        ctrl_held_for_test = false;
        const std::string typed = " " + c.text;
        EXPECT_EQ(folder.read("preferences.txt"), c.parses ? typed : c.text);
        EXPECT_NE(help_row().find(c.parses ? "Parsed and saved successfully" : "Parse error before:"),
                  std::string::npos)
            << help_row();
        // The next start reads what was saved.
        EXPECT_EQ(load_preferences(false), c.parses);
        if (c.parses) {
            EXPECT_EQ(pref_zlib_compression_level(), 7);
        }
    }
}

TEST_F(PaneEditors, plain_tab_types_and_ctrl_f12_asks_for_a_relaunch) {
    UserPaneEditor editor(&screen);
    static bool relaunched;
    relaunched = false;
    editor.relaunch = [] { relaunched = true; };
    load(editor, "preferences.txt", "{\n}\n");
    editor.on_key(KEY_TAB);
    EXPECT_TRUE(editor.modified()) << "Tab without Ctrl is an ordinary key";
    editor.on_key(KEY_F12);
    EXPECT_FALSE(relaunched);
    ctrl_held_for_test = true;
    editor.on_key(KEY_F12);
    ctrl_held_for_test = false;
    EXPECT_TRUE(relaunched);
    EXPECT_TRUE(preferences_state->relaunch_requested);
}
