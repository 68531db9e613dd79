#include "io/window_store.h"

#include <cstdio>

#include "io/platform.h"
#include "io/banned.h"

namespace {
constexpr char SECTION[] = "velmora";
String store_path;
}  // namespace

void set_window_store_path(const char* ini_path) { store_path.set(ini_path); }

int read_ini_int(const char* key, int default_value) {
    return read_profile_int(SECTION, key, default_value, store_path.c_str());
}

bool write_ini_string(const char* key, const char* value) {
    return write_profile_string(SECTION, key, value, store_path.c_str());
}

bool write_ini_int(const char* key, int value) {
    char text[16];
    std::snprintf(text, sizeof(text), "%d", value);
    return write_ini_string(key, text);
}
