#include "platform/host/profile/cache.h"

#include <time.h>

namespace host {
namespace {

// The system's coarse monotonic clock, which moves once per scheduler tick
// (a few milliseconds) and costs no system call to read.
long long CoarseTick()
{
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

}  // namespace

const ProfileDocument *ProfileCache::Load(const std::string &unix_path, const CodePage &names)
{
    // The installation reads the kit once for every soft font of every
    // port; looking at the disk each time would cost a system call per
    // read, more than the read itself. So a file is looked at again only
    // once the coarse clock has moved since it was last looked at: a change
    // that another writer makes is seen from the next tick on, a few
    // milliseconds later at most. The platform, too, answers profile reads
    // from a cached copy of the file.
    long long tick = CoarseTick();
    Entry *entry = last_ && last_path_ == unix_path ? last_ : nullptr;
    if (!entry) {
        auto it = entries_.find(unix_path);
        if (it != entries_.end()) entry = &it->second;
    }
    if (entry && entry->checked_tick == tick && entry->code_page == names.Number()) return entry->document.get();

    last_ = nullptr;
    DriveFiles &files = FilesOf(unix_path);
    FileStamp stamp;
    if (!files.Stamp(unix_path, &stamp)) {
        entries_.erase(unix_path);
        return nullptr;
    }
    if (!entry || !(entry->stamp == stamp) || entry->code_page != names.Number()) {
        std::string bytes;
        if (!files.Read(unix_path, &bytes, &stamp)) {
            entries_.erase(unix_path);
            return nullptr;
        }
        // Parsed before the entry changes: a parse that runs out of memory
        // leaves the entry as it was, to be parsed again next time.
        auto document = std::make_unique<const ProfileDocument>(ProfileDocument::ParseOwned(std::move(bytes), LeadBytes(names)));
        entry = &entries_[unix_path];
        entry->stamp = stamp;
        entry->code_page = names.Number();
        entry->document = std::move(document);
    }
    entry->checked_tick = tick;
    last_path_ = unix_path;
    last_ = entry;
    return entry->document.get();
}

void ProfileCache::Forget(const std::string &unix_path)
{
    last_ = nullptr;
    entries_.erase(unix_path);
}

}  // namespace host
