// Whether a RAR 5 archive ends whole, which libarchive 3.6.2 cannot tell:
// its RAR 5 reader ends a reading at any block header it cannot read whole,
// as it ends one at the end-of-archive block, and never reads that block
// through (it reads eight bytes ahead for a header's size, and the block is
// shorter). So an archive cut between two entries reads as whole. Any one
// thread.
#pragma once

// True when the RAR 5 archive at path (not a volume of a set: those are
// padded past their end blocks) ends in an end-of-archive block whose CRC
// holds, within the last KiB of the file; false when it does not, or the
// file cannot be read.
bool rar5_ends_in_end_block(const char* path);
