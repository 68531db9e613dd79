// The user's preferences: one parsed document for the whole run and one small
// getter per key. Start-up (user-interface thread) writes the files and loads
// the document before any other thread exists; afterwards the document is
// read-only and the getters run without a lock on any thread.
//
// Exactly one file is in effect: preferences.txt when it parses, otherwise
// the freshly written preferences-default.txt. Keys that are absent or of
// another type take their fallback, which equals the default file's value.
#pragma once

#include <cstdint>

#include "io/grow_buffer.h"
#include "jobs/frame/job_settings.h"

struct cJSON;

struct PreferencesState {
    cJSON* root = nullptr;     // the parsed document, or none
    String error_text;         // "Parse error before: ...\n" of the last failed load
    bool relaunch_requested = false;
    String data_folder;        // ends in a backslash
};

// The process's one record; null before start-up creates it.
extern PreferencesState* preferences_state;

// Creates the process's record for files in data_folder (ending in "\").
PreferencesState* create_preferences_state(const char* data_folder);
// Deletes the document and the record; nothing happens for null.
void destroy_preferences_state(PreferencesState* state);

constexpr char PREFERENCES_DEFAULT_FILE[] = "preferences-default.txt";
constexpr char PREFERENCES_USER_FILE[] = "preferences.txt";
constexpr int PREFERENCES_ERROR_LIMIT = 2048;

// The reference text rewritten at every start (43 lines) and the user stub (4).
String default_preferences_text();
String user_preferences_stub();

// Rewrites preferences-default.txt and creates preferences.txt with the stub
// when it cannot be opened. Failures are not reported.
void write_default_preferences();

// Parses preferences.txt (false) or preferences-default.txt (true) into
// root. Returns false when the text did not parse; error_text then holds the
// parser's position ("Parse error before: ...\n").
bool load_preferences(bool use_default);

// Validates a text by the rules of the preferences files; on failure fills
// error (when given) like load_preferences does. The text ends at its first
// zero byte.
bool preferences_text_parses(const char* text, size_t length, String* error);

bool pref_curses_preferences();
bool pref_curses_right_focus();
bool pref_preserve_current_directory();
bool pref_zstd_enable_checksum();
bool pref_zstd_keep_tarball();
int32_t pref_zstd_compression_level();
int32_t pref_zlib_compression_level();
int32_t pref_action_after_compression();
int32_t pref_action_after_decompression();

// The archive jobs' settings as the loaded preferences give them.
JobSettings job_settings_from_preferences();
