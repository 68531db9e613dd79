// Loading of the preferences document and the typed getters.
// Loads: user-interface thread during start-up. Getters: any thread after it.
#include "prefs/preferences.h"

#include <cJSON.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "io/file_reader.h"
#include "io/banned.h"

PreferencesState* preferences_state = nullptr;

PreferencesState* create_preferences_state(const char* data_folder) {
    auto* state = new PreferencesState;
    state->data_folder.set(data_folder);
    return state;
}

void destroy_preferences_state(PreferencesState* state) {
    if (!state) return;
    cJSON_Delete(state->root);
    delete state;
}

namespace {

// Minifies text in place and parses its first complete value; text holds
// length bytes followed by a zero byte. On failure error receives the
// parser's position.
cJSON* parse_minified(char* text, String* error) {
    cJSON_Minify(text);
    const size_t length = std::strlen(text);
    cJSON* root = cJSON_ParseWithLengthOpts(text, length + 1, nullptr, false);
    if (!root && error) {
        const char* position = cJSON_GetErrorPtr();
        if (position) {
            char message[PREFERENCES_ERROR_LIMIT + 1];
            std::snprintf(message, sizeof(message), "Parse error before: %s\n", position);
            error->set(message);
        }
    }
    return root;
}

const cJSON* find_key(const char* key) {
    const PreferencesState* state = preferences_state;
    if (!state || !state->root) return nullptr;
    return cJSON_GetObjectItemCaseSensitive(state->root, key);
}

// Booleans whose fallback is true: only the literal false turns them off.
bool true_unless_false(const char* key) { return !cJSON_IsFalse(find_key(key)); }

// Booleans whose fallback is false: only the literal true turns them on.
bool false_unless_true(const char* key) { return cJSON_IsTrue(find_key(key)) != 0; }

// The number's integer value, or fallback when the key holds no number.
int32_t integer_or(const char* key, int32_t fallback) {
    const cJSON* item = find_key(key);
    return cJSON_IsNumber(item) ? item->valueint : fallback;
}

}  // namespace

bool preferences_text_parses(const char* text, size_t length, String* error) {
    char* copy = new char[length + 1];
    std::memcpy(copy, text, length);
    copy[length] = 0;
    cJSON* root = parse_minified(copy, error);
    const bool parsed = root != nullptr;
    cJSON_Delete(root);
    delete[] copy;
    return parsed;
}

bool load_preferences(bool use_default) {
    PreferencesState* state = preferences_state;
    const String path =
        concat(state->data_folder.c_str(), use_default ? PREFERENCES_DEFAULT_FILE : PREFERENCES_USER_FILE);
    FileReader reader(path.c_str());
    const uint64_t size = reader.is_open() ? reader.size() : 0;
    // A file beyond what memory can hold reads as empty, like a missing one.
    const size_t length = size < (uint64_t{1} << 31) ? static_cast<size_t>(size) : 0;
    char* text = new (std::nothrow) char[length + 1];
    if (!text) return false;
    const size_t got = length ? reader.read(text, length) : 0;
    text[got] = 0;
    cJSON_Delete(state->root);
    state->root = parse_minified(text, &state->error_text);
    delete[] text;
    return state->root != nullptr;
}

bool pref_curses_preferences() { return true_unless_false("curses_preferences"); }
bool pref_curses_right_focus() { return true_unless_false("curses_right_focus"); }
bool pref_preserve_current_directory() { return true_unless_false("preserve_current_directory"); }
bool pref_zstd_enable_checksum() { return false_unless_true("zstd_enable_checksum"); }
bool pref_zstd_keep_tarball() { return false_unless_true("zstd_keep_tarball"); }

int32_t pref_zstd_compression_level() {
    return zstd_level_of_choice(integer_or("zstd_compression_level", 1));
}

int32_t pref_zlib_compression_level() {
    const int32_t level = integer_or("zlib_compression_level", 1);
    return static_cast<uint32_t>(level) <= 9 ? level : 1;
}

int32_t pref_action_after_compression() {
    const int32_t action = integer_or("action_after_compression", AFTER_COMPRESSION_NOTHING);
    return static_cast<uint32_t>(action) <= AFTER_COMPRESSION_SHOW_FOLDER ? action : AFTER_COMPRESSION_NOTHING;
}

int32_t pref_action_after_decompression() {
    const int32_t action = integer_or("action_after_decompression", AFTER_DECOMPRESSION_NOTHING);
    return static_cast<uint32_t>(action) <= AFTER_DECOMPRESSION_SHOW_FOLDER ? action : AFTER_DECOMPRESSION_NOTHING;
}

JobSettings job_settings_from_preferences() {
    JobSettings settings;
    settings.zstd_level = pref_zstd_compression_level();
    settings.zstd_checksum = pref_zstd_enable_checksum() ? 1 : 0;
    settings.zlib_level = pref_zlib_compression_level();
    settings.keep_tarball = pref_zstd_keep_tarball();
    settings.action_after_compression = pref_action_after_compression();
    settings.action_after_decompression = pref_action_after_decompression();
    return settings;
}
