// What libarchive's readers leave unsaid and the libarchive family tells
// itself: which method or filter its 7z reader refused to decode, from its
// words.
#include <gtest/gtest.h>

#include <string>

#include "jobs/libarchive/la_walk.h"

TEST(RefusedMethod, the_method_libarchive_would_not_decode_is_named_as_7_zip_names_it) {
    const struct {
        const char* words;
        const char* method;
    } cases[] = {
        {"Unknown codec ID: 40109", "Deflate64"},
        {"Unexpected codec ID: a", "ARM64"},  // libarchive prints the ID in lower case
        {"Unsupported filter 3030501 for 40108", "ARM"},
        {"Unknown codec ID: 4f71101", "method 4F71101"},
        {"The file content is encoded with many filters, but currently not supported", "a chain of several filters"},
        {"Truncated 7-Zip file body", ""},
        {"Unknown codec ID: ", ""},
        {"7-Zip bad CRC: 0x1 should be 0x2", ""},
        {nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words ? c.words : "(no words)");
        EXPECT_EQ(la_refused_method(c.words), c.method);
    }
}
