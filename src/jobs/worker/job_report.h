// What a job tells its user at its end: the entries it skipped, could not
// read or write, or wrote under another name. Pure functions of the job's
// problem list; any thread, once the job has been served.
#pragma once

#include <windows.h>

#include <string>

#include "jobs/frame/archive_job.h"

// The text of the message shown after a job, grouped by kind (and detail)
// in the order the groups first happened, each with its count and at most
// ten names.
// "" when the job noted nothing.
std::string problem_report(const ArchiveJob& job);

// The message after a move of a finished archive (the save dialog's
// choice) failed: names the chosen place and where the archive still is.
std::string move_failure_report(const char* source, const char* target);

// A few words for one problem, for a line of the console companion
// ("could not be read, left out", "compressed with BZip2, which Velmora
// cannot unpack").
std::string problem_label(const JobProblem& problem);
// The same for a kind alone; a kind whose words name a detail (the method)
// gets general words.
const char* problem_label(Problem kind);

// The state of a running job in a few words, for a progress line: the
// phase, one percentage for the phase and, where files are counted, how
// many are done ("Writing tarball (1/2) 37% (12/30 files)"). Each phase
// starts from 0, so a change of phase reads as one.
std::string progress_words(const ArchiveJob& job);
// The percentage progress_words shows.
int32_t phase_percent(const ArchiveJob& job);
