// What a job takes from the user's choices: the levels, the checksum, whether
// the intermediate tarball stays and what follows a job. Whoever creates the
// job record fills it in (the main window from the preferences, the console
// companion from its options); the jobs themselves read no preferences.
#pragma once

#include <cstdint>

struct JobSettings {
    int32_t zstd_level = 1;        // 1 to 19, or the library's fastest level for 0
    int32_t zstd_checksum = 0;     // 0 or 1: a content checksum in the frame
    int32_t zlib_level = 1;        // 0 to 9
    bool keep_tarball = false;     // the intermediate .tar stays beside the output
    int32_t action_after_compression = 0;    // 0 nothing, 1 save dialog and move, 2 file manager
    int32_t action_after_decompression = 0;  // 0 nothing, 1 file manager
};
