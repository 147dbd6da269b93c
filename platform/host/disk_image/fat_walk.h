// The lost clusters of a FAT12/16/32 volume: clusters its FAT marks in use
// that no file's or folder's chain reaches, what ScanDisk offers to free
// or save as FILE0000.CHK. The folders are walked from the root down and
// every chain followed through the FAT; the bytes are the volume's own and
// may be damaged in any way, so every walk is bounded by the count of
// clusters and a loop or a cross-link is followed once.
#ifndef PFMSETUP_PLATFORM_HOST_DISK_IMAGE_FAT_WALK_H
#define PFMSETUP_PLATFORM_HOST_DISK_IMAGE_FAT_WALK_H

#include "platform/host/disk_image/fat_boot_sector.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace host {

// The first cluster that a 32-byte folder entry names (FAT32 keeps its
// high half at byte 20).
uint32_t FolderEntryFirstCluster(const unsigned char *entry, int fat_bits);

// Reads `n` bytes at byte `at` from the volume's start into *bytes; false when it cannot.
using VolumeReader = std::function<bool(uint64_t at, std::size_t n, std::string *bytes)>;

struct LostClusters {
    uint64_t clusters = 0;  // in use in the FAT, reached by no chain
    uint64_t chains = 0;    // of them, the heads of chains (lost clusters no other lost cluster points to)
};

// Walks every folder of the volume that `boot` describes, of which `fat`
// holds the whole first FAT, and counts in *lost the clusters in use that
// no chain reaches. Clusters past the end of `fat` count as not in use.
// A lost loop that no other lost cluster leads into has no head, so it
// adds to the clusters but not to the chains. False, with a one-line
// reason in *why, when a folder cannot be read.
bool FindLostClusters(const FatBootSector &boot, std::string_view fat, const VolumeReader &read, LostClusters *lost,
                      std::string *why);

}  // namespace host

#endif
