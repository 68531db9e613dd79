// What velmora-cli's commands share: its exit codes, its complaints on
// standard error and the forms of the paths it is given. Main thread.
#pragma once

#include <string>
#include <vector>

// The exit codes, as --help, README and the user guide give them.
enum CliExit : int {
    EXIT_COMPLETE = 0,      // the output is complete (the archive is sound)
    EXIT_PARTIAL = 1,       // finished, with entries left out or damaged (each named)
    EXIT_USAGE = 2,         // the command was wrong
    EXIT_NOTHING_MADE = 3,  // nothing was made (or the archive could not be read at all)
    EXIT_CANCELLED = 4,     // the job was cancelled (Ctrl+C, a closed console, the session's end)
};

// "velmora-cli: reason" and where the usage is; EXIT_USAGE.
int usage_error(const std::string& reason);
// "velmora-cli: reason: subject" (or without the subject); returns code.
int complain(int code, const std::string& reason, const std::string& subject = "");

// The full form of a path as the command line gives it.
std::string full_path(const std::string& path);
// Drops trailing separators, but keeps the one of a drive root ("C:\").
std::string without_trailing_separator(std::string path);

// The benchmark commands (arguments[0] is the command's name).
int copy_through(const std::vector<std::string>& arguments);
int entry_walk(const std::vector<std::string>& arguments);
