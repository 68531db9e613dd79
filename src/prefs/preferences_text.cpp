// The texts the program writes into the data folder, and their writing.
// User-interface thread, during start-up.
#include <cstring>

#include "io/file_reader.h"
#include "io/file_writer.h"
#include "prefs/preferences.h"
#include "io/banned.h"

namespace {

constexpr char NO_COMPRESSION[] = "  // 0 level indicates no compression.";
constexpr char DO_NOTHING[] = "  // 0: Do nothing.";

// The reference file, one entry a line; the two repeated lines share a string.
const char* const DEFAULT_LINES[] = {
    "//",
    "// Welcome to Velmora x64 File Archiver, Version 1.17",
    "//",
    "// Velmora preferences",
    "//",
    "",
    "{",
    "  // Display preferences with Curses interface",
    "  // (supports only ASCII for text input).",
    "  // If set to false it uses an external editor.",
    "  \"curses_preferences\": true,",
    "  \"curses_right_focus\": true,",
    "",
    "  // Set zstd compression level (0-19).",
    NO_COMPRESSION,
    "  // 3 level is the zstd default.",
    "  \"zstd_compression_level\": 1,",
    "",
    "  // 32-bit checksum at end of frame.",
    "  \"zstd_enable_checksum\": false,",
    "",
    "  // Tarball.",
    "  \"zstd_keep_tarball\": false,",
    "",
    "  // Set zlib compression level (0-9).",
    NO_COMPRESSION,
    "  // 6 level is the zlib default.",
    "  \"zlib_compression_level\": 1,",
    "",
    "  // Action after compression.",
    DO_NOTHING,
    "  // 1: Ask where to save compressed file.",
    "  // 2: Open file explorer at related folder path.",
    "  \"action_after_compression\": 0,",
    "",
    "  // Action after decompression.",
    DO_NOTHING,
    "  // 1: Open file explorer at related folder path.",
    "  \"action_after_decompression\": 0,",
    "",
    "  // File dialog.",
    "  \"preserve_current_directory\": true",
    "}",
};
static_assert(sizeof(DEFAULT_LINES) / sizeof(DEFAULT_LINES[0]) == 43, "the default file has 43 lines");

const char* const STUB_LINES[] = {
    "{",
    "  // Add your personal preferences here.",
    "  // Your changes will take effect the next time you relaunch Velmora.",
    "}",
};

template <size_t N>
String join_lines(const char* const (&lines)[N]) {
    String text;
    for (const char* line : lines) {
        text.append(line);
        text.append_char('\n');
    }
    return text;
}

}  // namespace

String default_preferences_text() { return join_lines(DEFAULT_LINES); }

String user_preferences_stub() { return join_lines(STUB_LINES); }

void write_default_preferences() {
    const String default_text = default_preferences_text();
    const String stub = user_preferences_stub();
    const String& folder = preferences_state->data_folder;
    const String default_path = concat(folder.c_str(), PREFERENCES_DEFAULT_FILE);
    const String user_path = concat(folder.c_str(), PREFERENCES_USER_FILE);

    {
        FileWriter writer(default_path.c_str());
        if (writer.is_open()) {
            writer.write(default_text.c_str(), default_text.length());
            writer.flush(true);
        }
    }
    {
        FileReader reader(user_path.c_str());
        if (reader.is_open()) return;
    }
    FileWriter writer(user_path.c_str());
    if (writer.is_open()) writer.write(stub.c_str(), stub.length());
}
