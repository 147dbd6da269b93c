// Which images are accepted, which volume is chosen, and one line for
// every image that is refused.
#include "image_maker.h"
#include "platform/host/disk_image/image_format.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace {

using pfmtest::DiskLayout;
using pfmtest::PartitionLayout;

constexpr uint64_t kMiB = 2048;  // sectors

// Partitions hold Windows where the test put it.
struct Choice {
    bool ok = false;
    host::ImageVolume volume;
    std::string why;
    std::set<uint64_t> asked;
};

Choice Choose(const std::string &path, int wanted, const std::set<uint64_t> &with_windows)
{
    Choice c;
    host::DiskImage image;
    if (!host::ExamineDiskImage(path, &image, &c.why)) return c;
    c.ok = host::ChooseWindowsVolume(
        path, image, wanted,
        [&](uint64_t offset) {
            c.asked.insert(offset);
            return with_windows.count(offset) > 0;
        },
        &c.volume, &c.why);
    return c;
}

TEST(DiskImage, Win98FdiskLayoutFat16AtSector63)
{
    pfmtest::ScratchDir dir;
    std::string path = dir.Path("fdisk.img");
    auto offsets = pfmtest::MakeDisk(path, {20 * kMiB, {{0x06, true, 63, 20 * kMiB - 63, 16}}});
    ASSERT_EQ(offsets[0], 32256u);
    host::DiskImage image;
    std::string why;
    ASSERT_TRUE(host::ExamineDiskImage(path, &image, &why)) << why;
    EXPECT_EQ(std::string(image.format), "raw disk image");
    ASSERT_EQ(image.partitions.size(), 1u);
    EXPECT_EQ(image.partitions[0].number, 1);
    EXPECT_EQ(image.partitions[0].size, (20 * kMiB - 63) * 512);
    Choice c = Choose(path, 0, {});
    ASSERT_TRUE(c.ok) << c.why;
    EXPECT_EQ(c.volume.offset, 32256u);
    EXPECT_EQ(c.volume.partition, 1);
    EXPECT_TRUE(c.asked.empty()) << "the active partition is taken without looking inside";
}

TEST(DiskImage, ChoosesActiveThenSearchesPrimaryAndLogical)
{
    pfmtest::ScratchDir dir;
    // 1: FAT16, 2: FAT32 (0x0C) active, extended in slot 3 with logical 5 (FAT16, 0x06) and 6 (Linux, unformatted).
    std::string path = dir.Path("four.img");
    DiskLayout layout{200 * kMiB,
                  {{0x06, false, 63, 20 * kMiB, 16},
                   {0x0C, true, 21 * kMiB, 40 * kMiB, 32},
                   {0x06, false, 70 * kMiB, 20 * kMiB, 16, true},
                   {0x83, false, 100 * kMiB, 20 * kMiB, 0, true}},
                  3};
    auto off = pfmtest::MakeDisk(path, layout);
    host::DiskImage image;
    std::string why;
    ASSERT_TRUE(host::ExamineDiskImage(path, &image, &why)) << why;
    std::vector<int> numbers;
    for (const auto &p : image.partitions) numbers.push_back(p.number);
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3, 5, 6}));

    Choice active = Choose(path, 0, {off[0]});
    ASSERT_TRUE(active.ok) << active.why;
    EXPECT_EQ(active.volume.partition, 2) << "the active partition wins over the first one with Windows";
    EXPECT_EQ(active.volume.offset, off[1]);
    // Letters as Windows 9x gives them: the active C:, the logical FAT
    // partition D:, then the other primary E:; the Linux one none.
    auto letters = [](const host::DiskImage &disk) {
        std::string out;
        for (const host::LetteredPartition &l : host::DriveLetters(disk)) out += std::to_string(l.partition) + l.letter;
        return out;
    };
    EXPECT_EQ(letters(image), "2C5D1E");

    // Without a boot flag: the first FAT partition that holds Windows, a logical one here.
    std::string inactive = dir.Path("inactive.img");
    layout.partitions[1].active = false;
    off = pfmtest::MakeDisk(inactive, layout);
    host::DiskImage unflagged;
    ASSERT_TRUE(host::ExamineDiskImage(inactive, &unflagged, &why)) << why;
    EXPECT_EQ(letters(unflagged), "1C5D2E") << "without a boot flag the first primary is C:";
    Choice logical = Choose(inactive, 0, {off[2]});
    ASSERT_TRUE(logical.ok) << logical.why;
    EXPECT_EQ(logical.volume.partition, 5);
    EXPECT_EQ(logical.volume.offset, off[2]);
    EXPECT_EQ(logical.asked, (std::set<uint64_t>{off[0], off[1], off[2]})) << "asked in order, non-FAT never";

    Choice none = Choose(inactive, 0, {});
    EXPECT_FALSE(none.ok);
    EXPECT_NE(none.why.find("holds a Windows folder"), std::string::npos) << none.why;

    // Named: WIN9X_PARTITION.
    Choice named = Choose(path, 5, {});
    ASSERT_TRUE(named.ok) << named.why;
    EXPECT_EQ(named.volume.offset, off[2]);
    for (auto [wanted, says] : std::vector<std::pair<int, std::string>>{
             {6, "no FAT file system in partition 6 (type 0x83)"},
             {3, "no FAT file system in partition 3 (type 0x0F)"},
             {4, "no partition 4"},
             {7, "no partition 7"}}) {
        Choice c = Choose(path, wanted, {});
        EXPECT_FALSE(c.ok) << wanted;
        EXPECT_NE(c.why.find(says), std::string::npos) << wanted << ": " << c.why;
    }
}

TEST(DiskImage, SuperfloppyAndFixedVhd)
{
    pfmtest::ScratchDir dir;
    std::string floppy = dir.Path("floppy.img");
    pfmtest::MakeVolume(floppy, 1440, 12);
    Choice f = Choose(floppy, 0, {});
    ASSERT_TRUE(f.ok) << f.why;
    EXPECT_EQ(f.volume.offset, 0u);
    EXPECT_EQ(f.volume.size, 1440u * 1024);
    EXPECT_FALSE(Choose(floppy, 1, {}).ok) << "a bare volume has no partition 1";

    // A fixed VHD: the disk's bytes, then a 512-byte footer (type 2 = fixed, big-endian at 60).
    std::string vhd = dir.Path("fixed.vhd");
    auto off = pfmtest::MakeDisk(vhd, {20 * kMiB, {{0x06, true, 63, 20 * kMiB - 63, 16}}});
    std::string footer(512, '\0');
    footer.replace(0, 8, "conectix");
    footer[63] = 2;
    std::string bytes = pfmtest::ReadBytes(vhd) + footer;
    pfmtest::WriteBytes(vhd, bytes);
    host::DiskImage image;
    std::string why;
    ASSERT_TRUE(host::ExamineDiskImage(vhd, &image, &why)) << why;
    EXPECT_EQ(std::string(image.format), "fixed VHD");
    EXPECT_EQ(image.data_size, 20 * kMiB * 512);
    EXPECT_FALSE(image.partitions[0].past_end) << "the footer is not counted as room for the partition";
    Choice c = Choose(vhd, 0, {});
    ASSERT_TRUE(c.ok) << c.why;
    EXPECT_EQ(c.volume.offset, off[0]);
}

// Every refused image: a one-line reason saying what is wrong.
TEST(DiskImage, RefusedImagesGiveOneLine)
{
    pfmtest::ScratchDir dir;
    std::string good = dir.Path("good.img");
    pfmtest::MakeDisk(good, {20 * kMiB, {{0x06, true, 63, 20 * kMiB - 63, 16}}});
    const std::string disk = pfmtest::ReadBytes(good);
    auto with = [&](size_t at, const std::string &bytes, std::string base) {
        base.replace(at, bytes.size(), bytes);
        return base;
    };
    std::string vdi(512, '\0');
    vdi.replace(0, 4, "<<< ");
    vdi.replace(0x40, 4, std::string("\x7f\x10\xda\xbe", 4));
    std::string dyn_footer(512, '\0');
    dyn_footer.replace(0, 8, "conectix");
    dyn_footer[63] = 3;
    std::string diff_footer = dyn_footer;
    diff_footer[63] = 4;
    // An extended partition whose record links to itself.
    std::string looping = disk;
    {
        auto entry = [](unsigned char type, uint32_t first, uint32_t count) {
            std::string e(16, '\0');
            e[4] = char(type);
            for (int i = 0; i < 4; ++i) e[8 + i] = char(first >> (8 * i)), e[12 + i] = char(count >> (8 * i));
            return e;
        };
        looping.replace(446, 16, entry(0x06, 63, 10 * kMiB));
        looping.replace(446 + 16, 16, entry(0x05, 11 * kMiB, 5 * kMiB));
        std::string ebr(512, '\0');
        ebr.replace(446, 16, entry(0x06, 63, 1000));
        ebr.replace(446 + 16, 16, entry(0x05, 0, 5 * kMiB));  // next = the extended partition's own start
        ebr[510] = char(0x55), ebr[511] = char(0xAA);
        looping.replace(11 * kMiB * 512, 512, ebr);
    }
    struct Case {
        const char *name;
        std::string bytes;
        const char *says;
        bool advice = false;  // names the conversion to a raw image
    } cases[] = {
        {"empty", "", "empty"},
        {"tiny", "abc", "too small"},
        {"no table", std::string(1 << 20, '\0'), "neither a partition table nor a FAT boot sector"},
        {"qcow2", with(0, "QFI\xfb", std::string(4096, '\0')), "QCOW2", true},
        {"vmdk", with(0, "KDMV", std::string(4096, '\0')), "VMDK", true},
        {"vmdk text", "# Disk DescriptorFile\nversion=1\n", "VMDK", true},
        {"vdi", vdi + std::string(4096, '\0'), "VDI", true},
        {"dynamic vhd", dyn_footer + std::string(4096, '\0') + dyn_footer, "dynamic or differencing VHD", true},
        {"dynamic vhd footer", std::string(4096, '\0') + dyn_footer, "dynamic VHD", true},
        {"differencing vhd", std::string(4096, '\0') + diff_footer, "differencing VHD", true},
        {"cut inside partition", disk.substr(0, disk.size() / 2), "past the end"},
        {"partition past end", with(446 + 12, std::string("\x00\x00\x10\x00", 4), disk), "past the end"},
        {"looping extended", looping, "loops back"},
        {"cut superfloppy", "", "is cut"},
    };
    std::string floppy = dir.Path("floppy.img");
    pfmtest::MakeVolume(floppy, 1440, 12);
    cases[sizeof cases / sizeof cases[0] - 1].bytes = pfmtest::ReadBytes(floppy).substr(0, 700 * 1024);
    for (const Case &c : cases) {
        std::string path = dir.Path("bad.img");
        pfmtest::WriteBytes(path, c.bytes);
        Choice r = Choose(path, 0, {32256});
        EXPECT_FALSE(r.ok) << c.name;
        EXPECT_NE(r.why.find(c.says), std::string::npos) << c.name << ": " << r.why;
        EXPECT_EQ(r.why.find('\n'), std::string::npos) << c.name;
        if (c.advice) {
            EXPECT_NE(r.why.find("qemu-img convert -O raw " + path), std::string::npos) << c.name << ": " << r.why;
        }
        EXPECT_EQ(pfmtest::ReadBytes(path), c.bytes) << c.name << ": examining wrote to the image";
    }
}

TEST(DiskImage, PartitionVariable)
{
    struct Case {
        const char *text;
        bool ok;
        int number;
    } cases[] = {{nullptr, true, 0}, {"", true, 0},  {"1", true, 1},     {"4", true, 4},   {"5", true, 5},
                 {"12", true, 12},   {"0", false, 0}, {"-1", false, 0},  {"2x", false, 0}, {"abc", false, 0},
                 {" 1", false, 0},   {"999999999999", false, 0}, {"disk.img@1", false, 0}};
    for (const Case &c : cases) {
        int number = -1;
        std::string why;
        EXPECT_EQ(host::ParsePartitionNumber(c.text, &number, &why), c.ok) << (c.text ? c.text : "(null)");
        if (c.ok) {
            EXPECT_EQ(number, c.number) << c.text;
        } else {
            EXPECT_NE(why.find("WIN9X_PARTITION"), std::string::npos) << why;
        }
    }
}

}  // namespace
