// The credits roll's arithmetic: where lines land and how long the fade lasts.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "windows/about_window.h"

namespace {

CreditRoll opened_roll() {
    CreditRoll roll;
    for (int i = 0; i < CREDIT_LINE_COUNT; ++i) {
        if (!*credit_lines[i]) roll.blank_line_indices.push_back(i);
    }
    return roll;
}

}  // namespace

TEST(CreditRoll, the_table_has_its_fixed_lines) {
    EXPECT_STREQ(credit_lines[0], "Velmora");
    EXPECT_STREQ(credit_lines[5], "Developed by:");
    EXPECT_STREQ(credit_lines[11], "Zstandard:");
    EXPECT_STREQ(credit_lines[21], "libarchive:");
    EXPECT_STREQ(credit_lines[52], "Compressor | ZLIB");
    EXPECT_STREQ(credit_lines[62], "and");
    EXPECT_STREQ(credit_lines[68], "Velmora");
    const std::vector<int> blanks = opened_roll().blank_line_indices;
    EXPECT_EQ(blanks, (std::vector<int>{4, 7, 10, 16, 20, 40, 45, 49, 53, 56, 64, 67}));
}

TEST(CreditRoll, the_first_frame_shows_lines_0_and_1_at_the_bottom) {
    CreditRoll roll = opened_roll();
    std::vector<std::pair<int, int>> drawn;
    roll.frame([](int) { return 16; }, [&](int index, int top) { drawn.emplace_back(index, top); });
    EXPECT_EQ(drawn, (std::vector<std::pair<int, int>>{{0, 194}, {1, 210}}));
    EXPECT_EQ(roll.scroll_offset, 1);
    EXPECT_GT(roll.scroll_end, 0);
}

TEST(CreditRoll, the_fade_lasts_46_frames_then_restarts_lower) {
    CreditRoll roll = opened_roll();
    const auto measure = [](int) { return 16; };
    const auto ignore = [](int, int) {};
    roll.frame(measure, ignore);
    roll.scroll_offset = roll.scroll_end + 1;
    int frames = 0;
    while (roll.scroll_offset != -32) {
        roll.frame(measure, ignore);
        ++frames;
        ASSERT_LT(frames, 100);
    }
    EXPECT_EQ(frames, 46);
    EXPECT_EQ(roll.fade_alpha, 255);
}
