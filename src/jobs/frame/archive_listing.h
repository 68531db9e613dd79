// What a listing of an archive gives, entry by entry, and how it ended: the
// types every family's listing fills in. Any one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// One entry of a listing.
struct ListedEntry {
    // The name as Velmora would extract it, with '/' between components; a
    // folder ends in '/', a link reads "NAME -> TARGET". An entry Velmora
    // leaves out for its name (one that climbs out of the folder) carries
    // its name as the archive has it, with skipped set.
    std::string name;
    uint64_t size = 0;  // the bytes of a file; 0 for folders and links
    bool skipped = false;
};

// How a listing ended.
enum class ListEnd {
    whole,         // every entry was listed
    unknown_kind,  // the name is of no kind Velmora unpacks
    unreadable,    // the archive is missing or no archive of its kind
    broken,        // it broke off after the entries listed
    too_large,     // it needs more memory than this machine can give (a Zstandard window, or buffers)
    needs_dictionary,  // a Zstandard frame was made with a dictionary this program does not have
    names_encrypted,   // the archive's names are encrypted: no password is asked for
};

struct ListResult {
    ListEnd end = ListEnd::whole;
    uint64_t memory_needed = 0;  // too_large: what the frame needs, 0 when not known
    uint32_t dictionary_id = 0;  // needs_dictionary: the dictionary's ID, 0 when not known
};

// Called for each entry of a listing, in archive order.
using ListVisit = std::function<void(const ListedEntry&)>;
