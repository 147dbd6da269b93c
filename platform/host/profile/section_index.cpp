#include "platform/host/profile/section_index.h"

#include "platform/host/profile/ascii_fold.h"
#include "platform/host/profile/line.h"

namespace host {

void ProfileSectionIndex::Add(std::string_view name, uint32_t section)
{
    memo_valid_ = false;
    std::string folded;
    FoldNameInto(name, folded, lead_);
    sections_[std::move(folded)].push_back(section);
}

const std::vector<uint32_t> *ProfileSectionIndex::Find(std::string_view name, bool trim) const
{
    if (memo_valid_ && memo_trim_ == trim && name == memo_name_) return memo_sections_;
    FoldNameInto(trim ? TrimProfileSpace(name) : name, folded_, lead_);
    auto it = sections_.find(folded_);
    const std::vector<uint32_t> *found = it == sections_.end() || it->second.empty() ? nullptr : &it->second;
    memo_name_.assign(name.data(), name.size());
    memo_trim_ = trim;
    memo_sections_ = found;
    memo_valid_ = true;
    return found;
}

bool ProfileSectionIndex::RemoveFirst(std::string_view name, uint32_t *section)
{
    FoldNameInto(TrimProfileSpace(name), folded_, lead_);
    auto it = sections_.find(folded_);
    if (it == sections_.end() || it->second.empty()) return false;
    *section = it->second.front();
    it->second.erase(it->second.begin());
    if (it->second.empty()) sections_.erase(it);
    memo_valid_ = false;
    return true;
}

}  // namespace host
