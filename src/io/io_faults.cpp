// The fault-injection record that FileReader and FileWriter consult before
// each request. Off in the program; tests set it and reset it afterwards.
#include "io/io_faults.h"

#include "io/banned.h"

IoFaults io_faults;

void reset_io_faults() { io_faults = IoFaults{}; }
