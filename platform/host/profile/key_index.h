// The key index of one profile section: which line answers a name.
//
// Contract. Find(lines, arena, name) gives the number of the line that was
// last Added for a name equal to `name` without ASCII case (SameNameNoCase,
// with the lead bytes `lead` of the names' code page) and not Removed since, or -1 when there is none; Add of a line whose
// name already has a line in the index changes nothing (the first line of
// a name wins, which the model relies on by adding lines in file order).
// The index keeps ProfileLine::indexed: true exactly for the lines it
// answers. It reads the lines' names from `lines` and `arena` on every
// call; a line's name must not change while it is indexed, and the lines
// after an inserted one must be unindexed (blank or dead) so that their
// numbers may shift.
//
// The speed-ups inside, none of which changes an answer:
// - Hash(name) places names that differ only in a trailing number
//   (softfont1, softfont2, ...) eight slots, one cache line, apart in the
//   order of their numbers; the index is open addressing over 64-bit slots
//   (hash and line number), at most half full.
// - A hint: the line after the one found last, and that line itself, are
//   tried before the hash (a count is written for every font, and keys are
//   mostly read in the order of the file).
// - FindRememberingAbsent keeps the last name it found absent until a line
//   of that name's hash is added (the same absent key is deleted for every
//   font).
#ifndef PFMSETUP_PLATFORM_HOST_PROFILE_KEY_INDEX_H
#define PFMSETUP_PLATFORM_HOST_PROFILE_KEY_INDEX_H

#include "platform/host/profile/ascii_fold.h"
#include "platform/host/profile/line.h"
#include "platform/host/profile/line_arena.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace host {

class ProfileKeyIndex {
public:
    using Lines = std::vector<ProfileLine>;

    // The line answering `name`, or -1. When the name had to be hashed, its
    // hash goes to *hash (for the line that may be added next).
    long Find(const Lines &lines, const TextArena &arena, const LeadBytes &lead, std::string_view name,
              uint32_t *hash = nullptr) const;
    // The same answer; a name found absent is remembered (see above).
    long FindRememberingAbsent(const Lines &lines, const TextArena &arena, const LeadBytes &lead, std::string_view name);
    // Line n answers its name from now on, unless a line of that name does
    // already. `hash` is Hash of its name, where the caller has it.
    void Add(Lines &lines, const TextArena &arena, const LeadBytes &lead, uint32_t n);
    void Add(Lines &lines, const TextArena &arena, const LeadBytes &lead, uint32_t n, uint32_t hash);
    // Line n, which the index answers, answers no more.
    void Remove(Lines &lines, const TextArena &arena, uint32_t n);
    // Forgets every line and gives the memory back.
    void Clear();

    // Names that are the same without ASCII case have one hash, whatever
    // their code page.
    static uint32_t Hash(std::string_view name);

private:
    void Grow();
    void Insert(Lines &lines, const TextArena &arena, const LeadBytes &lead, uint32_t n, uint32_t hash);

    std::vector<uint64_t> slots_;  // name hash and line number + 1 (0 free)
    uint32_t used_slots_ = 0;
    mutable uint32_t next_hint_ = 0;
    std::string absent_name_;
    uint32_t absent_hash_ = 0;
    bool absent_known_ = false;
};

}  // namespace host

#endif
