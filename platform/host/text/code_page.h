// One ANSI code page of an installation, chosen by its number, and the
// conversions of its texts to and from Unicode.
//
// The code pages: 1252 (Western, with the platform's own tables, see
// cp1252.h), 874 (Thai), 932 (Japanese), 936 (Simplified Chinese), 949
// (Korean), 950 (Traditional Chinese), 1250 (Central European), 1251
// (Cyrillic), 1253 (Greek), 1254 (Turkish), 1255 (Hebrew), 1256 (Arabic),
// 1257 (Baltic) and 1258 (Vietnamese), the others through the C library's
// iconv (see iconv_tables.h). Any other number (65001, 0, a number the
// C library lacks) is code page 1252, the code page of an installation that
// names none.
//
// The rules of the conversions, for every code page but 1252:
// - Bytes to Unicode: a lead byte of 932, 936, 949 or 950 takes the next
//   byte with it. A lead byte at the end of the text, or one that makes no
//   character with the next byte, is '?', and the next byte is read again
//   on its own. A byte that the code page leaves undefined is '?', but for
//   one of 0x80-0x9F, which is the C1 control of the same value.
// - Unicode to bytes: each UTF-16 unit on its own (a surrogate is '?'). A
//   unit the code page lacks is the byte of the platform's 1252 best-fit
//   table when that byte is ASCII (U+0100 is 'A' everywhere), else '?'.
// - UTF-8 input: malformed bytes are U+FFFD, and so '?'; a code point
//   beyond U+FFFF is one '?'.
//
// Letter case (EqualsNoCase, FoldCase): 1252 as cp1252.h says. A single-
// byte code page folds a byte to the byte of its Unicode simple case
// folding (CaseFolding.txt, status C and S) where the code page has that
// character, else leaves it. A double-byte code page folds the ASCII
// letters only; a character of two bytes is compared as it is, and its
// second byte is never folded.
#ifndef PFMSETUP_PLATFORM_HOST_TEXT_CODE_PAGE_H
#define PFMSETUP_PLATFORM_HOST_TEXT_CODE_PAGE_H

#include <cstddef>
#include <string>
#include <string_view>

namespace host {

class CodePageTable;

class CodePage {
public:
    // The code page `number`, or 1252 for a number not listed above. The
    // object lives as long as the process.
    static const CodePage &ForNumber(unsigned number);

    // The number it answers to: 1252 for every number that chose it.
    unsigned Number() const { return number_; }
    bool IsDoubleByte() const;
    bool IsLeadByte(unsigned char byte) const;

    // The character at `i` (i < ansi.size()) as one UTF-16 unit; `i` moves
    // past its one or two bytes.
    char16_t NextUnit(std::string_view ansi, std::size_t &i) const;
    // Appends the one or two bytes of one UTF-16 unit.
    void AppendUnit(std::string &out, char32_t unit) const;

    std::u16string ToUtf16(std::string_view ansi) const;
    std::string ToUtf8(std::string_view ansi) const;
    std::string FromUtf16(std::u16string_view text) const;
    // UTF-16 as bytes, in either order; an odd last byte is left out.
    std::string FromUtf16(const unsigned char *data, std::size_t bytes, bool big_endian) const;
    std::string FromUtf8(std::string_view utf8) const;

    // How many bytes of `ansi` its first `limit` bytes hold in whole
    // characters: `limit`, or one less where a lead byte would be cut off.
    std::size_t WholeCharacters(std::string_view ansi, std::size_t limit) const;

    bool EqualsNoCase(std::string_view a, std::string_view b) const;
    std::string FoldCase(std::string_view text) const;

private:
    explicit CodePage(unsigned number, const CodePageTable *table);
    void MakeFolds();

    unsigned number_;
    const CodePageTable *table_;  // null for 1252
    unsigned char fold_[256];     // single bytes folded
};

}  // namespace host

#endif
