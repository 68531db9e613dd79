// Fault injection for tests: lets a test fail the Nth read or write request
// that a FileReader or FileWriter issues, or make the disk report full after
// some bytes. All counters are zero (off) in the program; tests set them on
// the thread that uses the file objects and call reset_io_faults() after.
#pragma once

#include <cstdint>

struct IoFaults {
    int64_t fail_read_at = 0;       // 1-based index of the read request to fail; 0: none
    int64_t fail_write_at = 0;      // likewise for write requests
    uint32_t write_error = 0x1D;    // the error the failed write reports (ERROR_WRITE_FAULT)
    bool fail_flush = false;        // an archive's flush before its close, made, then fails (a late network write)
    int64_t disk_full_after = -1;   // bytes the "disk" accepts before reporting full; -1: off
    int64_t fail_growth_from = 0;   // a buffer that would take new storage of this many bytes or more gets none; 0: off
    int64_t memory_available = 0;   // the memory the machine is said to be able to give a job, in bytes; 0: ask it
    int64_t reads_issued = 0;       // counters, for tests that count requests
    int64_t writes_issued = 0;
    int64_t bytes_accepted = 0;
    // When set, only files whose path ends with this text (compared without
    // regard to case) take part: their requests alone are counted and failed,
    // so a test can reach the Nth read of one file among many.
    const char* only_path_ending = nullptr;
};

extern IoFaults io_faults;

void reset_io_faults();
// True when a file at path takes part in the injected faults.
bool takes_part_in_faults(const char* path);
// The writers' side of the seam, asked before each write request of bytes:
// the error to fail it with, or 0 (NO_ERROR) with allowed set to the bytes
// the request may really write. The request that takes the simulated disk
// to its limit writes only what still fits (a short write); later ones fail
// with ERROR_DISK_FULL. A writer whose file takes no part is let through.
uint32_t injected_write_fault(bool takes_part, uint32_t bytes, uint32_t* allowed);
