// Names compared without the case of ASCII letters, eight bytes at a time.
//
// Contract: SameNameNoCase(a, b) is true exactly when a and b have the same
// length and FoldAscii gives the same byte for every position of both;
// FoldAsciiCopy(t) is t with FoldAscii applied to each byte. Only 'A'..'Z'
// fold: bytes of 0x80 and above (the code page's own letters) never do.
//
// In a double-byte code page a lead byte takes the next byte with it, and
// that second byte is half of one character, never a letter: ア (83 41) and
// ャ (83 61) are two names. SameNameNoCase(a, b, lead) and FoldNameInto
// follow that rule, with the lead bytes of the names' code page
// (LeadBytes); with none, they are the functions above.
//
// A name is read as 64-bit words (four-byte quarters for names of four to
// seven bytes), and the capitals of a word are found with carries instead
// of a test per byte: the key index compares names on every read and
// write of a profile.
#ifndef PFMSETUP_PLATFORM_HOST_PROFILE_ASCII_FOLD_H
#define PFMSETUP_PLATFORM_HOST_PROFILE_ASCII_FOLD_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace host {

class CodePage;

// The lead bytes of the code page a profile's names are written in; none
// for a single-byte code page. Lead bytes are never ASCII.
class LeadBytes {
public:
    LeadBytes() = default;
    explicit LeadBytes(const CodePage &code_page);
    bool Any() const { return any_; }
    bool Has(unsigned char c) const { return (bits_[c >> 6] >> (c & 63)) & 1; }

private:
    uint64_t bits_[4] = {};
    bool any_ = false;
};

// The rule, one byte at a time.
inline unsigned char FoldAscii(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
}

std::string FoldAsciiCopy(std::string_view text);
// The same into `out`, whose room is kept between calls.
void FoldAsciiInto(std::string_view text, std::string &out);
// The same, leaving the second byte of each double-byte character as it is.
void FoldNameInto(std::string_view text, std::string &out, const LeadBytes &lead);

namespace ascii_fold {

// Up to eight bytes as one word, with the ASCII capitals made small: a byte
// gets 0x20 added when its value lies in 'A'..'Z'.
inline uint64_t FoldWord(uint64_t x)
{
    const uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
    uint64_t heptets = x & low7;
    uint64_t from_a = heptets + 0x3F3F3F3F3F3F3F3Full;  // high bit set from 'A' (0x41) on
    uint64_t past_z = heptets + 0x2525252525252525ull;  // high bit set from '[' (0x5B) on
    uint64_t capitals = from_a & ~past_z & ~x & 0x8080808080808080ull;
    return x | (capitals >> 2);
}

inline uint64_t FoldedWord(const char *p)
{
    uint64_t x;
    std::memcpy(&x, p, 8);
    return FoldWord(x);
}

// A name shorter than a word, gathered byte by byte (a copy into a word
// would be read back before the store could forward to it).
inline uint64_t ShortWord(const char *p, std::size_t n)
{
    uint64_t x = 0;
    for (std::size_t i = 0; i < n; ++i) x |= static_cast<uint64_t>(static_cast<unsigned char>(p[i])) << (8 * i);
    return x;
}

// Four bytes of a name, folded as above.
inline uint32_t FoldedQuarter(const char *p)
{
    uint32_t x;
    std::memcpy(&x, p, 4);
    uint32_t heptets = x & 0x7F7F7F7Fu;
    uint32_t capitals = (heptets + 0x3F3F3F3Fu) & ~(heptets + 0x25252525u) & ~x & 0x80808080u;
    return x | (capitals >> 2);
}

}  // namespace ascii_fold

// Names of eight bytes or more are taken as whole words, the last one
// ending with the name (it may overlap the one before it); names of four
// to seven bytes as two overlapping quarters.
inline bool SameNameNoCase(std::string_view a, std::string_view b)
{
    using namespace ascii_fold;
    std::size_t n = a.size();
    if (n != b.size()) return false;
    if (n < 8) {
        if (n < 4) return FoldWord(ShortWord(a.data(), n)) == FoldWord(ShortWord(b.data(), n));
        return FoldedQuarter(a.data()) == FoldedQuarter(b.data()) &&
               FoldedQuarter(a.data() + n - 4) == FoldedQuarter(b.data() + n - 4);
    }
    // The last word first: numbered names (softfont1, softfont2, ...)
    // differ at their end.
    if (FoldedWord(a.data() + n - 8) != FoldedWord(b.data() + n - 8)) return false;
    for (std::size_t i = 0; i + 8 < n; i += 8) {
        if (FoldedWord(a.data() + i) != FoldedWord(b.data() + i)) return false;
    }
    return true;
}

namespace ascii_fold {
// For names that agree without ASCII case: whether every second byte of a
// double-byte character agrees as it is.
bool SameSecondBytes(std::string_view a, std::string_view b, const LeadBytes &lead);
}  // namespace ascii_fold

inline bool SameNameNoCase(std::string_view a, std::string_view b, const LeadBytes &lead)
{
    return SameNameNoCase(a, b) && (!lead.Any() || ascii_fold::SameSecondBytes(a, b, lead));
}

}  // namespace host

#endif
