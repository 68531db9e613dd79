// velmora-screenshot OUT.png [WINDOW-TITLE]: saves the screen, or the screen
// rectangle of the top-level window with that title, as a PNG file. Used by
// the run and test scripts to show what the program looks like on a virtual
// display.
#include <windows.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "graphics/picture.h"

namespace {

void put32(std::vector<unsigned char>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(v >> shift));
}

void put_chunk(std::vector<unsigned char>& out, const char* type, const std::vector<unsigned char>& data) {
    put32(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put32(out, static_cast<uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

bool write_png(const char* path, int width, int height, const std::vector<unsigned char>& bgra) {
    std::vector<unsigned char> raw;
    raw.reserve(static_cast<size_t>(height) * (width * 3 + 1));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        const unsigned char* row = bgra.data() + static_cast<size_t>(y) * width * 4;
        for (int x = 0; x < width; ++x) {
            raw.push_back(row[x * 4 + 2]);
            raw.push_back(row[x * 4 + 1]);
            raw.push_back(row[x * 4 + 0]);
        }
    }
    uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
    std::vector<unsigned char> packed(packed_size);
    if (compress2(packed.data(), &packed_size, raw.data(), static_cast<uLong>(raw.size()), 6) != Z_OK) return false;
    packed.resize(packed_size);

    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<unsigned char> header;
    put32(header, static_cast<uint32_t>(width));
    put32(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
    put_chunk(png, "IHDR", header);
    put_chunk(png, "IDAT", packed);
    put_chunk(png, "IEND", {});
    FILE* file = std::fopen(path, "wb");
    if (!file) return false;
    const bool ok = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: velmora-screenshot OUT.png [WINDOW-TITLE]\n");
        return 2;
    }
    RECT area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (argc > 2) {
        const HWND window = FindWindowA(nullptr, argv[2]);
        if (!window || !GetWindowRect(window, &area)) {
            std::fprintf(stderr, "no window titled %s\n", argv[2]);
            return 1;
        }
    }
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0) return 1;
    Picture* picture = create_picture(width, height);
    if (!picture) return 1;
    const HDC screen = GetDC(nullptr);
    BitBlt(picture->dc, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    GdiFlush();
    ReleaseDC(nullptr, screen);
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 4);
    std::memcpy(pixels.data(), picture->pixels, pixels.size());
    destroy_picture(picture);
    if (!write_png(argv[1], width, height, pixels)) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
