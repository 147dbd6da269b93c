#include "platform/host/profile/key_index.h"

#include "platform/host/profile/ascii_fold.h"

#include <cstring>

namespace host {
namespace {

// A slot holds the line's number + 1 in its low half (0 for a free slot,
// kTomb for a deleted one) and the hash of its name in the high half, so
// that a probe compares names only where the hashes agree.
const uint32_t kTomb = 0xFFFFFFFFu;

uint32_t LineOfSlot(uint64_t slot) { return static_cast<uint32_t>(slot); }
uint32_t HashOfSlot(uint64_t slot) { return static_cast<uint32_t>(slot >> 32); }
uint64_t MakeSlot(uint32_t hash, uint32_t line) { return (static_cast<uint64_t>(hash) << 32) | line; }

}  // namespace

uint32_t ProfileKeyIndex::Hash(std::string_view text)
{
    // The trailing number (at most nine digits), read from the end.
    std::size_t stem = text.size();
    uint32_t number = 0;
    uint32_t scale = 1;
    while (stem > 0 && text.size() - stem < 9) {
        uint32_t digit = static_cast<uint32_t>(static_cast<unsigned char>(text[stem - 1])) - '0';
        if (digit > 9) break;
        number += digit * scale;
        scale *= 10;
        --stem;
    }
    // The number of digits counts too: "a01" and "a1" are different names.
    uint64_t h = 0x9E3779B97F4A7C15ull ^ (stem << 8) ^ (text.size() - stem);
    auto mix = [&h](uint64_t word) {
        h = (h ^ word) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
    };
    // Setting 0x20 in every byte gives a letter's two cases one hash; the
    // few other bytes it pairs up are told apart by the name's comparison.
    const uint64_t kCaseBits = 0x2020202020202020ull;
    if (stem < 8) {
        mix(ascii_fold::ShortWord(text.data(), stem) | kCaseBits);
    } else {
        for (std::size_t i = 0; i + 8 < stem; i += 8) {
            uint64_t word;
            std::memcpy(&word, text.data() + i, 8);
            mix(word | kCaseBits);
        }
        uint64_t word;
        std::memcpy(&word, text.data() + stem - 8, 8);
        mix(word | kCaseBits);
    }
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 29;
    return static_cast<uint32_t>(h >> 32) + number * 8;  // 8 slots of the index fill one cache line
}

long ProfileKeyIndex::Find(const Lines &lines, const TextArena &arena, const LeadBytes &lead, std::string_view key,
                           uint32_t *hash_out) const
{
    // The hint first. A line that the index answers for its name is the one
    // of that name, so finding it there gives the index's answer without a
    // probe.
    uint32_t next = next_hint_;
    for (uint32_t n = next > 0 ? next - 1 : 0; n <= next && n < lines.size(); ++n) {
        const ProfileLine &l = lines[n];
        if (l.indexed && l.key_length == key.size() && SameNameNoCase(LineName(arena, l), key, lead)) {
            next_hint_ = n + 1;
            return static_cast<long>(n);
        }
    }
    uint32_t hash = Hash(key);
    if (hash_out) *hash_out = hash;
    if (slots_.empty()) return -1;
    std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        uint64_t slot = slots_[i];
        uint32_t line = LineOfSlot(slot);
        if (line == 0) return -1;
        if (line != kTomb && HashOfSlot(slot) == hash && SameNameNoCase(LineName(arena, lines[line - 1]), key, lead)) {
            next_hint_ = line;
            return static_cast<long>(line - 1);
        }
    }
}

long ProfileKeyIndex::FindRememberingAbsent(const Lines &lines, const TextArena &arena, const LeadBytes &lead,
                                            std::string_view key)
{
    if (absent_known_ && SameNameNoCase(absent_name_, key, lead)) return -1;
    uint32_t hash = 0;
    long found = Find(lines, arena, lead, key, &hash);
    if (found < 0) {
        absent_name_.assign(key.data(), key.size());
        absent_hash_ = hash;
        absent_known_ = true;
    }
    return found;
}

void ProfileKeyIndex::Grow()
{
    // Twice the live names, at least: the index is at most half full, and a
    // lookup of an absent name (every new key) stays short. The names are
    // unique in the old index and keep their hashes.
    std::vector<uint64_t> old;
    old.swap(slots_);
    std::size_t live = 0;
    for (uint64_t slot : old) {
        uint32_t line = LineOfSlot(slot);
        if (line != 0 && line != kTomb) ++live;
    }
    std::size_t size = 16;
    while (size < 2 * (live + 1)) size *= 2;
    slots_.assign(size, 0);
    used_slots_ = static_cast<uint32_t>(live);
    std::size_t mask = size - 1;
    for (uint64_t slot : old) {
        uint32_t line = LineOfSlot(slot);
        if (line == 0 || line == kTomb) continue;
        std::size_t i = HashOfSlot(slot) & mask;
        while (slots_[i] != 0) i = (i + 1) & mask;
        slots_[i] = slot;
    }
}

void ProfileKeyIndex::Insert(Lines &lines, const TextArena &arena, const LeadBytes &lead, uint32_t n, uint32_t hash)
{
    std::string_view key = LineName(arena, lines[n]);
    std::size_t mask = slots_.size() - 1;
    std::size_t free_at = slots_.size();
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        uint64_t slot = slots_[i];
        uint32_t line = LineOfSlot(slot);
        if (line == kTomb) {
            if (free_at == slots_.size()) free_at = i;
            continue;
        }
        if (line == 0) {
            if (free_at == slots_.size()) {
                free_at = i;
                ++used_slots_;
            }
            break;
        }
        // The first line of a name wins.
        if (HashOfSlot(slot) == hash && SameNameNoCase(LineName(arena, lines[line - 1]), key, lead)) return;
    }
    slots_[free_at] = MakeSlot(hash, n + 1);
    lines[n].indexed = true;
    if (absent_known_ && absent_hash_ == hash) absent_known_ = false;
}

void ProfileKeyIndex::Add(Lines &lines, const TextArena &arena, const LeadBytes &lead, uint32_t n)
{
    Add(lines, arena, lead, n, Hash(LineName(arena, lines[n])));
}

void ProfileKeyIndex::Add(Lines &lines, const TextArena &arena, const LeadBytes &lead, uint32_t n, uint32_t hash)
{
    if (2 * (used_slots_ + 1) > slots_.size()) Grow();
    Insert(lines, arena, lead, n, hash);
}

void ProfileKeyIndex::Remove(Lines &lines, const TextArena &arena, uint32_t n)
{
    lines[n].indexed = false;
    if (slots_.empty()) return;
    uint32_t hash = Hash(LineName(arena, lines[n]));
    std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        uint32_t line = LineOfSlot(slots_[i]);
        if (line == 0) return;
        if (line == n + 1) {
            slots_[i] = kTomb;
            return;
        }
    }
}

void ProfileKeyIndex::Clear()
{
    std::vector<uint64_t>().swap(slots_);
    used_slots_ = 0;
    next_hint_ = 0;
    absent_known_ = false;
}

}  // namespace host
