// What a disk image file is, and which of its volumes holds Windows.
//
// Accepted: a raw whole-disk image with a master boot record, a fixed VHD
// (the same raw data followed by a 512-byte footer that starts
// "conectix"), and a bare FAT12/16/32 volume (an image of one partition,
// or a superfloppy). Refused by signature, with the command that makes a
// raw image of them: dynamic and differencing VHD, VDI, QCOW2, VMDK.
//
// A first sector that holds both a valid partition table (boot flags 0 or
// 0x80, every used entry with a start and a length, at least one used) and
// the header of a FAT boot sector is a partitioned disk, as Linux takes it.
//
// Partitions are numbered as Linux numbers them: 1 to 4 the four slots of
// the master boot record, whether used or not; 5 and on the logical
// partitions of the extended partition, in the order its chain of
// extended boot records gives them.
//
// The Windows volume of a partitioned image:
//   - the partition that WIN9X_PARTITION names, when it is set and not
//     empty (see ParsePartitionNumber);
//   - else the active primary FAT partition (the one the machine boots);
//   - else the first FAT partition, primary or logical, that holds a
//     Windows folder (the caller tells, by looking inside).
// FAT partitions are those of type 0x01, 0x04, 0x06, 0x0B, 0x0C and 0x0E.
// A partition that runs past the end of the file is never used: it is
// refused when it is the one chosen, and passed over in the search.
#ifndef PFMSETUP_PLATFORM_HOST_DISK_IMAGE_IMAGE_FORMAT_H
#define PFMSETUP_PLATFORM_HOST_DISK_IMAGE_IMAGE_FORMAT_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace host {

struct ImagePartition {
    int number = 0;          // 1-4 primary, 5 and on logical
    unsigned char type = 0;  // the partition type byte
    bool active = false;     // boot flag 0x80 (primary partitions only)
    uint64_t offset = 0;     // bytes from the start of the file
    uint64_t size = 0;       // bytes
    bool past_end = false;   // runs past the end of the disk data

    bool IsFat() const;
};

struct DiskImage {
    enum class Layout { kPartitioned, kBareVolume };
    Layout layout = Layout::kPartitioned;
    const char *format = "";  // "raw disk image", "fixed VHD", "FAT volume image"
    uint64_t data_size = 0;   // bytes of disk data (a VHD's footer left out)
    std::vector<ImagePartition> partitions;  // used slots and logical partitions
};

// The volume the program works on: where it lies in the file.
struct ImageVolume {
    uint64_t offset = 0;
    uint64_t size = 0;
    int partition = 0;  // its number; 0 for a bare volume
};

// Reads the file's layout. False with a one-line reason (without the
// file's name) when it is no image the program can work on.
bool ExamineDiskImage(const std::string &path, DiskImage *image, std::string *why);

// The value of WIN9X_PARTITION: empty or absent means "choose" (0), else a
// decimal number from 1 on. False with a reason for anything else.
bool ParsePartitionNumber(const char *text, int *number, std::string *why);

// Chooses the Windows volume of an examined image (see above). `wanted` is
// 0 to choose, else a partition number. `holds_windows(offset)` answers
// whether the FAT volume at that byte offset has a Windows folder; it is
// asked only in the search, only for FAT partitions inside the file.
bool ChooseWindowsVolume(const std::string &path, const DiskImage &image, int wanted,
                         const std::function<bool(uint64_t offset)> &holds_windows, ImageVolume *volume,
                         std::string *why);

// The letters Windows 95/98/Me gives the FAT partitions of the disk, in
// order from C: (a bare volume is C:): the active primary FAT partition,
// else the first; then the logical FAT partitions of the extended
// partition, in the order of its chain; then the other primary FAT
// partitions, in slot order. (Microsoft's note "Order in Which MS-DOS and
// Windows Assign Drive Letters", Q51978, for a single hard disk.)
struct LetteredPartition {
    char letter = 'C';
    int partition = 0;  // its number; 0 for a bare volume
    uint64_t offset = 0, size = 0;
};
std::vector<LetteredPartition> DriveLetters(const DiskImage &image);
// The letter of the volume `partition` (0 for a bare volume); 0 when it has none.
char DriveLetterOfPartition(const DiskImage &image, int partition);

}  // namespace host

#endif
