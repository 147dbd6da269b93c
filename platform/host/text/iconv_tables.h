// The characters of one ANSI code page other than 1252, as the C library's
// iconv converts them, read once into tables: converting a text then costs
// a table look-up per character, whatever iconv would cost per call.
//
// Contract: a table answers exactly what iconv answers for one character
// on its own (one byte, or a lead byte and one more), plus these rules of
// the platform's: a byte of 0x80-0x9F that the code page leaves undefined
// stands for the C1 control of the same value, and back. A lead byte is a
// byte that iconv reads as the start of a longer character. The encoding
// of a unit is what iconv gives for that unit alone when that is one or two
// bytes that read back as the same unit, else none. Tables are made whole
// at their first use and never change after, so they can be shared freely.
#ifndef PFMSETUP_PLATFORM_HOST_TEXT_ICONV_TABLES_H
#define PFMSETUP_PLATFORM_HOST_TEXT_ICONV_TABLES_H

#include <cstdint>
#include <memory>
#include <vector>

namespace host {

class CodePageTable {
public:
    // No character.
    static constexpr char16_t kNone = 0xFFFF;
    // No bytes for a unit.
    static constexpr std::uint16_t kNoBytes = 0xFFFF;

    // The table of `number` (874, 932, 936, 949, 950, 1250, 1251 or
    // 1253-1258; 1252 too, though the code page unit has its own), made at
    // the first call for it. Null for any other number, or when iconv does
    // not know the code page.
    static const CodePageTable *For(unsigned number);

    bool IsDoubleByte() const { return !leads_.empty(); }
    bool IsLeadByte(unsigned char byte) const { return lead_index_[byte] != 0; }
    // The unit of a single byte that is no lead byte, or kNone.
    char16_t Single(unsigned char byte) const { return single_[byte]; }
    // The unit of a lead byte and the byte after it, or kNone.
    char16_t Double(unsigned char lead, unsigned char trail) const
    {
        unsigned i = lead_index_[lead];
        return i ? leads_[i - 1][trail] : kNone;
    }
    // The bytes of a unit: below 0x100 one byte, else the lead byte in the
    // high byte and the second in the low one; kNoBytes when there are none.
    std::uint16_t Bytes(char16_t unit) const { return bytes_[unit]; }

private:
    CodePageTable() = default;
    static std::unique_ptr<CodePageTable> Make(const char *iconv_name);

    char16_t single_[256];
    std::uint8_t lead_index_[256] = {};  // 1 + index into leads_, 0 for no lead byte
    std::vector<std::vector<char16_t>> leads_;
    std::vector<std::uint16_t> bytes_;
};

}  // namespace host

#endif
