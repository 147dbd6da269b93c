// Disk images made for tests, without root: a master boot record (and
// extended boot records) written here, FAT volumes made with mkfs.fat
// --offset, folders and files put in with mtools, checked with fsck.fat.
#ifndef PFMSETUP_TESTS_IMAGE_MAKER_H
#define PFMSETUP_TESTS_IMAGE_MAKER_H

#include <cstdint>
#include <string>
#include <vector>

namespace pfmtest {

struct PartitionLayout {
    unsigned char type = 0x06;
    bool active = false;
    uint64_t first = 63;    // first sector (of a logical one: from its extended boot record)
    uint64_t sectors = 0;
    int fat_bits = 16;      // 0: left unformatted
    bool logical = false;   // inside the extended partition, which the maker adds as slot `extended_slot`
};

struct DiskLayout {
    uint64_t sectors = 0;
    std::vector<PartitionLayout> partitions;
    int extended_slot = 2;  // 1-based slot of the extended partition, when there are logical ones
};

// A scratch folder, removed with what it holds.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    std::string Path(const std::string &name) const { return root + "/" + name; }
    std::string root;
};

std::string ReadBytes(const std::string &path);
void WriteBytes(const std::string &path, const std::string &bytes);

// Runs a command (argv, no shell); its exit status, output in `out`.
int Command(const std::vector<std::string> &argv, std::string *out = nullptr);

// Writes the image and formats its partitions; returns each partition's
// byte offset in layout order.
std::vector<uint64_t> MakeDisk(const std::string &path, const DiskLayout &layout);

// A bare FAT volume (a superfloppy) of `kib` KiB.
void MakeVolume(const std::string &path, uint64_t kib, int fat_bits);

// A Windows 98 folder in the volume at `offset`: MSDOS.SYS at the root,
// WINDOWS/WIN.INI with `win_ini`, and a few other files.
void AddWindows(const std::string &image, uint64_t offset, const std::string &win_ini);

// mtools on the volume at `offset`: exit status, output in `out`.
int Mtools(const std::string &tool, const std::string &image, uint64_t offset, std::vector<std::string> args,
           std::string *out = nullptr);
std::string ReadInImage(const std::string &image, uint64_t offset, const std::string &path);

// fsck.fat -n on a copy of the volume's bytes; empty when clean, else its report.
std::string FsckProblems(const std::string &image, uint64_t offset, uint64_t size);

// The FAT geometry of the volume at `offset`, for tests that damage it.
struct FatLayout {
    uint64_t fat = 0, fat_bytes = 0, data = 0, cluster_bytes = 0;
    int fats = 0, bits = 0;
};
FatLayout LayoutOf(const std::string &image, uint64_t offset);
void SetFatEntry(const std::string &image, const FatLayout &layout, uint32_t cluster, uint32_t value);
// The first clusters of a file, from mshowfat.
std::vector<uint32_t> ClustersOf(const std::string &image, uint64_t offset, const std::string &path);
// Byte offset of the 32-byte directory entry whose 8.3 name is `name11`
// ("WIN     INI") in the folder that starts at cluster `cluster`.
uint64_t EntryOffset(const std::string &image, const FatLayout &layout, uint32_t cluster, const std::string &name11);

}  // namespace pfmtest

#endif
