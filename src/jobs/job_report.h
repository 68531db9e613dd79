// What a job tells its user at its end: the entries it skipped, could not
// read or write, or wrote under another name. Pure functions of the job's
// problem list; any thread, once the job has been served.
#pragma once

#include <string>

#include "jobs/archive_job.h"

// The text of the message shown after a job, grouped by kind in the order
// the kinds first happened, each with its count and at most ten names.
// "" when the job noted nothing.
std::string problem_report(const ArchiveJob& job);

// The message after a move of a finished archive (the save dialog's
// choice) failed: names the chosen place and where the archive still is.
std::string move_failure_report(const char* source, const char* target);

// A few words for one problem, for a line of the console companion
// ("could not be read, left out").
const char* problem_label(Problem kind);
