// The readers of a disk image's own bytes, over any file: its format and
// the signatures of the refused ones (the VHD footer among them), the
// master boot record and the chain of extended boot records, the drive
// letters, the choice of the Windows volume, and the FAT boot sector and
// FSInfo sector of every volume it points at, with the count of free
// clusters in the FAT that follows and the walk of its folders that finds
// lost clusters.
//
// Checked: a refusal has a reason; an accepted image's partitions lie where
// they say (past_end exactly when they run past the data), logical ones
// are numbered on from 5; the letters run from C: without a gap over FAT
// partitions; a chosen volume lies inside the data; a boot sector's areas
// fit its volume, and the free clusters counted are no more than it has;
// free and lost clusters together no more than that either.
#include "fuzz/fuzz_prefix.h"
#include "platform/host/disk_image/fat_boot_sector.h"
#include "platform/host/disk_image/fat_walk.h"
#include "platform/host/disk_image/image_format.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Check(bool ok, const char *what)
{
    if (ok) return;
    std::fprintf(stderr, "disk_image_fuzz: %s\n", what);
    std::abort();
}

// The boot sector at `offset` of the bytes, its FSInfo and its first FAT.
void ReadVolume(const uint8_t *data, size_t size, uint64_t offset)
{
    if (offset > size || size - offset < 512) return;
    unsigned char sector[512];
    std::memcpy(sector, data + offset, sizeof sector);
    host::FatBootSector boot;
    std::string why;
    if (!host::ParseFatBootSector(sector, &boot, &why)) {
        Check(!why.empty(), "a boot sector refused without a reason");
        return;
    }
    Check(boot.cluster_count > 0 && boot.VolumeBytes() > 0, "a volume without clusters");
    Check(boot.fat_bits == 12 || boot.fat_bits == 16 || boot.fat_bits == 32, "a FAT of no known width");
    const uint64_t bps = boot.bytes_per_sector;
    if (boot.fsinfo_sector) {
        uint64_t at = offset + boot.fsinfo_sector * bps;
        unsigned char info[512];
        uint32_t free_count = 0;
        if (at <= size && size - at >= 512) {
            std::memcpy(info, data + at, sizeof info);
            host::ParseFsInfo(info, &free_count);
        }
    }
    uint64_t fat = offset + uint64_t(boot.reserved_sectors) * bps;
    if (fat >= size) return;
    uint64_t bytes = size - fat;
    if (bytes > boot.fat_sectors * bps) bytes = boot.fat_sectors * bps;
    uint64_t free = host::CountFreeClusters(data + fat, size_t(bytes), boot.fat_bits, boot.cluster_count);
    Check(free <= boot.cluster_count, "more free clusters than the volume has");
    auto read = [&](uint64_t at, std::size_t n, std::string *out) {
        if (at > size - offset || size - offset - at < n) return false;
        out->assign(reinterpret_cast<const char *>(data + offset + at), n);
        return true;
    };
    host::LostClusters lost;
    if (host::FindLostClusters(boot, std::string_view(reinterpret_cast<const char *>(data + fat), size_t(bytes)), read,
                               &lost, &why)) {
        Check(lost.chains <= lost.clusters && free + lost.clusters <= boot.cluster_count,
              "more lost and free clusters than the volume has");
    } else {
        Check(!why.empty(), "a walk of the folders failed without a reason");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string path = pfmfuzz::Prefix().root + "/disk.img";
    pfmfuzz::WriteFile(path, std::string_view(reinterpret_cast<const char *>(data), size));
    host::DiskImage image;
    std::string why;
    if (!host::ExamineDiskImage(path, &image, &why)) {
        Check(!why.empty(), "an image refused without a reason");
        return 0;
    }
    Check(image.data_size <= size, "more disk data than the file holds");
    int logical = 5;
    for (const host::ImagePartition &p : image.partitions) {
        Check(p.past_end == (p.offset + p.size > image.data_size), "past_end says otherwise");
        if (p.number > 4) Check(p.number == logical++, "logical partitions not numbered on from 5");
        if (!p.past_end) ReadVolume(data, size, p.offset);
    }
    if (image.layout == host::DiskImage::Layout::kBareVolume) ReadVolume(data, size, 0);
    char letter = 'C';
    for (const host::LetteredPartition &l : host::DriveLetters(image)) {
        Check(l.letter == letter++, "drive letters with a gap");
        Check(host::DriveLetterOfPartition(image, l.partition) == l.letter, "a letter not found again");
    }
    // The search, with an answer to "holds Windows" taken from the bytes,
    // and a partition asked for by number.
    int wanted = size ? data[0] % 8 : 0;
    for (int w : {0, wanted}) {
        host::ImageVolume volume;
        auto holds_windows = [&](uint64_t offset) { return offset < size && (data[offset] & 1); };
        if (host::ChooseWindowsVolume(path, image, w, holds_windows, &volume, &why))
            Check(volume.offset + volume.size <= image.data_size, "a chosen volume runs past the data");
        else
            Check(!why.empty(), "a volume refused without a reason");
    }
    return 0;
}
