// The window-position store: section "velmora" of velmora.ini in the data
// folder (the path start-up gives set_window_store_path). No cache: every
// read and write goes to the file. User-interface thread only.
#pragma once

// Start-up: the ini file's full path (UTF-8).
void set_window_store_path(const char* ini_path);

// The value of key as a decimal integer (its leading number; text that is
// not a number reads as 0); default_value when the key, the file or the
// value is absent or empty.
int read_ini_int(const char* key, int default_value);
// Stores value under key, creating the file and the section; false when the
// write failed (callers ignore it).
bool write_ini_string(const char* key, const char* value);
// Stores an integer as "%d".
bool write_ini_int(const char* key, int value);
