// The cell grid without a window: the drawing interface and the key
// translation table.
#include <gtest/gtest.h>

#include "editor/cell_screen.h"

namespace {

class Grid : public ::testing::Test {
protected:
    void SetUp() override { set_grid_size(&screen, 3, 5); }
    void TearDown() override { detach(&screen); }
    uint16_t ch(int row, int col) const { return cell_at(&screen, row, col)->ch; }
    CellScreen screen;
};

}  // namespace

TEST_F(Grid, text_is_written_with_the_current_attribute_and_stops_at_the_edge) {
    screen.attr = 7;
    move_to(&screen, 1, 2, false);
    add_text(&screen, "abcdef", -1);
    EXPECT_EQ(ch(1, 2), 'a');
    EXPECT_EQ(ch(1, 4), 'c');
    EXPECT_EQ(cell_at(&screen, 1, 4)->attr, 7);
    EXPECT_EQ(ch(2, 0), 0) << "text must not wrap into the next row";
    EXPECT_EQ(screen.cursor_col, 5);
}

TEST_F(Grid, byte_limit_bounds_the_text) {
    add_text(&screen, "abc", 2);
    EXPECT_EQ(ch(0, 1), 'b');
    EXPECT_EQ(ch(0, 2), 0);
    add_text(&screen, "xyz", 0);
    EXPECT_EQ(ch(0, 2), 0);
    EXPECT_EQ(screen.cursor_col, 2);
}

TEST_F(Grid, zero_bytes_inside_a_counted_text_show_blank) {
    add_text(&screen, "a\0b", 3);
    EXPECT_EQ(ch(0, 1), 0);
    EXPECT_EQ(ch(0, 2), 'b');
}

TEST_F(Grid, characters_fill_one_cell_each) {
    add_text(&screen, "\xC3\xA9\xF0\x9F\x98\x80\xF8\x88\x80\x80\x80z", -1);
    EXPECT_EQ(ch(0, 0), 0xE9);
    EXPECT_EQ(ch(0, 1), 0xF600) << "only the low 16 bits of a code point are kept";
    EXPECT_EQ(ch(0, 2), '_');
    EXPECT_EQ(ch(0, 3), 'z');
}

TEST_F(Grid, nothing_is_written_outside_the_grid) {
    move_to(&screen, 3, 0, false);
    add_text(&screen, "x", -1);
    move_to(&screen, 0, 5, false);
    add_text(&screen, "x", -1);
    clear_to_end_of_row(&screen);
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 5; ++col) EXPECT_EQ(ch(row, col), 0);
    EXPECT_EQ(cell_at(&screen, 3, 0), nullptr);
}

TEST_F(Grid, negative_positions_become_zero) {
    move_to(&screen, -4, -1, false);
    EXPECT_EQ(screen.cursor_row, 0);
    EXPECT_EQ(screen.cursor_col, 0);
}

TEST_F(Grid, clearing_blanks_the_rest_of_the_row_with_the_clear_attribute) {
    add_text(&screen, "abcde", -1);
    move_to(&screen, 0, 2, false);
    screen.clear_attr = 26;
    clear_to_end_of_row(&screen);
    EXPECT_EQ(ch(0, 1), 'b');
    EXPECT_EQ(ch(0, 2), 0);
    EXPECT_EQ(cell_at(&screen, 0, 4)->attr, 26);
    EXPECT_EQ(cell_at(&screen, 0, 1)->attr, 0);
}

TEST_F(Grid, a_grid_is_never_smaller_than_one_cell) {
    set_grid_size(&screen, 0, -3);
    EXPECT_EQ(screen.rows, 1);
    EXPECT_EQ(screen.cols, 1);
    add_text(&screen, "xy", -1);
    EXPECT_EQ(ch(0, 0), 'x');
}

TEST(KeyTranslation, ctrl_letters_and_keypad_give_control_codes) {
    EXPECT_EQ(translate_key(WM_KEYDOWN, 'A', true, false), 1);
    EXPECT_EQ(translate_key(WM_KEYDOWN, 'Z', true, false), 26);
    EXPECT_EQ(translate_key(WM_KEYDOWN, 97, true, false), 1);    // keypad 1
    EXPECT_EQ(translate_key(WM_KEYDOWN, 111, true, false), 15);  // keypad /
    EXPECT_EQ(translate_key(WM_KEYDOWN, VK_OEM_4, true, false), 27);
    EXPECT_EQ(translate_key(WM_KEYDOWN, VK_OEM_6, true, false), 29);
}

TEST(KeyTranslation, letters_without_ctrl_or_with_ctrl_alt_give_nothing) {
    EXPECT_EQ(translate_key(WM_KEYDOWN, 'A', false, false), KEY_NONE);
    EXPECT_EQ(translate_key(WM_KEYDOWN, 'A', true, true), KEY_NONE) << "Ctrl+Alt (AltGr) is left to WM_CHAR";
    EXPECT_EQ(translate_key(WM_KEYDOWN, VK_OEM_4, true, true), KEY_NONE);
    EXPECT_EQ(translate_key(WM_KEYDOWN, VK_CONTROL, true, false), KEY_NONE);
    EXPECT_EQ(translate_key(WM_KEYDOWN, VK_OEM_4, false, false), KEY_NONE);
}

TEST(KeyTranslation, fixed_keys_ignore_modifiers) {
    EXPECT_EQ(translate_key(WM_KEYDOWN, VK_BACK, false, true), KEY_BACKSPACE);
    EXPECT_EQ(translate_key(WM_KEYDOWN, VK_TAB, true, false), KEY_TAB);
    EXPECT_EQ(translate_key(WM_KEYDOWN, VK_RETURN, true, false), KEY_ENTER);
    EXPECT_EQ(translate_key(WM_KEYDOWN, VK_ESCAPE, false, false), KEY_ESCAPE);
    EXPECT_EQ(translate_key(WM_KEYDOWN, VK_DOWN, false, false), KEY_DOWN);
    EXPECT_EQ(translate_key(WM_KEYDOWN, VK_LEFT, true, false), KEY_LEFT);
    EXPECT_EQ(translate_key(WM_KEYDOWN, VK_HOME, false, false), KEY_HOME);
    EXPECT_EQ(translate_key(WM_KEYDOWN, VK_DELETE, false, false), KEY_DELETE);
    EXPECT_EQ(translate_key(WM_KEYDOWN, VK_F1, false, false), KEY_F1);
    EXPECT_EQ(translate_key(WM_KEYDOWN, VK_F12, false, false), KEY_F12);
}

TEST(KeyTranslation, characters_arrive_through_wm_char_from_space_up) {
    EXPECT_EQ(translate_key(WM_CHAR, 'a', false, false), 'a');
    EXPECT_EQ(translate_key(WM_CHAR, 0x20AC, true, true), 0x20AC) << "AltGr characters";
    EXPECT_EQ(translate_key(WM_CHAR, 1, true, false), KEY_NONE) << "Ctrl+A must not also type a character";
    EXPECT_EQ(translate_key(WM_CHAR, 13, false, false), KEY_NONE);
    EXPECT_EQ(translate_key(WM_KEYUP, 'A', true, false), KEY_NONE);
}
