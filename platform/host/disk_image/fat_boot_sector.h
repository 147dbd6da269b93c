// The boot sector of a FAT12/16/32 volume: its BIOS parameter block read
// and checked, so that a file or a partition can be told to hold a FAT
// volume and the volume's size and cluster size are known.
#ifndef PFMSETUP_PLATFORM_HOST_DISK_IMAGE_FAT_BOOT_SECTOR_H
#define PFMSETUP_PLATFORM_HOST_DISK_IMAGE_FAT_BOOT_SECTOR_H

#include <cstdint>
#include <cstddef>
#include <string>

namespace host {

struct FatBootSector {
    int fat_bits = 0;              // 12, 16 or 32, by the count of clusters
    uint32_t bytes_per_sector = 0;
    uint32_t sectors_per_cluster = 0;
    uint64_t total_sectors = 0;
    uint64_t cluster_count = 0;
    uint32_t reserved_sectors = 0;  // before the first FAT
    uint32_t fat_count = 0;
    uint64_t fat_sectors = 0;       // of one FAT
    uint32_t fsinfo_sector = 0;     // FAT32's FSInfo sector; 0 when there is none
    uint64_t root_sector = 0;       // FAT12/16: the fixed root folder's first sector
    uint64_t root_sectors = 0;      // FAT12/16: its length in sectors (0 on FAT32)
    uint32_t root_cluster = 0;      // FAT32: the root folder's first cluster
    uint64_t data_sector = 0;       // the first sector of cluster 2

    uint64_t VolumeBytes() const { return total_sectors * bytes_per_sector; }
    uint64_t ClusterBytes() const { return uint64_t(sectors_per_cluster) * bytes_per_sector; }
    // Where cluster `cluster` (2 or more) starts, in bytes from the volume's start.
    uint64_t ClusterOffset(uint64_t cluster) const
    {
        return (data_sector + (cluster - 2) * sectors_per_cluster) * bytes_per_sector;
    }
};

// Reads the 512 bytes of a volume's first sector. False, with a reason,
// when they hold no BIOS parameter block that a FAT volume could have.
bool ParseFatBootSector(const unsigned char (&sector)[512], FatBootSector *boot, std::string *why);

// FAT32's FSInfo sector: its free-cluster count, a hint that Windows and
// mtools trust and that a crash leaves stale (0xFFFFFFFF: not known).
// False when the sector lacks its three signatures.
bool ParseFsInfo(const unsigned char (&sector)[512], uint32_t *free_count);
// Where the count lies in the FSInfo sector.
constexpr unsigned kFsInfoFreeCount = 488;

// Counts the free entries (0) among clusters 2 to 2 + `clusters` - 1 of a
// FAT of `bits` bits, of which `fat` holds the first `bytes` bytes;
// entries past them are not counted. A FAT32 entry's top four bits are
// not part of it.
// Entry `cluster` of a FAT of `bits` bits, of which `fat` holds `bytes`
// bytes from byte `base` on (base <= the entry's first byte); 0xFFFFFFFF
// when they do not hold it.
uint32_t FatEntry(const unsigned char *fat, size_t bytes, int bits, uint64_t cluster, uint64_t base);
// The entry that marks a bad cluster in a FAT of `bits` bits (0xFF7, 0xFFF7,
// 0x0FFFFFF7); the entries above it end a chain.
inline uint32_t FatBadMark(int bits) { return bits == 12 ? 0xFF7 : bits == 16 ? 0xFFF7 : 0x0FFFFFF7; }
uint64_t CountFreeClusters(const unsigned char *fat, size_t bytes, int bits, uint64_t clusters);

}  // namespace host

#endif
