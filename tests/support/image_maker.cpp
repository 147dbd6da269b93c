#include "image_maker.h"

#include "platform/host/disk_image/mtools_runner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace pfmtest {
namespace {

void Put32(std::string *s, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) (*s)[at + i] = char((v >> (8 * i)) & 0xFF);
}

void PutEntry(std::string *sector, int slot, unsigned char status, unsigned char type, uint64_t first,
              uint64_t count)
{
    size_t at = 446 + 16 * size_t(slot);
    (*sector)[at] = char(status);
    (*sector)[at + 4] = char(type);
    // CHS fields as tools write them for disks past the CHS limit.
    (*sector)[at + 1] = (*sector)[at + 2] = (*sector)[at + 3] = char(0xFE);
    (*sector)[at + 5] = (*sector)[at + 6] = (*sector)[at + 7] = char(0xFF);
    Put32(sector, at + 8, uint32_t(first));
    Put32(sector, at + 12, uint32_t(count));
}

void WriteAt(const std::string &path, uint64_t offset, const std::string &bytes)
{
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(std::streamoff(offset));
    f.write(bytes.data(), std::streamsize(bytes.size()));
    ASSERT_TRUE(f.good()) << path;
}

std::string ReadAt(const std::string &path, uint64_t offset, size_t n)
{
    std::ifstream f(path, std::ios::binary);
    f.seekg(std::streamoff(offset));
    std::string bytes(n, '\0');
    f.read(bytes.data(), std::streamsize(n));
    bytes.resize(size_t(f.gcount()));
    return bytes;
}

uint32_t Get16(const std::string &s, size_t at) { return uint8_t(s[at]) | uint32_t(uint8_t(s[at + 1])) << 8; }
uint32_t Get32(const std::string &s, size_t at) { return Get16(s, at) | Get16(s, at + 2) << 16; }

void Format(const std::string &path, uint64_t first_sector, uint64_t sectors, int bits)
{
    std::vector<std::string> argv{"mkfs.fat", "-F", std::to_string(bits), "--offset", std::to_string(first_sector),
                                  "-n", "WIN98", path, std::to_string(sectors / 2)};
    if (bits == 32) argv.insert(argv.begin() + 3, {"-s", "1"});
    std::string out;
    ASSERT_EQ(Command(argv, &out), 0) << out;
}

}  // namespace

ScratchDir::ScratchDir()
{
    char templ[] = "/tmp/pfmimg.XXXXXX";
    root = mkdtemp(templ);
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::permissions(root, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(root, ignored);
}

std::string ReadBytes(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void WriteBytes(const std::string &path, const std::string &bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), std::streamsize(bytes.size()));
}

int Command(const std::vector<std::string> &argv, std::string *out)
{
    host::ChildResult r = host::RunChild(argv, {}, std::chrono::milliseconds(60000));
    if (out) *out = r.out + r.err;
    return r.started ? r.exit_code : 127;
}

std::vector<uint64_t> MakeDisk(const std::string &path, const DiskLayout &layout)
{
    std::vector<uint64_t> offsets;
    WriteBytes(path, "");
    std::filesystem::resize_file(path, layout.sectors * 512);
    std::string mbr(512, '\0');
    mbr[510] = char(0x55);
    mbr[511] = char(0xAA);
    // Primary partitions take the slots in order, the extended one its own.
    int slot = 0;
    uint64_t ext_first = 0, ext_end = 0;
    for (const PartitionLayout &p : layout.partitions) {
        if (p.logical) {
            if (!ext_first || p.first < ext_first) ext_first = p.first;
            ext_end = std::max(ext_end, p.first + p.sectors);
        }
    }
    if (ext_first) ext_first -= 63;  // each logical partition starts 63 sectors after its record
    for (const PartitionLayout &p : layout.partitions) {
        if (p.logical) continue;
        if (slot + 1 == layout.extended_slot && ext_first) ++slot;
        PutEntry(&mbr, slot++, p.active ? 0x80 : 0, p.type, p.first, p.sectors);
    }
    if (ext_first) PutEntry(&mbr, layout.extended_slot - 1, 0, 0x0F, ext_first, ext_end - ext_first);
    WriteAt(path, 0, mbr);
    // The chain of extended boot records, one 63 sectors before each logical partition.
    std::vector<const PartitionLayout *> logical;
    for (const PartitionLayout &p : layout.partitions)
        if (p.logical) logical.push_back(&p);
    for (size_t i = 0; i < logical.size(); ++i) {
        uint64_t ebr = logical[i]->first - 63;
        std::string sector(512, '\0');
        sector[510] = char(0x55);
        sector[511] = char(0xAA);
        PutEntry(&sector, 0, 0, logical[i]->type, 63, logical[i]->sectors);
        if (i + 1 < logical.size()) {
            uint64_t next = logical[i + 1]->first - 63;
            PutEntry(&sector, 1, 0, 0x05, next - ext_first, logical[i + 1]->sectors + 63);
        }
        WriteAt(path, ebr * 512, sector);
    }
    for (const PartitionLayout &p : layout.partitions) {
        if (p.fat_bits) Format(path, p.first, p.sectors, p.fat_bits);
        offsets.push_back(p.first * 512);
    }
    return offsets;
}

void MakeVolume(const std::string &path, uint64_t kib, int fat_bits)
{
    WriteBytes(path, "");
    std::string out;
    ASSERT_EQ(Command({"mkfs.fat", "-F", std::to_string(fat_bits), "-n", "FLOPPY", "-C", path + ".new",
                       std::to_string(kib)},
                      &out),
              0)
        << out;
    std::filesystem::rename(path + ".new", path);
}

int Mtools(const std::string &tool, const std::string &image, uint64_t offset, std::vector<std::string> args,
           std::string *out)
{
    host::MtoolsRunner runner(image, offset);
    host::ChildResult r = runner.Run(tool, args);
    if (out) *out = r.out + r.err;
    return r.Ok() ? 0 : r.started ? r.exit_code : 127;
}

void AddWindows(const std::string &image, uint64_t offset, const std::string &win_ini)
{
    ScratchDir dir;
    WriteBytes(dir.Path("msdos.sys"), "[Paths]\r\nWinDir=C:\\WINDOWS\r\nWinBootDir=C:\\WINDOWS\r\n");
    WriteBytes(dir.Path("win.ini"), win_ini);
    WriteBytes(dir.Path("system.ini"), "[boot]\r\nshell=Explorer.exe\r\n");
    std::string out;
    ASSERT_EQ(Mtools("mcopy", image, offset, {dir.Path("msdos.sys"), "::/MSDOS.SYS"}, &out), 0) << out;
    ASSERT_EQ(Mtools("mmd", image, offset, {"::/WINDOWS", "::/WINDOWS/SYSTEM"}, &out), 0) << out;
    ASSERT_EQ(Mtools("mcopy", image, offset, {dir.Path("win.ini"), "::/WINDOWS/WIN.INI"}, &out), 0) << out;
    ASSERT_EQ(Mtools("mcopy", image, offset, {dir.Path("system.ini"), "::/WINDOWS/SYSTEM.INI"}, &out), 0) << out;
}

std::string ReadInImage(const std::string &image, uint64_t offset, const std::string &path)
{
    host::MtoolsRunner runner(image, offset);
    host::ChildResult r = runner.Run("mcopy", {"-n", "::/" + path, "-"});
    return r.Ok() ? r.out : "<" + path + " unreadable: " + r.FirstErrorLine() + ">";
}

std::string FsckProblems(const std::string &image, uint64_t offset, uint64_t size)
{
    ScratchDir dir;
    std::string copy = dir.Path("volume.img");
    WriteBytes(copy, ReadAt(image, offset, size_t(size)));
    std::string out;
    int rc = Command({"fsck.fat", "-n", copy}, &out);
    return rc == 0 ? std::string() : out;
}

FatLayout LayoutOf(const std::string &image, uint64_t offset)
{
    std::string b = ReadAt(image, offset, 512);
    FatLayout l;
    uint32_t bps = Get16(b, 11), spc = uint8_t(b[13]), reserved = Get16(b, 14), root_entries = Get16(b, 17);
    l.fats = uint8_t(b[16]);
    uint64_t fat_sectors = Get16(b, 22) ? Get16(b, 22) : Get32(b, 36);
    l.fat = offset + uint64_t(reserved) * bps;
    l.fat_bytes = fat_sectors * bps;
    l.cluster_bytes = uint64_t(bps) * spc;
    l.data = l.fat + l.fats * l.fat_bytes + (uint64_t(root_entries) * 32 + bps - 1) / bps * bps;
    l.bits = root_entries ? 16 : 32;  // the tests make no FAT12 volume that they damage
    return l;
}

void SetFatEntry(const std::string &image, const FatLayout &layout, uint32_t cluster, uint32_t value)
{
    for (int k = 0; k < layout.fats; ++k) {
        std::string bytes(layout.bits / 8, '\0');
        for (int i = 0; i < layout.bits / 8; ++i) bytes[size_t(i)] = char((value >> (8 * i)) & 0xFF);
        WriteAt(image, layout.fat + k * layout.fat_bytes + cluster * uint64_t(layout.bits / 8), bytes);
    }
}

std::vector<uint32_t> ClustersOf(const std::string &image, uint64_t offset, const std::string &path)
{
    std::string out;
    Mtools("mshowfat", image, offset, {"::/" + path}, &out);
    std::vector<uint32_t> clusters;
    for (size_t open = out.find('<'); open != std::string::npos; open = out.find('<', open + 1)) {
        unsigned first = 0, last = 0;
        int n = std::sscanf(out.c_str() + open, "<%u-%u>", &first, &last);
        if (n < 1) continue;
        if (n == 1) last = first;
        for (unsigned c = first; c <= last; ++c) clusters.push_back(c);
    }
    return clusters;
}

uint64_t EntryOffset(const std::string &image, const FatLayout &layout, uint32_t cluster, const std::string &name11)
{
    uint64_t start = layout.data + (cluster - 2) * layout.cluster_bytes;
    std::string bytes = ReadAt(image, start, size_t(layout.cluster_bytes));
    for (size_t at = 0; at + 32 <= bytes.size(); at += 32)
        if (bytes.compare(at, 11, name11) == 0) return start + at;
    ADD_FAILURE() << "no entry " << name11;
    return 0;
}

}  // namespace pfmtest
