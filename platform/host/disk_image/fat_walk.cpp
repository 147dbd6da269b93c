#include "platform/host/disk_image/fat_walk.h"
#include "platform/host/base/little_endian.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace host {
namespace {

constexpr std::size_t kEntryBytes = 32;
constexpr unsigned char kDeleted = 0xE5;
constexpr unsigned char kLongNamePiece = 0x0F;
constexpr unsigned char kVolumeLabel = 0x08;
constexpr unsigned char kFolder = 0x10;

// The clusters of the volume as its folders reach them.
class Walk {
public:
    Walk(const FatBootSector &boot, std::string_view fat, const VolumeReader &read)
        : boot_(boot), fat_(fat), read_(read), bad_(FatBadMark(boot.fat_bits))
    {
        // Cluster numbers run from 2 to below `end_`: those the volume has,
        // whose entries the FAT's bytes hold, and below the bad mark, so that
        // a pointer in range is never an end or bad mark.
        uint64_t held = uint64_t(fat.size()) * 8 / uint64_t(boot.fat_bits) + 1;
        end_ = std::min({boot.cluster_count + 2, held, uint64_t(bad_)});
        reached_.assign(std::max<uint64_t>(end_, 2), false);
    }

    bool WalkFolders(std::string *why)
    {
        if (boot_.fat_bits == 32) {
            std::vector<uint32_t> root = Mark(boot_.root_cluster, true);
            if (root.empty()) return Refuse(why, "the root folder's first cluster " +
                                                     std::to_string(boot_.root_cluster) + " is not in the volume");
            pending_.push_back(std::move(root));
        } else {
            uint64_t at = boot_.root_sector * boot_.bytes_per_sector;
            uint64_t n = boot_.root_sectors * boot_.bytes_per_sector;
            if (!Read(at, n)) return Refuse(why, "cannot read the root folder (byte " + std::to_string(at) + ")");
            TakeEntries();
        }
        // Each folder is marked before it is put here, so none is read twice
        // however its entries point.
        while (!pending_.empty()) {
            std::vector<uint32_t> chain = std::move(pending_.back());
            pending_.pop_back();
            for (uint32_t cluster : chain) {
                uint64_t at = boot_.ClusterOffset(cluster);
                if (!Read(at, boot_.ClusterBytes()))
                    return Refuse(why, "cannot read the folder cluster " + std::to_string(cluster) + " (byte " +
                                           std::to_string(at) + ")");
                if (!TakeEntries()) break;
            }
        }
        return true;
    }

    LostClusters Count() const
    {
        // A lost cluster is the head of a chain unless another lost cluster points to it.
        std::vector<bool> pointed(reached_.size(), false);
        for (uint64_t c = 2; c < end_; ++c) {
            uint32_t next = Next(c);
            if (Lost(c) && next != c && InRange(next) && Lost(next)) pointed[next] = true;
        }
        LostClusters lost;
        for (uint64_t c = 2; c < end_; ++c) {
            if (!Lost(c)) continue;
            ++lost.clusters;
            lost.chains += !pointed[c];
        }
        return lost;
    }

private:
    uint32_t Next(uint64_t cluster) const
    {
        return FatEntry(reinterpret_cast<const unsigned char *>(fat_.data()), fat_.size(), boot_.fat_bits, cluster, 0);
    }
    bool InRange(uint64_t cluster) const { return cluster >= 2 && cluster < end_; }
    // In use in the FAT (not free, not bad, its entry held) and reached by no chain.
    bool Lost(uint64_t cluster) const
    {
        uint32_t entry = Next(cluster);
        return !reached_[cluster] && entry != 0 && entry != bad_ && entry != 0xFFFFFFFF;
    }

    // Marks the chain from `first` on, up to its end mark, an entry that
    // leads nowhere (free, bad, out of range) or a cluster already marked: a
    // loop, or a chain run into another's. The clusters it marked, in order,
    // when `keep` (a folder's, to be read).
    std::vector<uint32_t> Mark(uint64_t first, bool keep)
    {
        std::vector<uint32_t> marked;
        uint64_t cluster = first;
        for (uint64_t steps = 0; steps < end_ && InRange(cluster) && !reached_[cluster]; ++steps) {
            reached_[cluster] = true;
            if (keep) marked.push_back(uint32_t(cluster));
            cluster = Next(cluster);
        }
        return marked;
    }

    bool Read(uint64_t at, uint64_t n)
    {
        bytes_.clear();
        return read_(at, std::size_t(n), &bytes_) && bytes_.size() >= n;
    }

    // Follows the chain of every entry of the folder bytes just read, and
    // keeps the folders among them to be read. False at the entry that ends
    // the folder.
    bool TakeEntries()
    {
        const auto *bytes = reinterpret_cast<const unsigned char *>(bytes_.data());
        for (std::size_t at = 0; at + kEntryBytes <= bytes_.size(); at += kEntryBytes) {
            const unsigned char *entry = bytes + at;
            unsigned char attributes = entry[11];
            if (entry[0] == 0) return false;
            // "." and ".." are the only short names that start with a dot.
            if (entry[0] == kDeleted || entry[0] == '.' || attributes == kLongNamePiece || (attributes & kVolumeLabel))
                continue;
            std::vector<uint32_t> chain = Mark(FolderEntryFirstCluster(entry, boot_.fat_bits), attributes & kFolder);
            if (!chain.empty()) pending_.push_back(std::move(chain));
        }
        return true;
    }

    static bool Refuse(std::string *why, std::string reason)
    {
        if (why) *why = std::move(reason);
        return false;
    }

    const FatBootSector &boot_;
    std::string_view fat_;
    const VolumeReader &read_;
    uint32_t bad_;
    uint64_t end_ = 0;
    std::vector<bool> reached_;
    std::vector<std::vector<uint32_t>> pending_;  // folders' chains still to read
    std::string bytes_;
};

}  // namespace

uint32_t FolderEntryFirstCluster(const unsigned char *entry, int fat_bits)
{
    return Le16(entry + 26) | (fat_bits == 32 ? uint32_t(Le16(entry + 20)) << 16 : 0);
}

bool FindLostClusters(const FatBootSector &boot, std::string_view fat, const VolumeReader &read, LostClusters *lost,
                      std::string *why)
{
    *lost = LostClusters{};
    if (boot.fat_bits != 12 && boot.fat_bits != 16 && boot.fat_bits != 32) {
        if (why) *why = "no FAT of 12, 16 or 32 bits";
        return false;
    }
    if (!boot.ClusterBytes()) {
        if (why) *why = "clusters of no bytes";
        return false;
    }
    Walk walk(boot, fat, read);
    if (!walk.WalkFolders(why)) return false;
    *lost = walk.Count();
    return true;
}

}  // namespace host
