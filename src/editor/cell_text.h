// Character arithmetic of the character-cell editor: how UTF-8 bytes split
// into the characters that occupy one cell each, and the conversions between
// character columns and byte offsets. Pure functions; any thread.
//
// A character is what decode_utf8_char of the platform layer takes: stray
// bytes are one character each, 5- and 6-byte forms one "_".
#pragma once

#include <cstddef>
#include <cstdint>

#include "io/grow_buffer.h"
#include "io/platform.h"

// The character that starts at text: decode_utf8_char of the platform layer.

// Byte length of the first columns characters of text (length bytes),
// stopping at its end. A negative columns counts as 0.
size_t bytes_for_columns(const char* text, size_t length, int64_t columns);
// Number of characters that start within the first bytes bytes of text.
int32_t columns_for_bytes(const char* text, size_t length, size_t bytes);
inline int32_t column_count(const String& line) { return columns_for_bytes(line.c_str(), line.length(), line.length()); }

// Writes the UTF-8 form of code into out (at least 4 bytes) and returns its
// length; surrogates and values above 0x10FFFF cannot be encoded and give
// "_".
size_t encode_utf8(uint32_t code, char* out);

// UTF-16 form of a UTF-8 text for the clipboard, decoded by the cell rule
// (a stray byte becomes the code point of its value). Returns the number of
// UTF-16 units written; with out null only counts them. No terminator.
size_t utf8_to_utf16_units(const char* text, size_t length, wchar_t* out);

// Appends the UTF-8 form of count UTF-16 units to out, stopping at a zero
// unit. A surrogate pair becomes its code point; a lone surrogate "_".
void utf16_units_to_utf8(const wchar_t* units, size_t count, String& out);
