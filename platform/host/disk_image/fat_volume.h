// The files of one FAT volume inside an image file, read and written with
// mtools (see mtools_runner.h), never mounted.
//
// Replacing WIN.INI. FAT has no rename over an existing file, so Replace
// works in four steps, each of which mtools makes with one write of one
// directory sector (a rename of an 8.3 name to an 8.3 name in the same
// folder rewrites its entry in place), except the first, whose file is
// this program's own:
//   1. the new bytes are copied in as WININI.$$N (first the free space is
//      checked, so that a full volume is refused before anything is written),
//      and given the old file's hidden, system and archive attributes;
//   2. WIN.INI is renamed WININI.$$O (skipped when there is no WIN.INI);
//   3. WININI.$$N is renamed to WIN.INI (under the name the file had);
//   4. WININI.$$O is deleted.
// Repair, which runs before anything else reads the folder, finds which of
// the three names exist and finishes or undoes the step a kill stopped:
//   WIN.INI  $$N  $$O   killed             Repair
//   yes/no   no   no    not started/done   nothing
//   yes/no   yes  no    in step 1          deletes $$N (it may be partial)
//   no       yes  yes   after step 2       renames $$N to WIN.INI, deletes $$O
//   yes      no   yes   after step 3       deletes $$O
//   no       no   yes   (no step leaves it) renames $$O to WIN.INI
//   yes      yes  yes   (no step leaves it) deletes $$N, then $$O
// Before deleting $$O, Repair checks that it shares no cluster with
// WIN.INI, and before deleting $$N or $$O that its cluster chain is whole;
// files that fail are left alone and reported (ScanDisk's work). One state
// is mended instead: mcopy writes the data, then the folder, then the FAT,
// and mdel the FAT before the folder, so a kill or a crash between the two
// leaves a $$N or $$O whose clusters are already free. mdel cannot delete
// such a file without damaging the FAT (it would follow the free clusters
// into the FAT's first entries), so Repair marks its entry deleted itself,
// as DOS deletes a file, and writes nothing else.
// So WIN.INI is at every moment the old file or the new one, whole, or
// becomes one of them at the next Repair. No other file is touched: the
// temporary names are valid 8.3 names that no user file has.
#ifndef PFMSETUP_PLATFORM_HOST_DISK_IMAGE_FAT_VOLUME_H
#define PFMSETUP_PLATFORM_HOST_DISK_IMAGE_FAT_VOLUME_H

#include "platform/host/disk_image/fat_boot_sector.h"
#include "platform/host/disk_image/mtools_answers.h"
#include "platform/host/disk_image/mtools_runner.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace host {

class FatImageDrive {
public:
    // The FAT volume at byte `offset` of `image`, which this process holds
    // open as `image_fd` (the image lock's descriptor, -1: none) so that the
    // tools are given it by that descriptor (MtoolsRunner::NameForTools).
    // Null, with a one-line reason, when mtools is missing or the volume
    // cannot be read.
    static std::unique_ptr<FatImageDrive> Open(const std::string &image, uint64_t offset, std::string *why,
                                               int image_fd = -1);

    // Entries of a folder ('/'-separated path below the volume's root, "" =
    // root), long names where present, else the 8.3 name; false when there
    // is no such folder.
    bool List(const std::string &folder, std::vector<DriveEntry> *entries);

    // A folder's entries with the volume's free bytes; the read-only
    // attribute is read only `with_attributes` (one more child), else it is
    // false for every entry. False, with a reason, when there is no such
    // folder.
    struct Listing {
        std::vector<DriveEntry> entries;
        uint64_t bytes_free = 0;
    };
    bool ListFolder(const std::string &folder, bool with_attributes, Listing *listing, std::string *why);

    // The file's attributes into `entry` (read_only, kept_attributes);
    // false when they cannot be read.
    bool ReadAttributes(const std::string &path, DriveEntry *entry);

    // The whole file. False when it is missing or damaged (a cluster chain
    // that loops, or that holds less than its directory entry claims).
    bool Read(const std::string &path, std::string *bytes, std::string *why = nullptr);
    // The same for `entry`, the file's entry in its folder's listing as List
    // gave it (so the folder is not listed again); marks its chain whole.
    bool ReadListed(const std::string &folder, DriveEntry &entry, std::string *bytes, std::string *why = nullptr);

    // Replaces or creates `path` (in an existing folder) with `bytes` as the
    // header comment describes. Refused, with nothing written: a file other
    // than WIN.INI, an image without write permission, a file with the
    // read-only attribute, a damaged file, a volume without room.
    bool Replace(const std::string &path, std::string_view bytes, std::string *why);
    // The same from `listing`, the folder's listing as ListFolder gave it,
    // the read-only attribute set at least for the file replaced; nothing
    // may have changed the folder since.
    bool ReplaceListed(const std::string &path, const Listing &listing, std::string_view bytes, std::string *why);

    // Whether the volume has room for a new `name` of `size` bytes beside
    // the old one, counted in its FAT; false with a reason. Gives the free
    // clusters and FSInfo's count of them (0xFFFFFFFF: none kept).
    bool HasRoomFor(const std::string &name, std::size_t size, std::string *why, uint64_t *free_clusters = nullptr,
                    uint32_t *hint = nullptr);

    // Finishes or undoes what a killed Replace left in `folder`, first
    // setting a stale FSInfo free count right; lost clusters are only told
    // (Advice).
    bool Repair(const std::string &folder, std::string *why);
    // The same from `entries`, the folder's listing as List gave it;
    // `changed` tells whether anything was written (the listing is then out
    // of date).
    bool RepairListed(const std::string &folder, const std::vector<DriveEntry> &entries, bool *changed,
                      std::string *why);

    // The first tool output this program could not read, or the first tool
    // that did not run to its end, with the tool named; "" when none.
    const std::string &Trouble() const { return trouble_; }
    // What the first child that died (see ChildResult::Died) was doing,
    // and what befell it: "mcopy, reading ::/WINDOWS/WIN.INI, was killed
    // by signal 9 (Killed)"; empty while none has. Its answers were no
    // verdict on the volume, so a caller stops trusting what it read.
    const std::string &ChildDied() const { return died_; }
    // What RepairListed would do with `entries`, written nowhere: "" when
    // nothing, else a phrase ("renames WININI.$$N to WIN.INI and deletes
    // WININI.$$O").
    static std::string DescribeRepair(const std::vector<DriveEntry> &entries);

    // Lines about the volume that refuse nothing but ask for ScanDisk (lost
    // clusters), found by Repair.
    const std::vector<std::string> &Advice() const { return advice_; }

    // A line about FSInfo's count of free clusters when it is stale (a
    // crash between a tool's FAT and its FSInfo), "" when it is right or
    // kept by no sector: a run tells it at its end, when it wrote nothing
    // that set the count right (Replace and Repair do).
    std::string StaleFreeCount();

    // Whether the image file may be written (it has a write permission).
    bool Writable() const { return writable_; }

    // The names Replace works with.
    static constexpr const char *kReplacedName = "WIN.INI";
    static constexpr const char *kNewName = "WININI.$$N";
    static constexpr const char *kOldName = "WININI.$$O";

private:
    FatImageDrive(std::string image, uint64_t offset, const FatBootSector &boot, bool writable);

    // The free clusters, counted in the first FAT as mtools and Windows
    // count them when they have no hint; `hint` gets FSInfo's count
    // (0xFFFFFFFF when there is none). False, with a reason, when the FAT
    // cannot be read.
    bool CountFree(uint64_t *clusters, uint32_t *hint, std::string *why);
    // The first FAT, read from `fd`; false when the file holds less.
    bool ReadFat(int fd, std::string *fat) const;
    // Writes `clusters` as FSInfo's free count: mtools trusts a stale one
    // (it refuses a copy for want of room, or finds no free cluster half
    // way), and keeps a right one right.
    bool MendFreeCountHint(uint64_t clusters, std::string *why);
    // False, with the line that asks for ScanDisk, when the copies of the
    // FAT differ.
    bool FatsAgree(std::string *why);
    // Whether the first FAT marks `cluster` free.
    bool ClusterFree(uint64_t cluster);

    // Only WIN.INI, and only in an image that may be written.
    bool MayReplace(const std::string &name, std::string *why) const;
    // Checks the cluster chain of a file of `size` bytes; false with a reason.
    bool CheckChain(const std::string &path, uint64_t size, std::string *why);
    bool FirstCluster(const std::string &path, long *cluster);
    // Looks for clusters that no file holds and adds a line about them to
    // advice_ (none when a folder cannot be read).
    void SayLostClusters();
    // Whether the FAT marks the first cluster of `path` free.
    bool FirstClusterFree(const std::string &path);
    // Marks the entry of the 8.3 `name` in `folder` (never the root) deleted
    // in place, the FAT untouched, provided the FAT marks its first cluster
    // free; false, with a reason, when there is no such entry.
    bool DeleteEntryOverFreeClusters(const std::string &folder, const std::string &name, std::string *why);
    bool Step(const std::string &tool, const std::vector<std::string> &args, std::string_view input,
              std::string *why);
    // Runs a tool; `doing` says what for, in the line kept when it dies;
    // one that did not start or finish is noted in trouble_.
    ChildResult Child(const std::string &tool, const std::vector<std::string> &args, std::string_view input,
                      const std::string &doing);
    // After a failed step of Replace: repairs, and succeeds when WIN.INI
    // is then the new file, whole.
    bool AfterFailedStep(const std::string &folder, const std::string &target_path, std::string_view bytes,
                         std::string *why);

    MtoolsRunner runner_;
    std::string trouble_;
    uint64_t offset_;
    FatBootSector boot_;
    uint64_t cluster_bytes_;
    bool writable_;
    std::string died_;
    std::vector<std::string> advice_;
    bool lost_checked_ = false;
};

}  // namespace host

#endif
