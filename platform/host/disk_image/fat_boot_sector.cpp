#include "platform/host/disk_image/fat_boot_sector.h"
#include "platform/host/base/little_endian.h"

namespace host {
namespace {

bool PowerOfTwo(uint32_t v) { return v && !(v & (v - 1)); }

}  // namespace

bool ParseFatBootSector(const unsigned char (&s)[512], FatBootSector *boot, std::string *why)
{
    auto refuse = [why](const char *reason) {
        if (why) *why = reason;
        return false;
    };
    // A jump over the parameter block: EB xx 90 or E9 xx xx.
    if (!(s[0] == 0xEB || s[0] == 0xE9)) return refuse("no FAT boot sector (it does not start with a jump)");
    uint32_t bytes_per_sector = Le16(s + 11);
    uint32_t sectors_per_cluster = s[13];
    uint32_t reserved = Le16(s + 14);
    uint32_t fats = s[16];
    uint32_t root_entries = Le16(s + 17);
    uint64_t total = Le16(s + 19);
    if (!total) total = Le32(s + 32);
    uint32_t media = s[21];
    uint64_t fat_sectors = Le16(s + 22);
    if (!fat_sectors) fat_sectors = Le32(s + 36);
    if (bytes_per_sector < 512 || bytes_per_sector > 4096 || !PowerOfTwo(bytes_per_sector))
        return refuse("no FAT boot sector (bytes per sector)");
    if (!PowerOfTwo(sectors_per_cluster) || sectors_per_cluster > 128)
        return refuse("no FAT boot sector (sectors per cluster)");
    if (!reserved || fats < 1 || fats > 2 || !fat_sectors || !total)
        return refuse("no FAT boot sector (reserved sectors, FAT count or size)");
    if (media != 0xF0 && media < 0xF8) return refuse("no FAT boot sector (media byte)");
    uint64_t root_sectors = (uint64_t(root_entries) * 32 + bytes_per_sector - 1) / bytes_per_sector;
    uint64_t meta = reserved + fats * fat_sectors + root_sectors;
    if (meta >= total) return refuse("no FAT boot sector (its areas fill the volume)");
    uint64_t clusters = (total - meta) / sectors_per_cluster;
    if (!clusters) return refuse("no FAT boot sector (its areas leave no room for a cluster)");
    // Microsoft's rule: the count of clusters alone gives the FAT's width.
    int bits = clusters < 4085 ? 12 : clusters < 65525 ? 16 : 32;
    if (bits == 32 && root_entries) return refuse("no FAT boot sector (FAT32 with a fixed root folder)");
    if (bits != 32 && !root_entries) return refuse("no FAT boot sector (no root folder)");
    // The FAT must have an entry for every cluster.
    uint64_t fat_bytes = fat_sectors * bytes_per_sector;
    if ((clusters + 2) * bits > fat_bytes * 8) return refuse("no FAT boot sector (the FAT is too small)");
    boot->fat_bits = bits;
    boot->bytes_per_sector = bytes_per_sector;
    boot->sectors_per_cluster = sectors_per_cluster;
    boot->total_sectors = total;
    boot->cluster_count = clusters;
    boot->reserved_sectors = reserved;
    boot->fat_count = fats;
    boot->fat_sectors = fat_sectors;
    boot->root_sector = reserved + fats * fat_sectors;
    boot->root_sectors = root_sectors;
    boot->root_cluster = bits == 32 ? Le32(s + 44) & 0x0FFFFFFF : 0;
    boot->data_sector = meta;
    uint32_t fsinfo = bits == 32 ? Le16(s + 48) : 0;
    boot->fsinfo_sector = fsinfo && fsinfo != 0xFFFF && fsinfo < reserved ? fsinfo : 0;
    return true;
}

bool ParseFsInfo(const unsigned char (&s)[512], uint32_t *free_count)
{
    if (Le32(s) != 0x41615252 || Le32(s + 484) != 0x61417272 || Le32(s + 508) != 0xAA550000) return false;
    *free_count = Le32(s + kFsInfoFreeCount);
    return true;
}

uint32_t FatEntry(const unsigned char *fat, size_t bytes, int bits, uint64_t cluster, uint64_t base)
{
    uint64_t at = cluster * uint64_t(bits) / 8 - base;
    if (at + (bits == 32 ? 4 : 2) > bytes) return 0xFFFFFFFF;
    return bits == 32   ? Le32(fat + at) & 0x0FFFFFFF
           : bits == 16 ? Le16(fat + at)
                        : (cluster & 1 ? Le16(fat + at) >> 4 : Le16(fat + at) & 0xFFF);
}

uint64_t CountFreeClusters(const unsigned char *fat, size_t bytes, int bits, uint64_t clusters)
{
    uint64_t free = 0;
    for (uint64_t c = 2; c < clusters + 2; ++c) {
        uint32_t entry = FatEntry(fat, bytes, bits, c, 0);
        if (entry == 0xFFFFFFFF) break;
        free += entry == 0;
    }
    return free;
}

}  // namespace host
