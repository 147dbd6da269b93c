// Parsed profiles of files that the program only reads, kept between
// calls, on whichever drive holds them (drive_files.h). A file is looked at again at most once per tick of the coarse
// clock, and parsed again only when its identity, size or modification time
// has changed.
#ifndef PFMSETUP_PLATFORM_HOST_PROFILE_CACHE_H
#define PFMSETUP_PLATFORM_HOST_PROFILE_CACHE_H

#include "platform/host/drives/drive_files.h"
#include "platform/host/profile/document.h"
#include "platform/host/text/code_page.h"

#include <memory>
#include <string>
#include <unordered_map>

namespace host {

// The parsed profiles of one installation's files, owned by the
// installation and gone with it.
class ProfileCache {
public:
    // The profile in a file, its names read in the code page `names`, or
    // null when the file cannot be read (the reads then answer as for a
    // missing file). It stays valid until the next call.
    const ProfileDocument *Load(const std::string &unix_path, const CodePage &names);

    // Drops the cached profile of one file (which this process has just
    // replaced).
    void Forget(const std::string &unix_path);

private:
    struct Entry {
        FileStamp stamp;
        unsigned code_page = 0;  // the code page of its names
        long long checked_tick = -1;  // the coarse clock when the file was last looked at
        std::unique_ptr<const ProfileDocument> document;
    };
    std::unordered_map<std::string, Entry> entries_;
    // The entry read last: reads come in long runs on one file.
    std::string last_path_;
    Entry *last_ = nullptr;
};

}  // namespace host

#endif
