// The files of a disk image's Windows volume as drive files (drive_files.h):
// paths "fat:" (the root) and "fat:/WINDOWS/WIN.INI", read and replaced
// through FatImageDrive.
//
// The image is locked for the whole run (image_lock.h), so nothing else
// changes it meanwhile: every folder is listed once and every file read
// once, and kept until this process replaces a file there. That keeps the
// mtools children to a few for the run, however many reads the
// installation makes.
#ifndef PFMSETUP_PLATFORM_HOST_DRIVES_IMAGE_FILES_H
#define PFMSETUP_PLATFORM_HOST_DRIVES_IMAGE_FILES_H

#include "platform/host/drives/drive_files.h"
#include "platform/host/disk_image/fat_volume.h"

#include <functional>
#include <map>
#include <optional>

namespace host {

class ImageFiles : public DriveFiles {
public:
    explicit ImageFiles(FatImageDrive &drive) : drive_(drive) {}

    bool Exists(const std::string &path) override;
    bool IsFolder(const std::string &path) override;
    bool List(const std::string &folder, std::vector<std::string> *names) override;
    bool Stamp(const std::string &path, FileStamp *stamp) override;
    bool Read(const std::string &path, std::string *bytes, FileStamp *stamp, std::size_t limit) override;
    std::unique_ptr<FileReplacement> BeginReplace(const std::string &path, bool through_links, std::string *bytes,
                                                  bool *existed, std::string *why) override;

    std::string Trouble() const override;

    // Finishes or undoes a replacement that a killed run left in a folder.
    bool Repair(const std::string &folder, std::string *why);
    // What Repair would do in `folder`, doing nothing ("" when nothing).
    std::string DescribeRepair(const std::string &folder);

    // Called once, with the line's end ("the image cannot be read: mcopy,
    // reading ...), when an mtools child first dies (a kill, the time
    // limit): what it was reading is then unknown, and from then on no
    // file is taken for replacing, so that nothing is written after a read
    // that failed.
    void OnChildDied(std::function<void(const std::string &)> report) { on_child_died_ = std::move(report); }

    // A reason that FatImageDrive gives ("has no room ..."), as a line's
    // end: "the image has no room ...".
    static std::string AboutTheImage(const std::string &reason);

private:
    friend class ImageReplacement;
    DriveEntry *Entry(const std::string &inner);
    FatImageDrive::Listing *Listing(const std::string &inner);
    void Changed(const std::string &inner_folder);
    // Whether a child has died; reports it the first time.
    bool ChildDied();
    std::string Died() const;

    FatImageDrive &drive_;
    // By path below the root, in upper case: a listing (none when the path
    // is no folder) and a file's bytes. A listing holds the read-only
    // attribute only of the file taken for replacing, the one file whose
    // attribute matters.
    std::map<std::string, std::optional<FatImageDrive::Listing>> listings_;
    std::map<std::string, std::string> contents_;
    std::function<void(const std::string &)> on_child_died_;
    bool reported_ = false;
    bool replaced_ = false;  // a file was replaced whole in this run
    long long generation_ = 1;  // moves on whenever this process changes a file
};

}  // namespace host

#endif
