// The system profile, win.ini, as the program writes it.
//
// Writes go to a copy held in memory. The first write takes win.ini from
// its drive (drive_files.h), which keeps other writers off, reads the file
// afresh and checks that it can be replaced; a flush has the drive put the
// copy in its place, then lets it go. On a host folder that is a lock on
// the Windows folder and a temporary file renamed over win.ini
// (permissions and owner kept); in a disk image, the replacement that
// fat_volume.h describes. What is still pending when the process ends
// is flushed then. A crash at any point leaves either the old file or the
// new one, whole (in an image, after the next run's repair).
//
// Before the copy replaces win.ini, the file it replaces is kept on the
// host with what is about to be written (backups.h); a backup that cannot
// be kept is said in one line on standard error, and the write goes on. In
// a preview (Installation::Preview) the flush writes nothing and keeps
// what it would have written instead (Previewed).
//
// When memory runs out in any host operation, the copy is abandoned: the
// run's writes until the next flush are refused and that flush fails, so
// win.ini never gets part of a run that could not hold its data.
#ifndef PFMSETUP_PLATFORM_HOST_INSTALLATION_SYSTEM_PROFILE_H
#define PFMSETUP_PLATFORM_HOST_INSTALLATION_SYSTEM_PROFILE_H

#include "platform/host/drives/drive_files.h"
#include "platform/host/profile/cache.h"
#include "platform/host/profile/dialect.h"
#include "platform/host/profile/document.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace host {

class Installation;

class SystemProfile {
public:
    // The system profile of `installation`, which owns this object and
    // whose parsed files `profiles` holds: the copy this process replaces
    // is dropped from it at once. It is written by the rules of `dialect`,
    // and never larger than the dialect's largest file.
    SystemProfile(Installation &installation, ProfileCache &profiles, const ProfileDialect &dialect)
        : installation_(installation), profiles_(profiles), dialect_(dialect)
    {
    }
    ~SystemProfile();
    SystemProfile(const SystemProfile &) = delete;
    SystemProfile &operator=(const SystemProfile &) = delete;

    // One write: key = value, a key deleted (value null), or a section
    // deleted (key and value null). False when win.ini cannot be written or
    // the text would not read back as written.
    bool Write(const char *section, const char *key, const char *value);

    // Writes pending changes to disk; true when there were none or they are
    // now on disk, false (with nothing written) when the copy was abandoned
    // since the last flush, or would be larger than the dialect allows
    // (said in one line on standard error). Never throws.
    bool Flush();

    // Drops the copy and its lock, without writing it: memory ran out.
    void Abandon() noexcept;

    // The copy with pending changes when `unix_path` is win.ini and this
    // process holds it, else null (the file on disk is then current).
    const ProfileDocument *Pending(const std::string &unix_path) const;

    // The last flush that replaced win.ini, or in a preview would have:
    // the file's name as Windows names it (with the name the file has), its
    // bytes before, and in a preview the bytes it would have written.
    struct Replacement {
        std::string name;
        std::string before;
        std::string after;
    };
    const std::optional<Replacement> &Replaced() const { return replaced_; }
    // The kit's registration as the writes showed it: the [PostScript,PORT]
    // sections written, and the soft-font files registered in the first of
    // them (Windows paths; every port gets the same). Dropped when memory
    // runs out, with the copy.
    struct Registration {
        std::vector<std::string> ports;
        std::vector<std::string> soft_fonts;
    };
    const Registration &Registered() const { return registered_; }

    // Whether win.ini could not be taken for writing (read-only, or a
    // reason said on standard error) since the process started.
    bool Refused() const { return refused_; }

    // Changes whenever the copy is taken or let go: an answer of Pending
    // stays right while this stays the same.
    unsigned long HoldGeneration() const { return hold_generation_; }

private:
    bool Begin();
    bool WriteOut();
    void Release();

    // Whether the copy fits the dialect's largest file; says why not.
    bool FitsLimit() const;

    Installation &installation_;
    ProfileCache &profiles_;
    const ProfileDialect dialect_;
    bool held_ = false;
    unsigned long hold_generation_ = 0;
    bool dirty_ = false;
    bool lost_ = false;  // abandoned since the last flush
    std::unique_ptr<FileReplacement> taken_;
    std::string path_;
    std::string folder_;
    bool existed_ = false;
    std::string before_;  // the file as it was taken
    std::unique_ptr<ProfileDocument> document_;
    std::optional<Replacement> replaced_;
    bool refused_ = false;
    Registration registered_;
};

}  // namespace host

#endif
