// The files of a drive, as the host layer reads and replaces them: folders
// listed, names looked at, files stamped and read, win.ini replaced whole.
//
// Two kinds of drive hold them:
//   - host folders (a Wine prefix's drives, a Windows 9x drive kept as a
//     folder, the kit folder): host paths, POSIX calls (host_files.cpp);
//   - the FAT volume inside a disk image (image_files.cpp): paths in a
//     namespace the host never uses, "fat:" for the volume's root and
//     "fat:/WINDOWS/WIN.INI" for a file in it, reached through mtools.
// Path resolution, the profile cache and the win.ini replacement ask
// FilesOf(path) for the drive that holds a path, and never look at which
// kind it is. A provider other than the host registers the root of the
// paths it holds (DriveFilesRegistration) for as long as it is there: the
// image installation while it is open. Every other path is the host's.
#ifndef PFMSETUP_PLATFORM_HOST_DRIVES_DRIVE_FILES_H
#define PFMSETUP_PLATFORM_HOST_DRIVES_DRIVE_FILES_H

#include "platform/host/base/file_io.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// What identifies one version of a file.
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


// The root of the disk image's volume, and the start of every path in it.
constexpr const char kImageRoot[] = "fat:";
bool IsImagePath(std::string_view path);

// A file taken for replacing (see DriveFiles::BeginReplace); letting it go
// without Commit leaves the file as it was.
class FileReplacement {
public:
    virtual ~FileReplacement() = default;
    // The new contents, given piece by piece to the sink; the same pieces
    // at every call, so that a drive may measure them before it copies.
    using Contents = std::function<void(const std::function<void(std::string_view)> &sink)>;
    // Puts the new contents in place of the file: at every moment the file
    // is the old one or the new one, whole (or becomes one of them at the
    // next run's repair). False, with a reason where the drive has one, when
    // the old file stays.
    virtual bool Commit(const Contents &contents, std::string *why) = 0;
    // Whether Commit of `size` bytes would be refused before it writes
    // anything, as far as the drive can tell without writing (a preview);
    // false with a reason.
    virtual bool CouldCommit(std::size_t size, std::string *why)
    {
        (void)size;
        (void)why;
        return true;
    }
};

class DriveFiles {
public:
    virtual ~DriveFiles() = default;

    // Whether an entry of that name exists (a link is not followed).
    virtual bool Exists(const std::string &path) = 0;
    virtual bool IsFolder(const std::string &path) = 0;
    // The names in a folder, "." and ".." left out; false when it is none.
    virtual bool List(const std::string &folder, std::vector<std::string> *names) = 0;
    // The stamp of a regular file; false when the path is none.
    virtual bool Stamp(const std::string &path, FileStamp *stamp) = 0;
    // A regular file, at most `limit` bytes of it (more are left unread);
    // false when it cannot be read.
    virtual bool Read(const std::string &path, std::string *bytes, FileStamp *stamp,
                      std::size_t limit = std::numeric_limits<std::size_t>::max()) = 0;

    // Takes the file at `path` (win.ini) for replacing: other writers of
    // this program wait until it is let go; `bytes` gets what the file holds
    // now and `existed` whether it is there. Null when it cannot be
    // replaced: with `why` empty for what a user sees as a file that may
    // not be written (the read-only attribute, a folder the user may not
    // write), else with the reason. With `through_links`, a path that is
    // a symbolic link is written through it, as Wine writes a prefix's
    // win.ini: the replacement is made beside the file the link names and
    // the link stays; without, the name itself is replaced.
    virtual std::unique_ptr<FileReplacement> BeginReplace(const std::string &path, bool through_links,
                                                          std::string *bytes, bool *existed, std::string *why) = 0;

    // Why the drive itself could not be read (a tool that printed what this
    // program cannot read, or did not run), "" when nothing went wrong:
    // what an installation reports instead of the files that then seemed
    // missing.
    virtual std::string Trouble() const { return {}; }
};

// The host's own files.
DriveFiles &HostFiles();

// `files` answers for every path that starts with `root`, from the
// registration's making until it goes; the newest registration wins.
class DriveFilesRegistration {
public:
    DriveFilesRegistration(std::string root, DriveFiles &files);
    ~DriveFilesRegistration();
    DriveFilesRegistration(const DriveFilesRegistration &) = delete;
    DriveFilesRegistration &operator=(const DriveFilesRegistration &) = delete;

private:
    DriveFiles *files_;
};

// The drive that holds a path: the registered files whose root starts it,
// the host for any other.
DriveFiles &FilesOf(const std::string &path);

}  // namespace host

#endif
