// Character arithmetic of the character-cell editor (see cell_text.h).
#include "editor/cell_text.h"

#include <cstring>

#include "io/banned.h"

namespace {

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

bool continuations(const unsigned char* p, size_t left, size_t need) {
    if (left < need) return false;
    for (size_t i = 1; i < need; ++i) {
        if (!is_continuation(p[i])) return false;
    }
    return true;
}

}  // namespace

size_t decode_cell_char(const char* text, size_t left, uint32_t* code) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char lead = p[0];
    *code = lead;
    if (lead < 0x80) return 1;
    if (lead >= 0xC0 && lead <= 0xDF && continuations(p, left, 2) && (lead & 0x1E)) {
        *code = (uint32_t{lead} & 0x1F) << 6 | (p[1] & 0x3F);
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF && continuations(p, left, 3) && ((lead & 0x0F) || (p[1] & 0x20))) {
        *code = (uint32_t{lead} & 0x0F) << 12 | (uint32_t{p[1]} & 0x3F) << 6 | (p[2] & 0x3F);
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF7 && continuations(p, left, 4) && ((lead & 0x07) || (p[1] & 0x30))) {
        *code = (uint32_t{lead} & 0x07) << 18 | (uint32_t{p[1]} & 0x3F) << 12 | (uint32_t{p[2]} & 0x3F) << 6 |
                (p[3] & 0x3F);
        return 4;
    }
    if (lead >= 0xF8 && lead <= 0xFB && continuations(p, left, 5)) {
        *code = '_';
        return 5;
    }
    if (lead >= 0xFC && lead <= 0xFD && continuations(p, left, 6)) {
        *code = '_';
        return 6;
    }
    return 1;
}

size_t bytes_for_columns(const char* text, size_t length, int64_t columns) {
    size_t offset = 0;
    uint32_t code;
    for (int64_t i = 0; i < columns && offset < length; ++i) {
        offset += decode_cell_char(text + offset, length - offset, &code);
    }
    return offset < length ? offset : length;
}

int32_t columns_for_bytes(const char* text, size_t length, size_t bytes) {
    if (bytes > length) bytes = length;
    int32_t columns = 0;
    size_t offset = 0;
    uint32_t code;
    while (offset < bytes) {
        offset += decode_cell_char(text + offset, length - offset, &code);
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
        offset += decode_cell_char(text + offset, length - offset, &code);
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
