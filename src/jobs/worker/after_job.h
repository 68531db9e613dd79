// What happens at the very end of a job, by the preferences: nothing, a
// move to where the user chooses, or the file manager on the folder that
// holds the output. The asking and showing is the job host's. Worker
// thread.
#pragma once

#include <string>

struct ArchiveJob;

// The end of every job: the report of what the job could not do, when
// anything, then the action of the preferences, but only on an output this
// job made; each through the job's host, so nothing without one.
// path: the archive just written; extension_word: "tzst" or "zip".
void after_compression(ArchiveJob& job, const char* path, const char* extension_word);
// folder: the folder that holds the output (the unpacked folder or file):
// beside the archive, or where -o put it.
void after_decompression(ArchiveJob& job, const char* folder);

// Copies source to target and deletes source only when the target holds every
// byte of it. The copy is written under a partial name beside target and
// renamed over it when whole, so a copy that fails (a full disk) leaves
// neither a part of source under target's name nor a change to a file
// already there, and source where it was. Returns true when target holds
// source's bytes (also when the two name the same file).
bool move_file_by_copy(const char* source, const char* target);
