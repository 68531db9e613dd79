// Character arithmetic: how bytes split into cells, columns against bytes,
// and the UTF-16 conversions of the clipboard.
#include <gtest/gtest.h>

#include <string>

#include "editor/cell_text.h"

namespace {

int32_t columns(const std::string& text) { return columns_for_bytes(text.data(), text.size(), text.size()); }

uint32_t first_code(const std::string& text, size_t* length) {
    uint32_t code = 0;
    *length = decode_utf8_char(text.data(), text.size(), &code);
    return code;
}

}  // namespace

TEST(CellText, valid_sequences_are_one_character_each) {
    size_t length;
    EXPECT_EQ(first_code("\xC3\xA9", &length), 0xE9u);
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(first_code("\xE2\x82\xAC", &length), 0x20ACu);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(first_code("\xF0\x9F\x98\x80", &length), 0x1F600u);
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(columns("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z"), 5);
}

TEST(CellText, over_long_and_broken_sequences_count_byte_by_byte) {
    EXPECT_EQ(columns("\xC0\x80"), 2);          // over-long 2-byte form
    EXPECT_EQ(columns("\xE0\x80\x80"), 3);      // over-long 3-byte form
    EXPECT_EQ(columns("\xF0\x80\x80\x80"), 4);  // over-long 4-byte form
    EXPECT_EQ(columns("\xE2\x82"), 2);          // cut short
    EXPECT_EQ(columns("\x80\xFF"), 2);
    size_t length;
    EXPECT_EQ(first_code("\xFF", &length), 0xFFu);  // a stray byte is its own value
}

TEST(CellText, five_and_six_byte_forms_are_one_underscore) {
    size_t length;
    EXPECT_EQ(first_code("\xF8\x88\x80\x80\x80", &length), uint32_t{'_'});
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(first_code("\xFC\x84\x80\x80\x80\x80", &length), uint32_t{'_'});
    EXPECT_EQ(length, 6u);
}

TEST(CellText, columns_and_bytes_convert_both_ways) {
    const std::string text = "a\xC3\xA9" "b\xE2\x82\xAC";  // a é b €
    EXPECT_EQ(bytes_for_columns(text.data(), text.size(), 0), 0u);
    EXPECT_EQ(bytes_for_columns(text.data(), text.size(), 2), 3u);
    EXPECT_EQ(bytes_for_columns(text.data(), text.size(), 4), 7u);
    EXPECT_EQ(bytes_for_columns(text.data(), text.size(), 99), 7u);
    EXPECT_EQ(bytes_for_columns(text.data(), text.size(), -3), 0u);
    EXPECT_EQ(columns_for_bytes(text.data(), text.size(), 3), 2);
    EXPECT_EQ(columns_for_bytes(text.data(), text.size(), 2), 2);  // é starts within the first 2 bytes
    EXPECT_EQ(columns_for_bytes(text.data(), text.size(), 100), 4);
}

TEST(CellText, encoding_refuses_surrogates_and_values_beyond_unicode) {
    char out[4];
    EXPECT_EQ(encode_utf8(0xD800, out), 1u);
    EXPECT_EQ(out[0], '_');
    EXPECT_EQ(encode_utf8(0x110000, out), 1u);
    EXPECT_EQ(out[0], '_');
    ASSERT_EQ(encode_utf8(0x1F600, out), 4u);
    EXPECT_EQ(std::string(out, 4), "\xF0\x9F\x98\x80");
    ASSERT_EQ(encode_utf8(0x20AC, out), 3u);
    EXPECT_EQ(std::string(out, 3), "\xE2\x82\xAC");
}

TEST(CellText, clipboard_units_count_surrogate_pairs) {
    const std::string text = "a\xF0\x9F\x98\x80" "b";
    ASSERT_EQ(utf8_to_utf16_units(text.data(), text.size(), nullptr), 4u);
    wchar_t units[4];
    utf8_to_utf16_units(text.data(), text.size(), units);
    EXPECT_EQ(units[1], 0xD83D);
    EXPECT_EQ(units[2], 0xDE00);
    String back;
    utf16_units_to_utf8(units, 4, back);
    EXPECT_EQ(std::string(back.c_str(), back.length()), text);
}

TEST(CellText, lone_surrogates_from_the_clipboard_become_underscores) {
    const wchar_t units[] = {L'x', 0xD83D, L'y', 0xDE00, 0, L'z'};
    String text;
    utf16_units_to_utf8(units, 6, text);
    EXPECT_STREQ(text.c_str(), "x_y_");
}
