// How the compression preferences reach the jobs: the settings read from
// preferences.txt shape the Zstandard frame a .tzst job writes.
#include <gtest/gtest.h>

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <string>

#include "jobs/worker/job_worker.h"
#include "jobs/frame/job_paths.h"
#include "prefs/preferences.h"
#include "jobs/job_test_util.h"
#include "test_folder.h"

namespace {

// The Zstandard frame header of a .tzst: whether it carries a content
// checksum, and the window size it was made with (log 2).
struct FrameHeader {
    bool checksum;
    int window_log;
};

FrameHeader frame_header_of(const std::string& packed) {
    const auto descriptor = static_cast<unsigned char>(packed.at(4));
    const bool single_segment = descriptor & 0x20;
    const int window_log = single_segment ? 0 : 10 + (static_cast<unsigned char>(packed.at(5)) >> 3);
    return {(descriptor & 0x04) != 0, window_log};
}

}  // namespace

// The level and the checksum choice of the preferences reach the frame the
// job writes.
TEST(TzstCompression, the_level_and_checksum_of_the_preferences_reach_the_frame) {
    TestFolder folder("tzst-prefs");
    folder.write("big.bin", pattern_bytes(3u << 20, 5));
    const struct {
        const char* text;
        bool checksum;
        int level;
    } cases[] = {
        {"{\"zstd_compression_level\": 19, \"zstd_enable_checksum\": true}", true, 19},
        {"{\"zstd_compression_level\": 1, \"zstd_enable_checksum\": false}", false, 1},
        {"{\"zstd_compression_level\": 7}", false, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        PreferencesState* saved = preferences_state;
        preferences_state = create_preferences_state(folder.path().c_str());
        folder.write(PREFERENCES_USER_FILE, c.text);
        ASSERT_TRUE(load_preferences(false));
        const JobSettings settings = job_settings_from_preferences();
        destroy_preferences_state(preferences_state);
        preferences_state = saved;

        ArchiveJob* job = create_archive_job_without_worker(settings);
        job->job_inputs = make_selection_list({std::string(folder.path().c_str()) + "big.bin"});
        job->compressor = 1;
        run_job(*job, JobKind::compress_files);
        ASSERT_EQ(static_cast<JobOutcome>(job->outcome.load()), JobOutcome::complete);
        destroy_archive_job(job);
        const std::string packed = folder.read("big.tzst");
        const FrameHeader header = frame_header_of(packed);
        EXPECT_EQ(header.checksum, c.checksum);
        EXPECT_EQ(header.window_log, static_cast<int>(ZSTD_getCParams(c.level, 0, 0).windowLog));
    }
}

