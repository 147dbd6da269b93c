#include "platform/host/disk_image/fat_volume.h"

#include "platform/host/disk_image/fat_boot_sector.h"
#include "platform/host/disk_image/fat_walk.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace host {
namespace {

std::string DosPath(const std::string &path) { return "::/" + path; }

std::string Join(const std::string &folder, const std::string &name)
{
    return folder.empty() ? name : folder + "/" + name;
}

void SplitPath(const std::string &path, std::string *folder, std::string *name)
{
    size_t slash = path.rfind('/');
    *folder = slash == std::string::npos ? "" : path.substr(0, slash);
    *name = slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SameName(const std::string &a, const std::string &b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

bool Fail(std::string *why, std::string reason)
{
    if (why) *why = std::move(reason);
    return false;
}

// An 8.3 name as its folder entry holds it: "WININI.$$N" is "WININI  $$N".
std::string ShortNameField(const std::string &name)
{
    std::string field(11, ' ');
    size_t dot = name.find('.');
    std::string base = name.substr(0, dot), extension = dot == std::string::npos ? "" : name.substr(dot + 1);
    for (size_t i = 0; i < base.size() && i < 8; ++i) field[i] = char(std::toupper(static_cast<unsigned char>(base[i])));
    for (size_t i = 0; i < extension.size() && i < 3; ++i)
        field[8 + i] = char(std::toupper(static_cast<unsigned char>(extension[i])));
    return field;
}

const DriveEntry *Find(const std::vector<DriveEntry> &entries, const std::string &name)
{
    for (const DriveEntry &e : entries)
        if (SameName(e.name, name)) return &e;
    return nullptr;
}

}  // namespace

FatImageDrive::FatImageDrive(std::string image, uint64_t offset, const FatBootSector &boot, bool writable)
    : runner_(std::move(image), offset), offset_(offset), boot_(boot), cluster_bytes_(boot.ClusterBytes()),
      writable_(writable)
{
}

namespace {

// `n` bytes at `offset` of the file; false when it holds fewer.
bool ReadAt(int fd, uint64_t offset, std::string *bytes, size_t n)
{
    bytes->assign(n, '\0');
    size_t done = 0;
    while (done < n) {
        ssize_t got = pread(fd, &(*bytes)[done], n - done, off_t(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        done += size_t(got);
    }
    return true;
}

}  // namespace

bool FatImageDrive::ReadFat(int fd, std::string *fat) const
{
    const uint64_t bps = boot_.bytes_per_sector;
    return ReadAt(fd, offset_ + boot_.reserved_sectors * bps, fat, size_t(boot_.fat_sectors * bps));
}

bool FatImageDrive::FatsAgree(std::string *why)
{
    if (boot_.fat_count < 2) return true;
    int fd = open(runner_.image().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fail(why, std::string("cannot be opened: ") + std::strerror(errno));
    const uint64_t bytes = boot_.fat_sectors * boot_.bytes_per_sector;
    const uint64_t first = offset_ + uint64_t(boot_.reserved_sectors) * boot_.bytes_per_sector;
    std::string one, two;
    bool read = ReadAt(fd, first, &one, size_t(bytes)) && ReadAt(fd, first + bytes, &two, size_t(bytes));
    close(fd);
    if (!read) return Fail(why, "cannot be read: its FATs lie past the end of the file");
    if (one != two)
        return Fail(why, "needs ScanDisk: its two FATs differ (a write to them was cut off); run ScanDisk on "
                         "that machine at its next boot, then run this again");
    return true;
}

bool FatImageDrive::CountFree(uint64_t *clusters, uint32_t *hint, std::string *why)
{
    int fd = open(runner_.image().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fail(why, std::string("cannot be opened: ") + std::strerror(errno));
    const uint64_t bps = boot_.bytes_per_sector;
    std::string fat;
    bool whole = ReadFat(fd, &fat);
    unsigned char info[512];
    *hint = 0xFFFFFFFF;
    if (boot_.fsinfo_sector &&
        pread(fd, info, sizeof info, off_t(offset_ + boot_.fsinfo_sector * bps)) == ssize_t(sizeof info) &&
        !ParseFsInfo(info, hint))
        *hint = 0xFFFFFFFF;
    close(fd);
    if (!whole) return Fail(why, "cannot be read: its FAT lies past the end of the file");
    *clusters = CountFreeClusters(reinterpret_cast<const unsigned char *>(fat.data()), fat.size(), boot_.fat_bits,
                                  boot_.cluster_count);
    return true;
}

bool FatImageDrive::MendFreeCountHint(uint64_t clusters, std::string *why)
{
    unsigned char count[4] = {uint8_t(clusters), uint8_t(clusters >> 8), uint8_t(clusters >> 16),
                              uint8_t(clusters >> 24)};
    int fd = open(runner_.image().c_str(), O_WRONLY | O_CLOEXEC);
    bool ok = fd >= 0 && pwrite(fd, count, sizeof count,
                                off_t(offset_ + boot_.fsinfo_sector * boot_.bytes_per_sector + kFsInfoFreeCount)) ==
                             ssize_t(sizeof count);
    int error = errno;
    if (fd >= 0) close(fd);
    return ok || Fail(why, std::string("cannot be written: ") + std::strerror(error));
}

std::unique_ptr<FatImageDrive> FatImageDrive::Open(const std::string &image, uint64_t offset, std::string *why,
                                                   int image_fd)
{
    std::string tool_name;
    if (!MtoolsRunner::NameForTools(image, image_fd, &tool_name, why)) return nullptr;
    int fd = open(image.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        Fail(why, std::string("cannot be opened: ") + std::strerror(errno));
        return nullptr;
    }
    unsigned char sector[512];
    ssize_t got = pread(fd, sector, sizeof sector, off_t(offset));
    struct stat st;
    bool have_stat = fstat(fd, &st) == 0;
    close(fd);
    FatBootSector boot;
    std::string boot_why;
    if (got != ssize_t(sizeof sector) || !ParseFatBootSector(sector, &boot, &boot_why)) {
        Fail(why, "holds " + (got == ssize_t(sizeof sector) ? boot_why : "no FAT volume") + " at byte " +
                      std::to_string(offset));
        return nullptr;
    }
    // Without a write permission bit the image is read-only for every user,
    // root included (who could open it all the same).
    bool writable = have_stat && (st.st_mode & 0222) && access(image.c_str(), W_OK) == 0;
    std::unique_ptr<FatImageDrive> drive(new FatImageDrive(tool_name, offset, boot, writable));
    ChildResult probe = drive->Child("minfo", {}, {}, "reading the volume's parameters");
    if (!probe.started) {
        Fail(why, MtoolsRunner::MissingLine());
        return nullptr;
    }
    if (!probe.Ok()) {
        Fail(why, "cannot be read by mtools: " + probe.FirstErrorLine());
        return nullptr;
    }
    return drive;
}

bool FatImageDrive::ListFolder(const std::string &folder, bool with_attributes, Listing *listing,
                               std::string *why)
{
    ChildResult dir = Child("mdir", {"-a", DosPath(folder)}, {}, "listing " + DosPath(folder));
    if (!dir.Ok()) return Fail(why, "mdir " + DosPath(folder) + ": " + dir.FirstErrorLine());
    MdirAnswer answer = ParseMdirAnswer(dir.out);
    if (!answer.unread_line.empty()) {
        std::string reason = "cannot be read: mdir -a " + DosPath(folder) +
                             " printed a line this program cannot read: \"" + answer.unread_line + "\"";
        if (trouble_.empty()) trouble_ = reason;
        return Fail(why, reason);
    }
    listing->entries = std::move(answer.entries);
    listing->bytes_free = answer.bytes_free;
    // Only a folder's own listing has "." and "..".
    if (!folder.empty() && !answer.dot_entries) return Fail(why, DosPath(folder) + " is no folder");
    if (!with_attributes || listing->entries.empty()) return true;
    ChildResult attrib =
        Child("mattrib", {"-X", DosPath(Join(folder, "*"))}, {}, "reading the attributes in " + DosPath(folder));
    if (!attrib.Ok()) return Fail(why, "mattrib " + DosPath(folder) + ": " + attrib.FirstErrorLine());
    ApplyMattribAnswer(attrib.out, &listing->entries);
    return true;
}

bool FatImageDrive::ReadAttributes(const std::string &path, DriveEntry *entry)
{
    ChildResult attrib = Child("mattrib", {DosPath(path)}, {}, "reading the attributes of " + DosPath(path));
    return attrib.Ok() && ParseMattribAnswer(attrib.out, entry);
}

bool FatImageDrive::List(const std::string &folder, std::vector<DriveEntry> *entries)
{
    Listing listing;
    if (!ListFolder(folder, true, &listing, nullptr)) return false;
    *entries = std::move(listing.entries);
    return true;
}

bool FatImageDrive::CheckChain(const std::string &path, uint64_t size, std::string *why)
{
    const std::string doing = "following the cluster chain of " + DosPath(path);
    ChildResult chain = Child("mshowfat", {DosPath(path)}, {}, doing);
    if (chain.Died()) return Fail(why, "mshowfat, " + doing + ", " + chain.FirstErrorLine());
    if (!chain.Ok()) return Fail(why, "mshowfat " + DosPath(path) + ": " + chain.FirstErrorLine());
    if (chain.err.find("loop") != std::string::npos) return Fail(why, path + ": its cluster chain loops");
    ChainAnswer answer = ParseMshowfatAnswer(chain.out, size / cluster_bytes_ + 1);
    if (answer.loops) return Fail(why, path + ": its cluster chain loops");
    const uint64_t clusters = answer.clusters;
    if (clusters * cluster_bytes_ < size)
        return Fail(why, path + ": its directory entry claims " + std::to_string(size) +
                             " bytes, its cluster chain holds " + std::to_string(clusters * cluster_bytes_));
    // mshowfat names a file's first cluster even when the FAT marks it free
    // (a write cut off between the FAT and the folder).
    if (size && answer.first > 0 && ClusterFree(uint64_t(answer.first)))
        return Fail(why, path + ": its first cluster is free in the FAT");
    return true;
}

bool FatImageDrive::ClusterFree(uint64_t cluster)
{
    if (cluster < 2 || cluster >= boot_.cluster_count + 2) return false;
    int fd = open(runner_.image().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const uint64_t at = cluster * uint64_t(boot_.fat_bits) / 8;
    std::string entry;
    bool read = ReadAt(fd, offset_ + uint64_t(boot_.reserved_sectors) * boot_.bytes_per_sector + at, &entry,
                       boot_.fat_bits == 32 ? 4 : 2);
    close(fd);
    // The entry read as if it stood at the start of the FAT.
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(entry.data());
    return read && FatEntry(bytes, entry.size(), boot_.fat_bits, cluster, at) == 0;
}

bool FatImageDrive::DeleteEntryOverFreeClusters(const std::string &folder, const std::string &name, std::string *why)
{
    const std::string field = ShortNameField(name);
    const std::string cannot = "cannot delete the entry of " + Join(folder, name) + ", whose clusters are free: ";
    long first_folder = 0;
    if (folder.empty() || !FirstCluster(folder, &first_folder))
        return Fail(why, cannot + "its folder's clusters are not known; the drive needs ScanDisk");
    int fd = open(runner_.image().c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return Fail(why, cannot + std::strerror(errno));
    std::string fat;
    bool whole = ReadFat(fd, &fat);
    const auto *table = reinterpret_cast<const unsigned char *>(fat.data());
    const uint32_t last = FatBadMark(boot_.fat_bits);
    auto in_volume = [this](uint64_t c) { return c >= 2 && c < boot_.cluster_count + 2; };
    std::string cluster;
    uint64_t c = uint64_t(first_folder);
    for (uint64_t walked = 0; whole && in_volume(c) && walked <= boot_.cluster_count; ++walked) {
        const uint64_t at = offset_ + boot_.ClusterOffset(c);
        if (!ReadAt(fd, at, &cluster, size_t(cluster_bytes_))) break;
        for (size_t e = 0; e + 32 <= cluster.size(); e += 32) {
            const auto *entry = reinterpret_cast<const unsigned char *>(cluster.data() + e);
            if (entry[0] == 0) break;
            if (cluster.compare(e, 11, field) != 0 || (entry[11] & 0x18)) continue;
            const uint32_t start = FolderEntryFirstCluster(entry, boot_.fat_bits);
            // Only an entry whose first cluster the FAT marks free: that is
            // the state a cut-off copy or delete leaves, and the one mdel
            // cannot handle.
            if (!in_volume(start) || FatEntry(table, fat.size(), boot_.fat_bits, start, 0) != 0) continue;
            const unsigned char deleted = 0xE5;
            bool written = pwrite(fd, &deleted, 1, off_t(at + e)) == 1;
            int error = errno;
            close(fd);
            return written || Fail(why, cannot + std::strerror(error));
        }
        uint32_t next = FatEntry(table, fat.size(), boot_.fat_bits, c, 0);
        if (next < 2 || next >= last) break;
        c = next;
    }
    close(fd);
    return Fail(why, cannot + "it was not found in its folder; the drive needs ScanDisk");
}

void FatImageDrive::SayLostClusters()
{
    if (lost_checked_) return;  // once a run: a failed step repairs again
    lost_checked_ = true;
    int fd = open(runner_.image().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    std::string fat;
    bool whole = ReadFat(fd, &fat);
    LostClusters lost;
    std::string walk_why;
    bool walked = whole && FindLostClusters(
                               boot_, fat,
                               [this, fd](uint64_t at, std::size_t n, std::string *bytes) {
                                   return ReadAt(fd, offset_ + at, bytes, n);
                               },
                               &lost, &walk_why);
    close(fd);
    // A folder that cannot be read refuses nothing here: reading the files
    // the run needs finds whatever harms them.
    if (!walked || !lost.clusters) return;
    advice_.push_back("has " + std::to_string(lost.clusters) + " lost cluster" + (lost.clusters == 1 ? "" : "s") +
                      " (" + std::to_string(lost.clusters * cluster_bytes_) +
                      " bytes that the FAT gives to no file, left by a write cut off earlier); no file is harmed: "
                      "run ScanDisk on that machine at its next boot to free them");
}

std::string FatImageDrive::StaleFreeCount()
{
    uint64_t free = 0;
    uint32_t hint = 0;
    if (!CountFree(&free, &hint, nullptr) || hint == 0xFFFFFFFF || hint == free) return {};
    return "has a stale count of free clusters: its FSInfo sector says " + std::to_string(hint) + ", its FAT has " +
           std::to_string(free) +
           " (left by a write cut off earlier); no file is harmed: run ScanDisk on that machine at its next boot, "
           "or let a run that writes WIN.INI set it right";
}

bool FatImageDrive::FirstClusterFree(const std::string &path)
{
    long first = 0;
    return FirstCluster(path, &first) && ClusterFree(uint64_t(first));
}

bool FatImageDrive::FirstCluster(const std::string &path, long *cluster)
{
    ChildResult chain = Child("mshowfat", {DosPath(path)}, {}, "following the cluster chain of " + DosPath(path));
    if (!chain.Ok()) return false;
    *cluster = ParseMshowfatAnswer(chain.out, 1).first;
    return *cluster > 0;
}

bool FatImageDrive::Read(const std::string &path, std::string *bytes, std::string *why)
{
    std::string folder, name;
    SplitPath(path, &folder, &name);
    Listing listing;
    if (!ListFolder(folder, false, &listing, why)) return false;
    for (DriveEntry &entry : listing.entries)
        if (SameName(entry.name, name)) return ReadListed(folder, entry, bytes, why);
    return Fail(why, path + " is not there");
}

bool FatImageDrive::ReadListed(const std::string &folder, DriveEntry &entry, std::string *bytes, std::string *why)
{
    const std::string path = Join(folder, entry.name);
    if (entry.folder) return Fail(why, path + " is a folder");
    if (!CheckChain(path, entry.size, why)) return false;
    ChildResult copy = Child("mcopy", {"-n", DosPath(path), "-"}, {}, "reading " + DosPath(path));
    if (copy.Died()) return Fail(why, "mcopy, reading " + DosPath(path) + ", " + copy.FirstErrorLine());
    if (!copy.Ok()) return Fail(why, "mcopy " + DosPath(path) + ": " + copy.FirstErrorLine());
    if (copy.out.size() != entry.size)
        return Fail(why, path + ": mcopy gave " + std::to_string(copy.out.size()) + " bytes of " +
                             std::to_string(entry.size));
    entry.chain_whole = true;
    *bytes = std::move(copy.out);
    return true;
}

ChildResult FatImageDrive::Child(const std::string &tool, const std::vector<std::string> &args,
                                 std::string_view input, const std::string &doing)
{
    ChildResult result = runner_.Run(tool, args, input);
    if (result.Died() && died_.empty()) died_ = tool + ", " + doing + ", " + result.FirstErrorLine();
    if ((!result.started || result.timed_out) && trouble_.empty()) trouble_ = tool + ": " + result.FirstErrorLine();
    return result;
}

bool FatImageDrive::Step(const std::string &tool, const std::vector<std::string> &args, std::string_view input,
                         std::string *why)
{
    std::string doing = tool == "mren"   ? "renaming " + args[0] + " to " + args[1]
                        : tool == "mdel" ? "deleting " + args.back()
                        : tool == "mattrib" ? "giving " + args.back() + " the old file's attributes"
                                         : "copying the new file in as " + args.back();
    ChildResult result = Child(tool, args, input, doing);
    if (result.Ok()) return true;
    if (result.Died()) return Fail(why, tool + ", " + doing + ", " + result.FirstErrorLine());
    return Fail(why, tool + " " + args.back() + ": " + result.FirstErrorLine());
}

bool FatImageDrive::Repair(const std::string &folder, std::string *why)
{
    Listing listing;
    bool changed = false;
    return ListFolder(folder, false, &listing, why) && RepairListed(folder, listing.entries, &changed, why);
}

bool FatImageDrive::RepairListed(const std::string &folder, const std::vector<DriveEntry> &entries, bool *changed,
                                 std::string *why)
{
    *changed = false;
    // A write cut off inside the FATs leaves the copies differing; which
    // one is right is ScanDisk's to find, before anything more is written.
    std::string fat_why;
    if (!FatsAgree(&fat_why)) return Fail(why, fat_why);
    // Clusters that no file holds (a copy whose FAT was written and its
    // folder entry not) harm no file; they are told, and left to ScanDisk.
    SayLostClusters();
    const DriveEntry *target = Find(entries, kReplacedName);
    bool has_new = Find(entries, kNewName), has_old = Find(entries, kOldName);
    if (!has_new && !has_old) return true;
    // A crash between a tool's FAT and its FSInfo leaves the free count
    // stale; mtools counts on from it, so it is set right before the
    // repair writes (with nothing to repair, see StaleFreeCount).
    uint64_t free = 0;
    uint32_t hint = 0;
    const bool stale = CountFree(&free, &hint, nullptr) && hint != 0xFFFFFFFF && hint != free;
    if (!writable_) return Fail(why, "holds an unfinished replacement of WIN.INI, and the image is read-only");
    if (stale && !MendFreeCountHint(free, why)) return false;
    // Every step below writes; a failed one may have written part.
    *changed = true;
    const std::string target_path = Join(folder, target ? target->name : std::string(kReplacedName));
    const std::string new_path = Join(folder, kNewName), old_path = Join(folder, kOldName);
    if (has_new && has_old && !target) {
        // Killed after step 2: the new file is whole.
        if (!Step("mren", {DosPath(new_path), DosPath(target_path)}, {}, why)) return false;
        return Step("mdel", {DosPath(old_path)}, {}, why);
    }
    if (has_new) {
        // A copy killed between mcopy's write of the folder and of the FAT
        // leaves an entry whose clusters are still free; mdel would then
        // follow a chain of free clusters and write into the FAT's first
        // entries, so the entry alone is marked deleted, as DOS deletes a
        // file. Another break in the chain is ScanDisk's to mend.
        const DriveEntry *partial = Find(entries, kNewName);
        std::string chain_why;
        if (CheckChain(new_path, partial->size, &chain_why)) {
            if (!Step("mdel", {DosPath(new_path)}, {}, why)) return false;
        } else if (!FirstClusterFree(new_path)) {
            return Fail(why, std::string(kNewName) + " was cut off by a kill while it was written (" + chain_why +
                                 "): the drive needs ScanDisk");
        } else if (!DeleteEntryOverFreeClusters(folder, kNewName, why)) {
            return false;
        }
    }
    if (!has_old) return true;
    // The FAT of an mdel cut off by a crash can be written before its
    // folder entry: $$O's clusters are free, and mdel would follow them
    // into the FAT's first entries. Its entry is marked deleted, which is
    // what the mdel had left to do.
    const DriveEntry *old_entry = Find(entries, kOldName);
    std::string chain_why;
    if (!CheckChain(old_path, old_entry->size, &chain_why)) {
        if (target && FirstClusterFree(old_path)) return DeleteEntryOverFreeClusters(folder, kOldName, why);
        return Fail(why, std::string(kOldName) + " was cut off by a crash while it was deleted (" + chain_why +
                             "): the drive needs ScanDisk");
    }
    if (!target) return Step("mren", {DosPath(old_path), DosPath(target_path)}, {}, why);
    long old_first = 0, target_first = 0;
    if (FirstCluster(old_path, &old_first) && FirstCluster(target_path, &target_first) && old_first == target_first)
        return Fail(why, std::string(kOldName) + " and " + target->name +
                             " share their clusters: the drive needs ScanDisk");
    return Step("mdel", {DosPath(old_path)}, {}, why);
}

std::string FatImageDrive::DescribeRepair(const std::vector<DriveEntry> &entries)
{
    const DriveEntry *target = Find(entries, kReplacedName);
    bool has_new = Find(entries, kNewName), has_old = Find(entries, kOldName);
    const std::string name = target ? target->name : std::string(kReplacedName);
    const std::string new_name = kNewName, old_name = kOldName;
    if (has_new && has_old && !target) return "renames " + new_name + " (the new file, whole) to " + name + " and deletes " + old_name;
    if (has_new && has_old) return "deletes " + new_name + " and " + old_name + " and keeps " + name;
    if (has_new) return "deletes " + new_name + " (a copy cut off by the kill) and keeps " + name;
    if (has_old && !target) return "renames " + old_name + " back to " + name;
    if (has_old) return "deletes " + old_name + " (the old file) and keeps " + name;
    return {};
}

bool FatImageDrive::HasRoomFor(const std::string &name, std::size_t size, std::string *why, uint64_t *free_clusters,
                               uint32_t *hint)
{
    // Room for the new file while the old one is kept, and for a folder
    // that has to grow by a cluster to take the new name, counted in the
    // FAT: FSInfo's count (mdir's figure) is a hint a crash leaves stale.
    uint64_t needed = (size + cluster_bytes_ - 1) / cluster_bytes_ + 1, free = 0;
    uint32_t stale = 0;
    if (!CountFree(&free, &stale, why)) return false;
    if (free_clusters) *free_clusters = free;
    if (hint) *hint = stale;
    if (free >= needed) return true;
    return Fail(why, "has no room for the new " + name + " (" + std::to_string(size) + " bytes, " +
                         std::to_string(free * cluster_bytes_) + " bytes free)");
}

bool FatImageDrive::MayReplace(const std::string &name, std::string *why) const
{
    if (!SameName(name, kReplacedName)) return Fail(why, "only WIN.INI is replaced in a disk image, not " + name);
    if (!writable_) return Fail(why, "has no write permission (the image file is read-only)");
    return true;
}

bool FatImageDrive::Replace(const std::string &path, std::string_view bytes, std::string *why)
{
    std::string folder, name;
    SplitPath(path, &folder, &name);
    Listing listing;
    return MayReplace(name, why) && ListFolder(folder, true, &listing, why) &&
           ReplaceListed(path, listing, bytes, why);
}

bool FatImageDrive::ReplaceListed(const std::string &path, const Listing &listed, std::string_view bytes,
                                  std::string *why)
{
    std::string folder, name;
    SplitPath(path, &folder, &name);
    if (!MayReplace(name, why)) return false;
    Listing relisted;
    bool repaired = false;
    if (!RepairListed(folder, listed.entries, &repaired, why)) return false;
    if (repaired && !ListFolder(folder, true, &relisted, why)) return false;
    const Listing &listing = repaired ? relisted : listed;
    const DriveEntry *target = Find(listing.entries, name);
    if (target) {
        if (target->folder) return Fail(why, Join(folder, target->name) + " is a folder");
        if (target->read_only) return Fail(why, Join(folder, target->name) + " has the read-only attribute");
        if (!target->chain_whole && !CheckChain(Join(folder, target->name), target->size, why)) return false;
    }
    uint64_t free = 0;
    uint32_t hint = 0;
    if (!HasRoomFor(name, bytes.size(), why, &free, &hint)) return false;
    if (hint != 0xFFFFFFFF && hint != free && !MendFreeCountHint(free, why)) return false;
    const std::string new_path = Join(folder, kNewName), old_path = Join(folder, kOldName);
    const std::string target_path = Join(folder, target ? target->name : name);
    // The new file takes the old one's hidden, system and archive
    // attributes while it is still WININI.$$N (mcopy gives it A alone).
    DriveEntry old_attributes = target ? *target : DriveEntry();
    if (target && !old_attributes.attributes_read && !ReadAttributes(target_path, &old_attributes))
        return Fail(why, "cannot read the attributes of " + target_path);
    std::vector<std::string> attributes;
    for (char letter : {'H', 'S', 'A'}) {
        if (!target) break;
        bool set = old_attributes.kept_attributes.find(letter) != std::string::npos;
        if (set != (letter == 'A')) attributes.push_back((set ? "+" : "-") + std::string(1, char(letter + 32)));
    }
    if (!attributes.empty()) attributes.push_back(DosPath(new_path));
    bool done = Step("mcopy", {"-o", "-", DosPath(new_path)}, bytes, why) &&
                (attributes.empty() || Step("mattrib", attributes, {}, why)) &&
                (!target || Step("mren", {DosPath(target_path), DosPath(old_path)}, {}, why)) &&
                Step("mren", {DosPath(new_path), DosPath(target_path)}, {}, why) &&
                (!target || Step("mdel", {DosPath(old_path)}, {}, why));
    return done || AfterFailedStep(folder, target_path, bytes, why);
}

bool FatImageDrive::AfterFailedStep(const std::string &folder, const std::string &target_path,
                                    std::string_view bytes, std::string *why)
{
    // A step failed (its child died, or refused): the repair finishes or
    // undoes the replacement, and WIN.INI, read back, tells which. A child
    // that died after its work was done leaves the new file whole.
    std::string step_why = *why, repair_why, now;
    if (!Repair(folder, &repair_why)) {
        *why = step_why + "; then " + repair_why;
        return false;
    }
    std::string read_why;
    if (Read(target_path, &now, &read_why)) {
        if (now == bytes) {
            // The dead child had done its work, and what was read since
            // came from children that lived: nothing is left to distrust.
            died_.clear();
            return true;
        }
        *why = "WIN.INI was left as it was: " + step_why;
    } else {
        *why = step_why + "; then " + read_why;
    }
    return false;
}

}  // namespace host
