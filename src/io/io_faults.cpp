// The fault-injection record that FileReader and FileWriter consult before
// each request. Off in the program; tests set it and reset it afterwards.
#include "io/io_faults.h"

#include <windows.h>

#include <cstring>
#include <string.h>

#include "io/banned.h"

IoFaults io_faults;

void reset_io_faults() { io_faults = IoFaults{}; }

bool takes_part_in_faults(const char* path) {
    const char* ending = io_faults.only_path_ending;
    if (!ending) return true;
    const size_t length = std::strlen(path);
    const size_t tail = std::strlen(ending);
    return length >= tail && _stricmp(path + length - tail, ending) == 0;
}

uint32_t injected_write_fault(bool takes_part, uint32_t bytes, uint32_t* allowed) {
    *allowed = bytes;
    if (!takes_part) return NO_ERROR;
    const int64_t index = __atomic_add_fetch(&io_faults.writes_issued, 1, __ATOMIC_RELAXED);
    if (index == io_faults.fail_write_at) return io_faults.write_error;
    const int64_t limit = io_faults.disk_full_after;
    if (limit >= 0) {
        const int64_t room = limit - __atomic_load_n(&io_faults.bytes_accepted, __ATOMIC_RELAXED);
        if (room <= 0) return ERROR_DISK_FULL;
        if (room < int64_t{bytes}) *allowed = static_cast<uint32_t>(room);  // room < bytes fits
    }
    __atomic_add_fetch(&io_faults.bytes_accepted, int64_t{*allowed}, __ATOMIC_RELAXED);
    return NO_ERROR;
}
