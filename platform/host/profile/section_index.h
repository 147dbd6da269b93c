// The sections of a profile by name: folded name -> the sections of that
// name, in file order, with the last look-up kept.
//
// Contract. Find(name, trim) gives the numbers of the sections Added under
// a name equal to `name` (trimmed of profile white space first when `trim`)
// without ASCII case (FoldNameInto, with the lead bytes it was made with), in the order they were Added, less those taken by
// RemoveFirst; null when there are none. The pointer stays valid until the
// next Add or RemoveFirst.
//
// The speed-up inside: the same section is looked up again and again
// (every soft font reads and writes it), so the last name asked and its
// answer are kept and compared byte for byte before the name is trimmed,
// folded and hashed; Add and RemoveFirst forget them.
#ifndef PFMSETUP_PLATFORM_HOST_PROFILE_SECTION_INDEX_H
#define PFMSETUP_PLATFORM_HOST_PROFILE_SECTION_INDEX_H

#include "platform/host/profile/ascii_fold.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace host {

class ProfileSectionIndex {
public:
    explicit ProfileSectionIndex(const LeadBytes &lead = LeadBytes()) : lead_(lead) {}
    void Add(std::string_view name, uint32_t section);
    const std::vector<uint32_t> *Find(std::string_view name, bool trim) const;
    // Takes the first section of the name (trimmed) out of the index; false
    // when there is none.
    bool RemoveFirst(std::string_view name, uint32_t *section);

private:
    LeadBytes lead_;
    std::unordered_map<std::string, std::vector<uint32_t>> sections_;
    // The folded name for a look-up, its room kept between calls (a fresh
    // string each time would cost an allocation for most port sections).
    mutable std::string folded_;
    mutable std::string memo_name_;
    mutable const std::vector<uint32_t> *memo_sections_ = nullptr;
    mutable bool memo_trim_ = false;
    mutable bool memo_valid_ = false;
};

}  // namespace host

#endif
