// The words a job uses for what went wrong with its disk and its memory,
// shared by every family: why a write failed, and what an archive needs.
// Any thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

struct ArchiveJob;

// Why a write failed, in a few words for the report: "the disk is full",
// "the file is larger than this drive allows (FAT32: 4 GiB)", or the
// system's own text for error. path is the file that failed: a full-disk
// error on a FAT drive that still has room is its 4 GiB limit.
std::string write_failure_reason(DWORD error, const char* path);
// The same from what is known of the drive (the rule, for tests).
std::string write_failure_reason(DWORD error, bool fat_drive_with_room);

// The memory this machine can give a job now: the least of what the process
// may still commit, its free address space and the physical memory.
uint64_t memory_available();
// "2,048 MiB": bytes in whole MiB with thousands separators.
std::string mib_text(uint64_t bytes);
// Notes that the archive at path needs more memory than this machine can
// give, with what it needs when that is known ("... (needs 2,048 MiB of
// memory to unpack)"): the one way every reading of an archive says so,
// also when its own buffers could not be had (needed 0).
void note_memory_needed(ArchiveJob& job, const char* path, uint64_t needed);
