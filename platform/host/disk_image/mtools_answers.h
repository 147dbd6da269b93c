// What the mtools children answer, read: mdir's listing, mattrib's
// attribute letters and mshowfat's runs of clusters. The answers come from
// a volume that may be damaged or made to deceive, so every reader takes
// any bytes.
#ifndef PFMSETUP_PLATFORM_HOST_MTOOLS_ANSWERS_H
#define PFMSETUP_PLATFORM_HOST_MTOOLS_ANSWERS_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace host {

struct DriveEntry {
    std::string name;
    bool folder = false;
    bool read_only = false;
    // The hidden, system and archive attributes ("HSA", "A", ""), read
    // with the read-only one; a replaced file keeps them.
    std::string kept_attributes;
    bool attributes_read = false;
    uint64_t size = 0;
    bool chain_whole = false;  // its cluster chain was found whole since it was listed
};

// mdir -a: "NAME     EXT      SIZE DATE  TIME  long name" lines (SIZE <DIR>
// for a folder; the long name where there is one, else the 8.3 name), and
// the last line's "N bytes free". "." and ".." are left out of the entries;
// `dot_entries` tells they were there (only a folder's own listing has them).
// A line that is neither an entry nor one of the lines around them (the
// label, "Directory for", "No files", the counts) is kept in `unread_line`:
// under settings other than the program's own, mdir prints such lines, and
// the entries are then not known.
struct MdirAnswer {
    std::vector<DriveEntry> entries;
    uint64_t bytes_free = 0;
    bool dot_entries = false;
    std::string unread_line;  // the first such line, "" when none
};
MdirAnswer ParseMdirAnswer(std::string_view out);

// mattrib, with -X or without: each line's letters before "::/PATH" are
// the attributes of the entries whose name is PATH's last part.
void ApplyMattribAnswer(std::string_view out, std::vector<DriveEntry> *entries);
// The same for one file ("  A  SHR     ::/PATH"); false when no path is named.
bool ParseMattribAnswer(std::string_view out, DriveEntry *entry);

// mshowfat: "::/PATH <2-5> <9>", runs of clusters in chain order. Counts
// at most `limit` + 1 clusters; `loops` when one comes twice.
struct ChainAnswer {
    uint64_t clusters = 0;
    long first = 0;  // the first cluster, 0 when none is named
    bool loops = false;
};
ChainAnswer ParseMshowfatAnswer(std::string_view out, uint64_t limit);

}  // namespace host

#endif
