// Screenshots as PNG files: 8-bit RGB, from the pixels of a 32-bit
// top-down DIB (0x00RRGGBB each, as a picture or a GetDIBits copy holds them).
#pragma once

#include <cstdint>

// Writes width x height pixels to path (UTF-8); false when the file could
// not be written whole.
bool write_png(const char* path, int width, int height, const uint32_t* pixels);
