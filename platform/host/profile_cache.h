// Parsed profiles of files that the program only reads, kept between
// calls. A file is looked at again at most once per tick of the coarse
// clock, and parsed again only when its identity, size or modification time
// has changed.
#ifndef PFMSETUP_PLATFORM_HOST_PROFILE_CACHE_H
#define PFMSETUP_PLATFORM_HOST_PROFILE_CACHE_H

#include "file_io.h"
#include "profile_document.h"

#include <sys/stat.h>

#include <memory>
#include <string>
#include <unordered_map>

namespace host {

// What identifies one version of a file on disk.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long mtime_ns = 0;
    bool operator==(const FileStamp &o) const
    {
        return device == o.device && inode == o.inode && size == o.size && mtime_ns == o.mtime_ns;
    }
};
FileStamp StampOf(const struct stat &st);


// The parsed profiles of one installation's files, owned by the
// installation and gone with it.
class ProfileCache {
public:
    // The profile in a file, or null when the file cannot be read (the reads
    // then answer as for a missing file). It stays valid until the next call.
    const ProfileDocument *Load(const std::string &unix_path);

    // Drops the cached profile of one file (which this process has just
    // replaced).
    void Forget(const std::string &unix_path);

private:
    struct Entry {
        FileStamp stamp;
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
