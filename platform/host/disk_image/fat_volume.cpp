#include "platform/host/disk_image/fat_volume.h"

#include "platform/host/disk_image/fat_boot_sector.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <set>

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

std::vector<std::string_view> Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

bool IsDate(std::string_view t)
{
    return t.size() == 10 && t[4] == '-' && t[7] == '-' && std::isdigit((unsigned char)t[0]) &&
           std::isdigit((unsigned char)t[9]);
}

// One line of mdir's listing: "NAME     EXT      SIZE DATE  TIME  long name",
// SIZE being <DIR> for a folder; false for the lines around the entries.
bool ParseEntryLine(std::string_view line, DriveEntry *entry)
{
    std::vector<std::string_view> tokens;
    size_t pos = 0, date_end = 0;
    while (pos < line.size()) {
        while (pos < line.size() && line[pos] == ' ') ++pos;
        size_t end = line.find(' ', pos);
        if (end == std::string_view::npos) end = line.size();
        if (end > pos) tokens.push_back(line.substr(pos, end - pos));
        pos = end;
        if (!tokens.empty() && IsDate(tokens.back())) {
            date_end = pos;
            break;
        }
    }
    if (!date_end || tokens.size() < 3 || tokens.size() > 4) return false;
    std::string_view size = tokens[tokens.size() - 2];
    std::string name(tokens[0]);
    if (tokens.size() == 4) name += "." + std::string(tokens[1]);
    // The time, then two spaces and the long name where there is one.
    std::string_view rest = line.substr(date_end);
    while (!rest.empty() && rest[0] == ' ') rest.remove_prefix(1);
    size_t time_end = rest.find(' ');
    std::string_view time = rest.substr(0, time_end);
    if (time.empty() || time.find(':') == std::string_view::npos) return false;
    rest = time_end == std::string_view::npos ? std::string_view() : rest.substr(time_end);
    if (rest.size() > 2 && rest.substr(0, 2) == "  ") {
        std::string_view long_name = rest.substr(2);
        while (!long_name.empty() && long_name.back() == ' ') long_name.remove_suffix(1);
        if (!long_name.empty()) name = std::string(long_name);
    }
    DriveEntry e;
    e.name = name;
    if (size == "<DIR>") {
        e.folder = true;
    } else {
        for (char c : size) {
            if (!std::isdigit((unsigned char)c)) return false;
            e.size = e.size * 10 + uint64_t(c - '0');
        }
    }
    *entry = e;
    return true;
}

// The figure of mdir's last line, "   66 566 144 bytes free".
bool ParseBytesFree(std::string_view line, uint64_t *bytes)
{
    size_t at = line.find(" bytes free");
    if (at == std::string_view::npos) return false;
    uint64_t value = 0;
    for (char c : line.substr(0, at))
        if (std::isdigit((unsigned char)c)) value = value * 10 + uint64_t(c - '0');
    *bytes = value;
    return true;
}

const DriveEntry *Find(const std::vector<DriveEntry> &entries, const std::string &name)
{
    for (const DriveEntry &e : entries)
        if (SameName(e.name, name)) return &e;
    return nullptr;
}

}  // namespace

FatImageDrive::FatImageDrive(std::string image, uint64_t offset, uint64_t cluster_bytes, bool writable)
    : runner_(std::move(image), offset), cluster_bytes_(cluster_bytes), writable_(writable)
{
}

std::unique_ptr<FatImageDrive> FatImageDrive::Open(const std::string &image, uint64_t offset, std::string *why)
{
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
    std::unique_ptr<FatImageDrive> drive(new FatImageDrive(image, offset, boot.ClusterBytes(), writable));
    ChildResult probe = drive->runner_.Run("minfo", {});
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
    ChildResult dir = runner_.Run("mdir", {"-a", DosPath(folder)});
    if (!dir.Ok()) return Fail(why, "mdir " + DosPath(folder) + ": " + dir.FirstErrorLine());
    listing->entries.clear();
    bool is_folder = folder.empty();
    for (std::string_view line : Lines(dir.out)) {
        DriveEntry e;
        if (ParseBytesFree(line, &listing->bytes_free)) continue;
        if (!ParseEntryLine(line, &e)) continue;
        if (e.name == "." || e.name == "..") {
            is_folder = true;  // only a folder's own listing has them
            continue;
        }
        listing->entries.push_back(e);
    }
    if (!is_folder) return Fail(why, DosPath(folder) + " is no folder");
    if (!with_attributes || listing->entries.empty()) return true;
    ChildResult attrib = runner_.Run("mattrib", {"-X", DosPath(Join(folder, "*"))});
    if (!attrib.Ok()) return Fail(why, "mattrib " + DosPath(folder) + ": " + attrib.FirstErrorLine());
    for (std::string_view line : Lines(attrib.out)) {
        size_t at = line.find("::/");
        if (at == std::string_view::npos) continue;
        std::string_view flags = line.substr(0, at);
        std::string_view path = line.substr(at);
        std::string name(path.substr(path.rfind('/') + 1));
        for (DriveEntry &e : listing->entries)
            if (e.name == name) e.read_only = flags.find('R') != std::string_view::npos;
    }
    return true;
}

bool FatImageDrive::ReadOnlyAttribute(const std::string &path, bool *read_only)
{
    ChildResult attrib = runner_.Run("mattrib", {DosPath(path)});  // "  A    R     ::/PATH"
    size_t at = attrib.out.find("::/");
    if (!attrib.Ok() || at == std::string::npos) return false;
    *read_only = attrib.out.substr(0, at).find('R') != std::string::npos;
    return true;
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
    ChildResult chain = runner_.Run("mshowfat", {DosPath(path)});
    if (!chain.Ok()) return Fail(why, "mshowfat " + DosPath(path) + ": " + chain.FirstErrorLine());
    if (chain.err.find("loop") != std::string::npos) return Fail(why, path + ": its cluster chain loops");
    // "::/PATH <2-5> <9>": runs of clusters in chain order.
    std::set<long> seen;
    uint64_t clusters = 0;
    std::string_view text = chain.out;
    for (size_t open = text.find('<'); open != std::string_view::npos; open = text.find('<', open + 1)) {
        size_t close = text.find('>', open);
        if (close == std::string_view::npos) break;
        std::string run(text.substr(open + 1, close - open - 1));
        char *end = nullptr;
        long first = std::strtol(run.c_str(), &end, 10);
        if (end == run.c_str()) continue;
        long last = *end == '-' ? std::strtol(end + 1, nullptr, 10) : first;
        for (long c = first; c <= last && clusters <= size / cluster_bytes_ + 1; ++c, ++clusters)
            if (!seen.insert(c).second) return Fail(why, path + ": its cluster chain loops");
    }
    if (clusters * cluster_bytes_ < size)
        return Fail(why, path + ": its directory entry claims " + std::to_string(size) +
                             " bytes, its cluster chain holds " + std::to_string(clusters * cluster_bytes_));
    return true;
}

bool FatImageDrive::FirstCluster(const std::string &path, long *cluster)
{
    ChildResult chain = runner_.Run("mshowfat", {DosPath(path)});
    size_t open = chain.out.find('<');
    if (!chain.Ok() || open == std::string::npos) return false;
    *cluster = std::strtol(chain.out.c_str() + open + 1, nullptr, 10);
    return *cluster > 0;
}

bool FatImageDrive::Read(const std::string &path, std::string *bytes)
{
    std::string folder, name;
    SplitPath(path, &folder, &name);
    Listing listing;
    if (!ListFolder(folder, false, &listing, nullptr)) return false;
    for (DriveEntry &entry : listing.entries)
        if (SameName(entry.name, name)) return ReadListed(folder, entry, bytes);
    return false;
}

bool FatImageDrive::ReadListed(const std::string &folder, DriveEntry &entry, std::string *bytes)
{
    const std::string path = Join(folder, entry.name);
    if (entry.folder || !CheckChain(path, entry.size, nullptr)) return false;
    ChildResult copy = runner_.Run("mcopy", {"-n", DosPath(path), "-"});
    if (!copy.Ok() || copy.out.size() != entry.size) return false;
    entry.chain_whole = true;
    *bytes = std::move(copy.out);
    return true;
}

bool FatImageDrive::Step(const std::string &tool, const std::vector<std::string> &args, std::string_view input,
                         std::string *why)
{
    ChildResult result = runner_.Run(tool, args, input);
    if (result.Ok()) return true;
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
    const DriveEntry *target = Find(entries, kReplacedName);
    bool has_new = Find(entries, kNewName), has_old = Find(entries, kOldName);
    if (!has_new && !has_old) return true;
    if (!writable_) return Fail(why, "holds an unfinished replacement of WIN.INI, and the image is read-only");
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
        // entries, so such an entry is left for ScanDisk.
        const DriveEntry *partial = Find(entries, kNewName);
        std::string chain_why;
        if (!CheckChain(new_path, partial->size, &chain_why))
            return Fail(why, std::string(kNewName) + " was cut off by a kill while it was written (" + chain_why +
                                 "): the drive needs ScanDisk");
        if (!Step("mdel", {DosPath(new_path)}, {}, why)) return false;
    }
    if (!has_old) return true;
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

bool FatImageDrive::HasRoomFor(const std::string &name, std::size_t size, const Listing &listing,
                               std::string *why) const
{
    // Room for the new file while the old one is kept, and for a folder
    // that has to grow by a cluster to take the new name.
    uint64_t needed = (size + cluster_bytes_ - 1) / cluster_bytes_ * cluster_bytes_ + cluster_bytes_;
    if (listing.bytes_free >= needed) return true;
    return Fail(why, "has no room for the new " + name + " (" + std::to_string(size) + " bytes, " +
                         std::to_string(listing.bytes_free) + " bytes free)");
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
    if (!HasRoomFor(name, bytes.size(), listing, why)) return false;
    const std::string new_path = Join(folder, kNewName), old_path = Join(folder, kOldName);
    const std::string target_path = Join(folder, target ? target->name : name);
    if (!Step("mcopy", {"-o", "-", DosPath(new_path)}, bytes, why)) {
        std::string ignored;
        Repair(folder, &ignored);
        return false;
    }
    if (target && !Step("mren", {DosPath(target_path), DosPath(old_path)}, {}, why)) return false;
    if (!Step("mren", {DosPath(new_path), DosPath(target_path)}, {}, why)) return false;
    return !target || Step("mdel", {DosPath(old_path)}, {}, why);
}

}  // namespace host
