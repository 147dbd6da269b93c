// The boot sector of a FAT12/16/32 volume: its BIOS parameter block read
// and checked, so that a file or a partition can be told to hold a FAT
// volume and the volume's size and cluster size are known.
#ifndef PFMSETUP_PLATFORM_HOST_DISK_IMAGE_FAT_BOOT_SECTOR_H
#define PFMSETUP_PLATFORM_HOST_DISK_IMAGE_FAT_BOOT_SECTOR_H

#include <cstdint>
#include <string>

namespace host {

struct FatBootSector {
    int fat_bits = 0;              // 12, 16 or 32, by the count of clusters
    uint32_t bytes_per_sector = 0;
    uint32_t sectors_per_cluster = 0;
    uint64_t total_sectors = 0;
    uint64_t cluster_count = 0;

    uint64_t VolumeBytes() const { return total_sectors * bytes_per_sector; }
    uint64_t ClusterBytes() const { return uint64_t(sectors_per_cluster) * bytes_per_sector; }
};

// Reads the 512 bytes of a volume's first sector. False, with a reason,
// when they hold no BIOS parameter block that a FAT volume could have.
bool ParseFatBootSector(const unsigned char (&sector)[512], FatBootSector *boot, std::string *why);

}  // namespace host

#endif
