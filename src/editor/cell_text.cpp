// Character arithmetic of the character-cell editor (see cell_text.h).
#include "editor/cell_text.h"

#include <cstring>

#include "io/banned.h"

size_t bytes_for_columns(const char* text, size_t length, int64_t columns) {
    size_t offset = 0;
    uint32_t code;
    for (int64_t i = 0; i < columns && offset < length; ++i) {
        offset += decode_utf8_char(text + offset, length - offset, &code);
    }
    return offset < length ? offset : length;
}

int32_t columns_for_bytes(const char* text, size_t length, size_t bytes) {
    if (bytes > length) bytes = length;
    int32_t columns = 0;
    size_t offset = 0;
    uint32_t code;
    while (offset < bytes) {
        offset += decode_utf8_char(text + offset, length - offset, &code);
        ++columns;
    }
    return columns;
}

size_t encode_utf8(uint32_t code, char* out) {
    auto* p = reinterpret_cast<unsigned char*>(out);
    if (code < 0x80) {
        p[0] = static_cast<unsigned char>(code);
        return 1;
    }
    if (code < 0x800) {
        p[0] = static_cast<unsigned char>(0xC0 | code >> 6);
        p[1] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        return 2;
    }
    if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
        p[0] = '_';
        return 1;
    }
    if (code < 0x10000) {
        p[0] = static_cast<unsigned char>(0xE0 | code >> 12);
        p[1] = static_cast<unsigned char>(0x80 | (code >> 6 & 0x3F));
        p[2] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        return 3;
    }
    p[0] = static_cast<unsigned char>(0xF0 | code >> 18);
    p[1] = static_cast<unsigned char>(0x80 | (code >> 12 & 0x3F));
    p[2] = static_cast<unsigned char>(0x80 | (code >> 6 & 0x3F));
    p[3] = static_cast<unsigned char>(0x80 | (code & 0x3F));
    return 4;
}

size_t utf8_to_utf16_units(const char* text, size_t length, wchar_t* out) {
    size_t units = 0;
    size_t offset = 0;
    while (offset < length) {
        uint32_t code;
        offset += decode_utf8_char(text + offset, length - offset, &code);
        if (code > 0x10FFFF) code = '_';
        if (code >= 0x10000) {
            if (out) {
                out[units] = static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
                out[units + 1] = static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
            }
            units += 2;
        } else {
            if (out) out[units] = static_cast<wchar_t>(code);
            ++units;
        }
    }
    return units;
}

void utf16_units_to_utf8(const wchar_t* units, size_t count, String& out) {
    char piece[4];
    for (size_t i = 0; i < count && units[i]; ++i) {
        uint32_t code = static_cast<uint16_t>(units[i]);
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<uint16_t>(units[i + 1]) - 0xDC00);
            ++i;
        }
        out.append(piece, encode_utf8(code, piece));
    }
}
