// What happens at the very end of a job, by the preferences: nothing, the
// save dialog and a move, or the file manager on the result's folder.
// Worker thread (which has initialised COM); the dialog is owned by the main
// window.
#pragma once

#include <windows.h>

#include <string>

struct ArchiveJob;

// The end of every job of the program's own (not of the console companion):
// the report of what the job could not do, when anything, then the action
// of the preferences, but only on an output this job made.
// path: the archive just written; extension_word: "tzst" or "zip".
void after_compression(ArchiveJob& job, const char* path, const char* extension_word);
// folder: the folder that holds the archive.
void after_decompression(ArchiveJob& job, const char* folder);

// The save chooser of the move: returns the chosen path, or "" when the user
// cancelled. The current directory is restored afterwards.
std::string choose_save_file(HWND owner, const char* extension_word);

// Copies source to target and deletes source only when the target holds every
// byte of it. The copy is written under a partial name beside target and
// renamed over it when whole, so a copy that fails (a full disk) leaves
// neither a part of source under target's name nor a change to a file
// already there, and source where it was. Returns true when target holds
// source's bytes (also when the two name the same file).
bool move_file_by_copy(const char* source, const char* target);

// The owner of the save dialog (the main window); null until it exists.
extern HWND save_dialog_owner;
