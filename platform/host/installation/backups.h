// The copies of win.ini that runs replaced, kept on the host so that a run
// can be taken back (pfmsetup --undo) or put back by hand.
//
// They lie under $XDG_STATE_HOME/pfmsetup/ (~/.local/state/pfmsetup/ when
// it is unset or empty), in one folder per installation named by its kind
// and its path, with a short hash of the path that keeps two installations
// apart: /home/ann/vms/win98.img gives "image-home-ann-vms-win98.img-1f0c2a9e".
// Each run that replaces win.ini leaves two files there, named by the time
// of the run (UTC, to the microsecond):
//   2026-12-09_07-31-00.123456.WIN.INI  the file as it was before the run
//   2026-12-09_07-31-00.123456.record   what the run found and wrote:
//       installation image /home/ann/vms/win98.img
//       file C:\WINDOWS\WIN.INI
//       time 2026-12-09 07:31:00 UTC
//       kept 1234 <sha256>      ("kept none" when the run made the file)
//       written 2345 <sha256>
// The record is written only once the replacement is done (a kept file
// without one is a killed run's, deleted by the next); the last ten runs of
// each installation are kept, older ones deleted. The folders are
// made with mode 0700; a folder of ours that is a link or a file is
// refused, never followed.
#ifndef PFMSETUP_PLATFORM_HOST_BACKUPS_H
#define PFMSETUP_PLATFORM_HOST_BACKUPS_H

#include "platform/host/base/sha256.h"
#include "platform/host/installation/installation.h"

#include <memory>
#include <string>
#include <string_view>

namespace host {

constexpr int kRunsKept = 10;

// The backup folder of an installation, made when `make` is set; "" with a
// reason (XDG_STATE_HOME relative, no home folder, a link where a folder
// belongs, a folder that cannot be made) when there is none.
std::string BackupFolderOf(const Installation &installation, bool make, std::string *why);

// A backup kept before a run replaces win.ini. Confirm it once the
// replacement is done; one let go unconfirmed is deleted.
class PendingBackup {
public:
    // Keeps `before` (the file as the run found it; `existed` false when
    // there was none) of the file `windows_name`. Null with a reason when it
    // cannot be kept.
    static std::unique_ptr<PendingBackup> Keep(const Installation &installation, const std::string &windows_name,
                                               std::string_view before, bool existed, std::string *why);
    ~PendingBackup();
    PendingBackup(const PendingBackup &) = delete;
    PendingBackup &operator=(const PendingBackup &) = delete;

    // The replacement, of the contents `written`, is done: the record is
    // completed and older runs than the last kRunsKept are deleted.
    void Confirm(const ContentDigest &written);

private:
    PendingBackup(std::string folder, std::string stem, std::string kept, std::string record);

    std::string folder_;
    std::string stem_;
    std::string kept_;  // the kept file's path, "" when the run makes win.ini
    std::string record_;
    bool confirmed_ = false;
};

// The most recent run of an installation, as its record tells it.
struct KeptRun {
    std::string folder;
    std::string stem;
    std::string kept_path;  // "" when the run made the file
    std::string file;       // as Windows names it
    std::string time;
    ContentDigest kept;
    ContentDigest written;
};

// The most recent kept run; false with a reason when there is none or its
// record cannot be read.
bool LastKeptRun(const Installation &installation, KeptRun *run, std::string *why);
// The kept file, checked against its record; false with a reason when it
// is missing, truncated or changed.
bool ReadKeptFile(const KeptRun &run, std::string *bytes, std::string *why);
// Deletes the run's files, once it has been put back.
void ForgetKeptRun(const KeptRun &run);

}  // namespace host

#endif
