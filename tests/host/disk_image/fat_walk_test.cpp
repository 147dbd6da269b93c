// Lost clusters on volumes made by mkfs.fat and mtools, damaged by hand, counted against fsck.fat.
#include "image_maker.h"
#include "platform/host/disk_image/fat_walk.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// The walk over the volume that is the whole of `image`; reading the byte `refused` fails.
bool Walk(const std::string &image, uint64_t refused, host::LostClusters *lost, std::string *why)
{
    const std::string bytes = pfmtest::ReadBytes(image);
    host::FatBootSector boot;
    if (!host::ParseFatBootSector(*reinterpret_cast<const unsigned char(*)[512]>(bytes.data()), &boot, why)) return false;
    std::string_view fat(bytes.data() + boot.reserved_sectors * boot.bytes_per_sector, boot.fat_sectors * boot.bytes_per_sector);
    auto read = [&](uint64_t at, size_t n, std::string *out) {
        return at != refused && at + n <= bytes.size() && (*out = bytes.substr(at, n), true);
    };
    return host::FindLostClusters(boot, fat, read, lost, why);
}

TEST(FindLostClusters, CountsWhatFsckReclaims)
{
    // Entry marked deleted (folder, 8.3 name); BIG.BIN looped and a free cluster bad; B unreadable; files lost.
    struct Case { const char *name, *folder, *entry; bool loop, unreadable; std::vector<std::string> lost; uint64_t chains; };
    const Case cases[] = {
        {"clean", nullptr, nullptr, false, false, {}, 0},
        {"file deleted", "A/B", "BIG     BIN", false, false, {"A/B/BIG.BIN"}, 1},
        {"folder deleted", "A", "B          ", false, false, {"A/B", "A/B/BIG.BIN", "A/B/SMALL.TXT", "A/B/C"}, 4},
        {"file loops", nullptr, nullptr, true, false, {}, 0},
        {"deleted file loops", "A/B", "BIG     BIN", true, false, {"A/B/BIG.BIN"}, 1},
        {"folder unreadable", nullptr, nullptr, false, true, {}, 0},
    };
    for (auto [bits, kib] : {std::pair{12, 1440}, {16, 16384}, {32, 40000}}) {
        pfmtest::ScratchDir dir;
        const std::string made = dir.Path("made.img"), image = dir.Path("volume.img");
        pfmtest::MakeVolume(made, kib, bits);
        for (auto [name, text] : {std::pair{"BIG.BIN", std::string(9000, 'b')}, {"SMALL.TXT", "s"}, {"EMPTY", ""}})
            pfmtest::WriteBytes(dir.Path(name), text);
        ASSERT_EQ(pfmtest::Mtools("mmd", made, 0, {"::/A", "::/A/B", "::/A/B/C"}), 0);
        ASSERT_EQ(pfmtest::Mtools("mcopy", made, 0, {dir.Path("BIG.BIN"), dir.Path("SMALL.TXT"), dir.Path("EMPTY"), "::/A/B"}), 0);
        ASSERT_EQ(pfmtest::Mtools("mcopy", made, 0, {dir.Path("SMALL.TXT"), "::/A/Long name.txt"}), 0);
        for (const Case &c : cases) {
            if (c.loop && bits == 12) continue;  // SetFatEntry writes 16- and 32-bit entries only
            SCOPED_TRACE("FAT" + std::to_string(bits) + ", " + c.name);
            pfmtest::WriteBytes(image, pfmtest::ReadBytes(made));
            const pfmtest::FatLayout layout = pfmtest::LayoutOf(image, 0);
            const std::vector<uint32_t> big = pfmtest::ClustersOf(image, 0, "A/B/BIG.BIN");
            const uint32_t b = pfmtest::ClustersOf(image, 0, "A/B").at(0);
            uint64_t expected = 0;
            for (const std::string &path : c.lost) expected += pfmtest::ClustersOf(image, 0, path).size();
            if (c.entry) {
                int fd = open(image.c_str(), O_WRONLY);
                uint64_t at = pfmtest::EntryOffset(image, layout, pfmtest::ClustersOf(image, 0, c.folder).at(0), c.entry);
                EXPECT_EQ(pwrite(fd, "\xE5", 1, off_t(at)), 1);
                close(fd);
            }
            if (c.loop) pfmtest::SetFatEntry(image, layout, big.back(), big.at(1));
            if (c.loop) pfmtest::SetFatEntry(image, layout, big.back() + 100, bits == 16 ? 0xFFF7 : 0x0FFFFFF7);
            host::LostClusters lost;
            std::string why, fsck = pfmtest::FsckProblems(image, 0, kib * 1024);
            ASSERT_EQ(Walk(image, c.unreadable ? layout.data + (b - 2) * layout.cluster_bytes : ~0ull, &lost, &why), !c.unreadable);
            EXPECT_NE(why.find(c.unreadable ? "cluster " + std::to_string(b) + " " : ""), std::string::npos) << why;
            EXPECT_EQ(std::pair(lost.clusters, lost.chains), std::pair(expected, c.chains));
            size_t reclaimed = fsck.find("Reclaimed ");  // "Reclaimed N unused clusters (M bytes)."
            EXPECT_EQ(reclaimed == std::string::npos ? 0 : std::stoull(fsck.substr(reclaimed + 10)), expected) << fsck;
        }
    }
}

}  // namespace
