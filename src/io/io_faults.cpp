// The fault-injection record that FileReader and FileWriter consult before
// each request. Off in the program; tests set it and reset it afterwards.
#include "io/io_faults.h"

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
