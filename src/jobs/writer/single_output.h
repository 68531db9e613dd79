// The one file that a single compressed file (notes.txt.zst) unpacks into.
// Worker thread.
//
// Invariant: no existing file is replaced and no part of a file passes for
// a whole one. The bytes go to a partial name beside the output; once they
// are whole the file takes the archive's Mark of the Web and the output's
// name, or the first free "name (2).ext" beside it when a file has that
// name (noted). What is not whole goes.
#pragma once

#include <string>

#include "io/grow_buffer.h"
#include "jobs/frame/archive_job.h"

class SingleOutput {
public:
    // output: where the file goes; archive: the archive it comes from.
    SingleOutput(ArchiveJob& job, const std::string& output, const char* archive);

    const std::string& output() const { return output_; }
    // Where the bytes are written until the file is whole.
    const char* partial() const { return partial_.c_str(); }
    // Puts the whole file in place and counts it as written; returns where
    // it is, or "" when no name could be given to it (noted, and the bytes
    // removed).
    std::string place();
    // Removes the bytes of a file that is not whole.
    void discard();

private:
    ArchiveJob& job_;
    std::string output_;
    std::string archive_;
    String partial_;
};
