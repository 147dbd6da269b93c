#include "platform/host/registry/win9x_registry_check.h"
#include "platform/host/base/little_endian.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <vector>

namespace host {
namespace {

// The layout of the file (little-endian throughout):
//   header, 32 bytes at 0: "CREG", version, offset of the first data block
//     (8), number of data blocks (u16 at 16);
//   key tree at 0x20: "RGKN", its size (4), the offset of the root's entry
//     (8, always 0x20: libcreg takes it also for where the entries start),
//     then 28-byte entries, which libcreg reads only up to the tree's size
//     less 32: name hash (4), parent (12), first subkey
//     (16) and next sibling (20) as offsets from the tree's start, none
//     being 0xFFFFFFFF; the key's record number (u16 at 24) and data
//     block (u16 at 26), 0xFFFF for the root, which has no record;
//   data blocks "RGDB" up to the end of the file (libcreg reads them all,
//     whatever the count says), each its size (4) and a 32-byte header, then
//     records filling it exactly: size (4), record number (u16), block
//     (u16), used size (4), name length (u16 at 12), number of values (u16
//     at 14), 0 (4), the name; then each value: type (4), 0 (4), name
//     length (u16), data length (u16), name, data. A record numbered 0xFFFF
//     is free space.
constexpr std::size_t kHeaderSize = 0x20;
constexpr std::size_t kTreeStart = 0x20;
constexpr std::size_t kTreeHeaderSize = 0x20;
constexpr std::size_t kEntrySize = 28;
constexpr std::size_t kBlockHeaderSize = 0x20;
constexpr std::size_t kRecordHeaderSize = 20;
constexpr std::size_t kValueHeaderSize = 12;
constexpr uint32_t kNone = 0xFFFFFFFF;
constexpr uint16_t kFreeRecord = 0xFFFF;

uint32_t U32(std::string_view b, std::size_t at)
{
    return Le32(reinterpret_cast<const unsigned char *>(b.data()) + at);
}

uint16_t U16(std::string_view b, std::size_t at)
{
    return Le16(reinterpret_cast<const unsigned char *>(b.data()) + at);
}

std::string At(const char *what, std::size_t offset)
{
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%s at offset 0x%zX", what, offset);
    return buffer;
}

// The record numbers of one data block's keys, or why the block is unsound.
std::string CheckBlock(std::string_view file, std::size_t start, std::size_t size, std::set<uint16_t> *ids)
{
    std::size_t end = start + size;
    std::size_t at = start + kBlockHeaderSize;
    while (at < end) {
        if (end - at < kRecordHeaderSize) return At("a key record runs past its data block", at);
        uint32_t record_size = U32(file, at);
        if (record_size < kRecordHeaderSize || record_size > end - at)
            return At("a key record runs past its data block", at);
        uint16_t id = U16(file, at + 4);
        if (id != kFreeRecord) {
            std::size_t record_end = at + record_size;
            std::size_t p = at + kRecordHeaderSize + U16(file, at + 12);
            if (p > record_end) return At("a key name runs past its record", at);
            unsigned values = U16(file, at + 14);
            for (unsigned v = 0; v < values; ++v) {
                if (record_end - p < kValueHeaderSize) return At("a value runs past its key record", p);
                std::size_t length = kValueHeaderSize + U16(file, p + 8) + U16(file, p + 10);
                if (length > record_end - p) return At("a value runs past its key record", p);
                p += length;
            }
            if (!ids->insert(id).second) return At("two key records have one number", at);
        }
        at += record_size;
    }
    return std::string();
}

}  // namespace

std::string CheckWin9xRegistry(std::string_view file)
{
    if (file.empty()) return "empty file";
    if (file.size() < kHeaderSize || std::memcmp(file.data(), "CREG", 4) != 0)
        return "not a Windows 9x registry file (no CREG header)";

    // The key tree.
    if (file.size() < kTreeStart + kTreeHeaderSize || std::memcmp(file.data() + kTreeStart, "RGKN", 4) != 0)
        return "no key tree (RGKN) after the header";
    uint32_t tree_size = U32(file, kTreeStart + 4);
    if (tree_size < kTreeHeaderSize) return "the key tree's header is broken";
    if (tree_size > file.size() - kTreeStart) return "the key tree runs past the end of the file";
    std::string_view tree = file.substr(kTreeStart, tree_size);

    // The data blocks, one after the other from the first to the end.
    std::size_t block_count = U16(file, 16);
    std::vector<std::set<uint16_t>> block_ids(block_count);
    std::size_t at = U32(file, 8);
    if (at < kTreeStart + tree_size) return At("the first data block overlaps the key tree", at);
    for (std::size_t n = 0; n < block_count; ++n) {
        if (at > file.size() || file.size() - at < kBlockHeaderSize)
            return At("a data block (RGDB) is missing", at);
        if (std::memcmp(file.data() + at, "RGDB", 4) != 0) return At("a data block (RGDB) is missing", at);
        uint32_t size = U32(file, at + 4);
        if (size < kBlockHeaderSize) return At("a data block's header is broken", at);
        if (size > file.size() - at) return At("a data block runs past the end of the file", at);
        std::string problem = CheckBlock(file, at, size, &block_ids[n]);
        if (!problem.empty()) return problem;
        at += size;
    }
    if (at != file.size()) return At("bytes follow the last data block", at);

    // The keys, from the root down: each entry lies within the tree, is
    // reached once, and (but for the root) has its record.
    if (U32(tree, 8) != kTreeHeaderSize) return "the key tree's header is broken";
    const std::size_t entries_end = tree.size() - kTreeHeaderSize;
    std::vector<bool> reached(tree.size(), false);
    std::vector<uint32_t> pending;
    auto reach = [&](uint32_t offset, std::string *problem) {
        // Debian's libcreg takes 0 for an offset (into the tree's header,
        // where it then loops); only 0xFFFFFFFF means none.
        if (offset == kNone) return;
        if (offset < kTreeHeaderSize || entries_end < kEntrySize || offset > entries_end - kEntrySize) {
            *problem = At("a key tree offset points outside the tree's entries", kTreeStart + offset);
            return;
        }
        if (reached[offset]) {
            *problem = At("a key is reached twice (a loop in the key tree)", kTreeStart + offset);
            return;
        }
        reached[offset] = true;
        pending.push_back(offset);
    };
    std::string problem;
    uint32_t root = kTreeHeaderSize;
    reach(root, &problem);
    while (problem.empty() && !pending.empty()) {
        uint32_t entry = pending.back();
        pending.pop_back();
        uint16_t id = U16(tree, entry + 24);
        uint16_t block = U16(tree, entry + 26);
        if (entry != root && (block >= block_count || !block_ids[block].count(id)))
            return At("a key has no record in the data blocks", kTreeStart + entry);
        uint32_t child = U32(tree, entry + 16);
        reach(child, &problem);
        if (entry != root) reach(U32(tree, entry + 20), &problem);
    }
    return problem;
}

}  // namespace host
