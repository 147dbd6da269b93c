#include "platform/host/disk_image/image_format.h"
#include "platform/host/base/little_endian.h"

#include "platform/host/disk_image/fat_boot_sector.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

namespace host {
namespace {

constexpr uint64_t kSector = 512;
// More logical partitions than any tool of the era makes; a longer chain
// is taken for a damaged one.
constexpr int kMaxLogical = 128;

uint32_t Be32(const unsigned char *p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

bool IsExtended(unsigned char type) { return type == 0x05 || type == 0x0F || type == 0x85; }

class ImageFile {
public:
    explicit ImageFile(const std::string &path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~ImageFile() { if (fd_ >= 0) close(fd_); }
    ImageFile(const ImageFile &) = delete;
    ImageFile &operator=(const ImageFile &) = delete;
    int fd() const { return fd_; }
    // Reads `n` bytes at `offset`; false when the file holds fewer.
    bool ReadAt(uint64_t offset, void *buffer, size_t n) const
    {
        size_t done = 0;
        while (done < n) {
            ssize_t got = pread(fd_, static_cast<char *>(buffer) + done, n - done, off_t(offset + done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            done += size_t(got);
        }
        return true;
    }

private:
    int fd_;
};

bool Refuse(std::string *why, std::string reason)
{
    if (why) *why = std::move(reason);
    return false;
}

// The formats that are refused, told by their signatures.
const char *ForeignFormat(const unsigned char *head, size_t head_size, const unsigned char *tail, bool has_tail)
{
    auto at = [&](size_t offset, const char *sig, size_t n) {
        return head_size >= offset + n && std::memcmp(head + offset, sig, n) == 0;
    };
    if (at(0, "QFI\xfb", 4)) return "a QCOW2 image";
    if (at(0, "KDMV", 4)) return "a VMDK image";
    if (at(0, "# Disk DescriptorFile", 21)) return "a VMDK descriptor";
    if (at(0, "vhdxfile", 8)) return "a VHDX image";
    if (head_size >= 0x44 && Le32(head + 0x40) == 0xBEDA107F) return "a VDI image";
    // A dynamic or differencing VHD starts with a copy of its footer.
    if (at(0, "conectix", 8)) return "a dynamic or differencing VHD";
    if (has_tail && std::memcmp(tail, "conectix", 8) == 0) {
        uint32_t disk_type = Be32(tail + 60);
        if (disk_type == 3) return "a dynamic VHD";
        if (disk_type == 4) return "a differencing VHD";
        if (disk_type != 2) return "a VHD of an unknown disk type";
    }
    return nullptr;
}

struct Entry {
    unsigned char status, type;
    uint32_t first, count;
};

Entry EntryAt(const unsigned char *sector, int slot)
{
    const unsigned char *e = sector + 446 + 16 * slot;
    return {e[0], e[4], Le32(e + 8), Le32(e + 12)};
}

// A sector whose four entries could be a partition table: boot flags 0 or
// 0x80, every used entry with a start and a length, at least one used.
bool SaneTable(const unsigned char *sector)
{
    if (sector[510] != 0x55 || sector[511] != 0xAA) return false;
    int used = 0;
    for (int slot = 0; slot < 4; ++slot) {
        Entry e = EntryAt(sector, slot);
        if (e.status != 0 && e.status != 0x80) return false;
        if (!e.type) continue;
        if (!e.first || !e.count) return false;
        ++used;
    }
    return used > 0;
}

ImagePartition MakePartition(int number, const Entry &e, uint64_t base_sector, uint64_t data_size)
{
    ImagePartition p;
    p.number = number;
    p.type = e.type;
    p.active = e.status == 0x80;
    p.offset = (base_sector + e.first) * kSector;
    p.size = uint64_t(e.count) * kSector;
    p.past_end = p.offset + p.size > data_size;
    return p;
}

// Follows the chain of extended boot records that starts at the extended
// partition `extended`, adding its logical partitions.
bool ReadLogicalPartitions(const ImageFile &file, const ImagePartition &extended, uint64_t data_size,
                           std::vector<ImagePartition> *out, std::string *why)
{
    const uint64_t ext_start = extended.offset / kSector;
    uint64_t ebr = ext_start;
    std::set<uint64_t> seen;
    for (int number = 5;; ++number) {
        if (!seen.insert(ebr).second)
            return Refuse(why, "its chain of logical partitions loops back to sector " + std::to_string(ebr));
        if (number - 5 >= kMaxLogical)
            return Refuse(why, "it has more than " + std::to_string(kMaxLogical) + " logical partitions");
        unsigned char sector[512];
        if ((ebr + 1) * kSector > data_size || !file.ReadAt(ebr * kSector, sector, sizeof sector))
            return Refuse(why, "its extended partition table at sector " + std::to_string(ebr) +
                                   " lies past the end of the file");
        if (sector[510] != 0x55 || sector[511] != 0xAA)
            return Refuse(why, "its extended partition table at sector " + std::to_string(ebr) +
                                   " has no signature");
        Entry logical = EntryAt(sector, 0), next = EntryAt(sector, 1);
        if (logical.type) {
            if (!logical.first || !logical.count)
                return Refuse(why, "logical partition " + std::to_string(number) + " has no start or no length");
            out->push_back(MakePartition(number, logical, ebr, data_size));
        } else {
            --number;  // an empty link takes no number
        }
        if (!next.type) return true;
        if (!IsExtended(next.type))
            return Refuse(why, "its chain of logical partitions has a broken link at sector " + std::to_string(ebr));
        ebr = ext_start + next.first;
    }
}

std::string Hex(unsigned v)
{
    static const char digits[] = "0123456789ABCDEF";
    return std::string("0x") + digits[(v >> 4) & 15] + digits[v & 15];
}

// Checks the FAT volume at `offset`; false with a reason when it holds no
// FAT boot sector or is larger than the room it has.
bool CheckVolume(const ImageFile &file, uint64_t offset, uint64_t room, std::string *why)
{
    unsigned char sector[512];
    if (!file.ReadAt(offset, sector, sizeof sector)) return Refuse(why, "its first sector lies past the end");
    FatBootSector boot;
    if (!ParseFatBootSector(sector, &boot, why)) return false;
    if (boot.VolumeBytes() > room)
        return Refuse(why, "its FAT volume needs " + std::to_string(boot.VolumeBytes()) + " bytes and has " +
                               std::to_string(room) + " (the image is cut)");
    return true;
}

std::string Describe(const ImagePartition &p)
{
    return "partition " + std::to_string(p.number) + " (type " + Hex(p.type) + ")";
}

std::string PastEndReason(const ImagePartition &p, uint64_t data_size)
{
    return Describe(p) + " ends at byte " + std::to_string(p.offset + p.size) + ", past the end of the data (" +
           std::to_string(data_size) + " bytes): the image is cut or its partition table is wrong";
}

}  // namespace

bool ImagePartition::IsFat() const
{
    switch (type) {
    case 0x01: case 0x04: case 0x06: case 0x0B: case 0x0C: case 0x0E: return true;
    default: return false;
    }
}

namespace {

// The line that tells how to turn an image of another format into a raw one.
std::string ConvertAdvice(const std::string &path)
{
    return "make a raw image of it first: qemu-img convert -O raw " + path + " disk.img";
}

}  // namespace

bool ExamineDiskImage(const std::string &path, DiskImage *image, std::string *why)
{
    ImageFile file(path);
    if (file.fd() < 0) return Refuse(why, std::string("cannot be opened: ") + std::strerror(errno));
    struct stat st;
    if (fstat(file.fd(), &st) != 0) return Refuse(why, std::string("cannot be read: ") + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return Refuse(why, "is not a regular file");
    const uint64_t size = uint64_t(st.st_size);
    if (size == 0) return Refuse(why, "is empty (0 bytes)");

    unsigned char head[512] = {};
    size_t head_size = size < sizeof head ? size_t(size) : sizeof head;
    if (!file.ReadAt(0, head, head_size)) return Refuse(why, "cannot be read");
    unsigned char tail[512] = {};
    bool has_tail = size >= 1024 && file.ReadAt(size - 512, tail, sizeof tail);
    if (const char *foreign = ForeignFormat(head, head_size, tail, has_tail))
        return Refuse(why, std::string("is ") + foreign + ", not a raw disk image: " + ConvertAdvice(path));
    if (size < kSector) return Refuse(why, "is too small to hold a disk (" + std::to_string(size) + " bytes)");

    *image = DiskImage();
    image->format = "raw disk image";
    image->data_size = size;
    if (has_tail && std::memcmp(tail, "conectix", 8) == 0) {
        image->format = "fixed VHD";
        image->data_size = size - 512;
    }

    // A valid partition table wins over the header of a FAT boot sector
    // that an earlier life as a bare volume left in the first sector, as
    // Linux decides (block/partitions/msdos.c): the first sector is read
    // as a bare volume only when its table is not one.
    FatBootSector boot;
    std::string boot_why;
    if (!SaneTable(head) && ParseFatBootSector(head, &boot, &boot_why)) {
        image->layout = DiskImage::Layout::kBareVolume;
        if (image->format == std::string("raw disk image")) image->format = "FAT volume image";
        if (boot.VolumeBytes() > image->data_size)
            return Refuse(why, "is cut: its FAT volume needs " + std::to_string(boot.VolumeBytes()) +
                                   " bytes and the file holds " + std::to_string(image->data_size));
        return true;
    }
    if (!SaneTable(head))
        return Refuse(why, "holds neither a partition table nor a FAT boot sector in its first sector");

    image->layout = DiskImage::Layout::kPartitioned;
    const ImagePartition *extended = nullptr;
    for (int slot = 0; slot < 4; ++slot) {
        Entry e = EntryAt(head, slot);
        if (!e.type) continue;
        image->partitions.push_back(MakePartition(slot + 1, e, 0, image->data_size));
    }
    for (const ImagePartition &p : image->partitions) {
        if (!IsExtended(p.type)) continue;
        if (extended) break;  // only the first extended partition is followed, as DOS does
        extended = &p;
    }
    if (extended) {
        ImagePartition ext = *extended;
        std::string chain_why;
        if (ext.past_end) return Refuse(why, "has an extended " + PastEndReason(ext, image->data_size));
        if (!ReadLogicalPartitions(file, ext, image->data_size, &image->partitions, &chain_why))
            return Refuse(why, "has a damaged partition table: " + chain_why);
    }
    return true;
}

bool ParsePartitionNumber(const char *text, int *number, std::string *why)
{
    *number = 0;
    if (!text || !*text) return true;
    long value = 0;
    const char *p = text;
    for (; *p >= '0' && *p <= '9' && value <= 1000; ++p) value = value * 10 + (*p - '0');
    if (*p || p == text || value < 1 || value > 4 + kMaxLogical)
        return Refuse(why, std::string("WIN9X_PARTITION must be a partition number: 1 to 4 for the primary "
                                       "partitions, 5 and on for the logical ones (it is \"") +
                               text + "\")");
    *number = int(value);
    return true;
}

bool ChooseWindowsVolume(const std::string &path, const DiskImage &image, int wanted,
                         const std::function<bool(uint64_t offset)> &holds_windows, ImageVolume *volume,
                         std::string *why)
{
    ImageFile file(path);
    if (file.fd() < 0) return Refuse(why, std::string("cannot be opened: ") + std::strerror(errno));
    if (image.layout == DiskImage::Layout::kBareVolume) {
        if (wanted) return Refuse(why, "is one FAT volume without partitions: WIN9X_PARTITION does not apply");
        *volume = ImageVolume{0, image.data_size, 0};
        return true;
    }
    auto take = [&](const ImagePartition &p) {
        std::string volume_why;
        if (p.past_end) return Refuse(why, PastEndReason(p, image.data_size));
        if (!CheckVolume(file, p.offset, p.size, &volume_why))
            return Refuse(why, Describe(p) + ": " + volume_why);
        *volume = ImageVolume{p.offset, p.size, p.number};
        return true;
    };
    if (wanted) {
        for (const ImagePartition &p : image.partitions) {
            if (p.number != wanted) continue;
            if (!p.IsFat()) return Refuse(why, "has no FAT file system in " + Describe(p));
            return take(p);
        }
        return Refuse(why, "has no partition " + std::to_string(wanted));
    }
    for (const ImagePartition &p : image.partitions)
        if (p.number <= 4 && p.active && p.IsFat()) return take(p);
    std::string passed_over;
    for (const ImagePartition &p : image.partitions) {
        if (!p.IsFat()) continue;
        std::string volume_why;
        if (p.past_end) {
            volume_why = "runs past the end of the file";
        } else if (CheckVolume(file, p.offset, p.size, &volume_why)) {
            if (holds_windows(p.offset)) {
                *volume = ImageVolume{p.offset, p.size, p.number};
                return true;
            }
            continue;
        }
        passed_over += "; " + Describe(p) + " " + volume_why;
    }
    return Refuse(why, "has no FAT partition that holds a Windows folder" + passed_over);
}

std::vector<LetteredPartition> DriveLetters(const DiskImage &image)
{
    if (image.layout == DiskImage::Layout::kBareVolume) return {LetteredPartition{'C', 0, 0, image.data_size}};
    std::vector<const ImagePartition *> order;
    const ImagePartition *boot = nullptr;
    for (const ImagePartition &p : image.partitions)
        if (p.number <= 4 && p.IsFat() && (!boot || (p.active && !boot->active))) boot = &p;
    if (boot) order.push_back(boot);
    for (const ImagePartition &p : image.partitions)
        if (p.number > 4 && p.IsFat()) order.push_back(&p);
    for (const ImagePartition &p : image.partitions)
        if (p.number <= 4 && p.IsFat() && &p != boot) order.push_back(&p);
    std::vector<LetteredPartition> letters;
    for (const ImagePartition *p : order) {
        if (letters.size() == 24) break;  // C: to Z:
        letters.push_back({char('C' + letters.size()), p->number, p->offset, p->size});
    }
    return letters;
}

char DriveLetterOfPartition(const DiskImage &image, int partition)
{
    for (const LetteredPartition &l : DriveLetters(image))
        if (l.partition == partition) return l.letter;
    return 0;
}

}  // namespace host
