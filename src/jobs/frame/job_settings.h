// What a job takes from the user's choices: the levels, the checksum, whether
// the intermediate tarball stays and what follows a job. Whoever creates the
// job record fills it in (the main window from the preferences, the console
// companion from its options); the jobs themselves read no preferences.
#pragma once

#include <cstdint>

// The job's compressor, as velmora.ini stores it.
enum Compressor : uint32_t { COMPRESSOR_DEFLATE = 0, COMPRESSOR_ZSTANDARD = 1 };

// What follows a job that made its output, as preferences.txt numbers it.
enum AfterCompression : int32_t {
    AFTER_COMPRESSION_NOTHING = 0,
    AFTER_COMPRESSION_SAVE_AS = 1,  // the save chooser, then a move there
    AFTER_COMPRESSION_SHOW_FOLDER = 2,
};
enum AfterDecompression : int32_t { AFTER_DECOMPRESSION_NOTHING = 0, AFTER_DECOMPRESSION_SHOW_FOLDER = 1 };

// Zstandard's fastest level, which a chosen level of 0 stands for.
constexpr int32_t ZSTD_FASTEST_LEVEL = -131072;
// The highest Zstandard level a user may choose.
constexpr int32_t ZSTD_HIGHEST_CHOICE = 19;

// The Zstandard level for a level the user chose: 1 to ZSTD_HIGHEST_CHOICE
// as they are, 0 the fastest level, anything else 1.
constexpr int32_t zstd_level_of_choice(int32_t chosen) {
    return chosen == 0 ? ZSTD_FASTEST_LEVEL : chosen >= 1 && chosen <= ZSTD_HIGHEST_CHOICE ? chosen : 1;
}

struct JobSettings {
    int32_t zstd_level = 1;       // zstd_level_of_choice of the chosen level
    int32_t zstd_checksum = 0;    // 0 or 1: a content checksum in the frame
    int32_t zlib_level = 1;       // 0 (stored) to 9
    bool keep_tarball = false;    // the intermediate .tar stays beside the output
    int32_t action_after_compression = AFTER_COMPRESSION_NOTHING;      // an AfterCompression
    int32_t action_after_decompression = AFTER_DECOMPRESSION_NOTHING;  // an AfterDecompression
};
