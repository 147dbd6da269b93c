// The ANSI code pages other than 1252 (code_page.cpp): conversions both
// ways, the bytes and units they lack, the choice by number, letter case.
// lstrcmpA's order in them is tested in collation_test.cpp, LoadStringA's
// copy in pe_strings_test.cpp, the installation's choice in
// ansi_code_page_test.cpp, file names in paths_test.cpp.
#include "platform/host/text/code_page.h"
#include "hex_text.h"
#include "platform/host/text/cp1252.h"
#include "platform/host/text/unicode_case.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

using host::CodePage;

using pfmtest::Hex;

std::string Hex(std::u16string_view units)
{
    std::string out;
    char buffer[8];
    for (char16_t u : units) {
        std::snprintf(buffer, sizeof buffer, "%04X ", static_cast<unsigned>(u));
        out += buffer;
    }
    return out;
}

// The text of each code page's bytes, as the code charts give it.
TEST(CodePage, RoundTripsTheCharactersOfEachCodePage)
{
    struct Case {
        unsigned number;
        const char *ansi;
        const char *utf8;
    } const cases[] = {
        {1250, "\x8A\x9A\xE8\xF8 \xA3\xB3", "Šščř Łł"},
        {1251, "\xCF\xF0\xE8\xED\xF2\xE5\xF0 \xA8\xB8 \xA5\xB4 \xB9", "Принтер Ёё Ґґ №"},
        {1253, "\xC5\xEA\xF4\xF5\xF0\xF9\xF4\xDE\xF2 \xA2\xDC", "Εκτυπωτής Άά"},
        {1254, "\xDD\xFD\xDE\xFE\xD0\xF0", "İıŞşĞğ"},
        {1255, "\xE0\xE1\xF9", "אבש"},
        {1256, "\xC7\xE1\xD8", "الط"},
        {1257, "\xC0\xE0\xDE\xFE", "ĄąŽž"},
        {1258, "\xC3\xE3\xD5\xF5", "ĂăƠơ"},
        {874, "\xA1\xD2\xC3 \xDF", "การ ฿"},
        {932, "\x83\x76\x83\x8A\x83\x93\x83\x5E \x83\x5C\x95\x5C \xB1\xB2\xDF a\\", "プリンタ ソ表 ｱｲﾟ a\\"},
        {936, "\xB4\xF2\xD3\xA1\xBB\xFA \x80", "打印机 €"},
        {949, "\xC7\xC1\xB8\xB0\xC5\xCD", "프린터"},
        {950, "\xA6\x4C\xAA\xED\xBE\xF7", "印表機"},
        {1252, "\x80\xE9\x9F", "€éŸ"},
    };
    for (const Case &c : cases) {
        const CodePage &page = CodePage::ForNumber(c.number);
        ASSERT_EQ(page.Number(), c.number);
        EXPECT_EQ(page.ToUtf8(c.ansi), c.utf8) << c.number;
        EXPECT_EQ(Hex(page.FromUtf8(c.utf8)), Hex(c.ansi)) << c.number;
        std::u16string utf16 = page.ToUtf16(c.ansi);
        EXPECT_EQ(Hex(page.FromUtf16(utf16)), Hex(c.ansi)) << c.number;
        std::string le;
        for (char16_t u : utf16) {
            le += static_cast<char>(u & 0xFF);
            le += static_cast<char>(u >> 8);
        }
        EXPECT_EQ(Hex(page.FromUtf16(reinterpret_cast<const unsigned char *>(le.data()), le.size(), false)),
                  Hex(c.ansi))
            << c.number;
    }
}

TEST(CodePage, BytesWithoutACharacterAndCharactersWithoutBytes)
{
    struct ToUnicode {
        unsigned number;
        const char *ansi;
        std::u16string units;
    } const to_unicode[] = {
        {932, "\x82", u"?"},                    // a lead byte at the end
        {932, "a\x82\xA0\x83", u"a\u3042?"},    // ... after a whole character
        {932, "\x82\x20", u"? "},               // no character: the next byte read again
        {932, "\x81\x0A", u"?\n"},
        {949, "\xB0\xA1\xC9", u"\uAC00?"},
        {1251, "\x98", u"\u0098"},              // undefined in 0x80-0x9F: the C1 control
        {1253, "\xAA\xD2\xFF", u"???"},         // undefined above
        {874, "\xDB", u"?"},
    };
    for (const ToUnicode &c : to_unicode) {
        EXPECT_EQ(Hex(CodePage::ForNumber(c.number).ToUtf16(c.ansi)), Hex(c.units)) << c.number << " " << c.ansi;
    }

    struct ToAnsi {
        unsigned number;
        std::u16string units;
        const char *ansi;
    } const to_ansi[] = {
        {1251, u"\u00E9\u4E00\u00DF", "???"},
        {1251, u"\u0100\u2002\uFF21", "A A"},   // the 1252 best fit where it is ASCII
        {1251, u"\u0110", "?"},                 // 1252's best fit is no ASCII byte
        {1251, u"\u0098\u20AC", "\x98\x88"},
        {1253, u"\u0416", "?"},
        {932, u"\u00E9\u0416\uFF76", "?\x84\x47\xB6"},
        {932, u"\u2252\u2160", "\x81\xE0\x87\x54"},  // one of two encodings
        {936, u"\u3042", "\xA4\xA2"},
        {1258, u"\u1EA0", "?"},                 // no precomposed form in one byte
        {874, std::u16string(1, char16_t(0xD800)) + u"x", "?x"},
    };
    for (const ToAnsi &c : to_ansi) {
        EXPECT_EQ(Hex(CodePage::ForNumber(c.number).FromUtf16(c.units)), Hex(c.ansi)) << c.number << " " << Hex(c.units);
    }
    // Malformed UTF-8 and code points beyond U+FFFF are one '?' each.
    EXPECT_EQ(CodePage::ForNumber(1251).FromUtf8("\xD0\x9F\xFF\xD0\xF0\x9F\x98\x80"), "\xCF???");
}

TEST(CodePage, AnyOtherNumberIsCodePage1252)
{
    for (unsigned number : {0u, 1u, 437u, 850u, 1200u, 1259u, 20127u, 28591u, 65000u, 65001u, 0xFFFFFFFFu}) {
        const CodePage &page = CodePage::ForNumber(number);
        EXPECT_EQ(page.Number(), 1252u) << number;
        EXPECT_EQ(&page, &CodePage::ForNumber(1252)) << number;
        EXPECT_EQ(page.ToUtf8("\x80\xE9\x81"), "€é\xC2\x81") << number;
        EXPECT_EQ(page.FromUtf16(u"\u0100\u0416"), "A?") << number;
        EXPECT_FALSE(page.IsDoubleByte());
    }
    EXPECT_TRUE(CodePage::ForNumber(936).IsLeadByte(0x81));
    EXPECT_FALSE(CodePage::ForNumber(936).IsLeadByte(0x80));
    EXPECT_FALSE(CodePage::ForNumber(1251).IsDoubleByte());
}

// The generic rule of single-byte code pages, applied to 1252, gives the
// platform's own 1252 folding for every byte.
TEST(CodePage, SimpleCaseFoldingAgreesWithThePlatformsFoldingOf1252)
{
    for (unsigned b = 0; b < 256; ++b) {
        char32_t unit = host::Cp1252ToUnicode(static_cast<unsigned char>(b));
        char32_t folded = host::SimpleCaseFold(unit);
        unsigned char byte = host::UnicodeToCp1252(folded);
        unsigned char expected = host::Cp1252ToUnicode(byte) == folded ? byte : static_cast<unsigned char>(b);
        EXPECT_EQ(host::FoldCase(static_cast<unsigned char>(b)), expected) << std::hex << b;
    }
}

TEST(CodePage, LetterCaseOfEachCodePage)
{
    struct Case {
        unsigned number;
        const char *a;
        const char *b;
        bool equal;
    } const cases[] = {
        {1251, "\xCF\xD0\xC8\xCD\xD2\xC5\xD0", "\xEF\xF0\xE8\xED\xF2\xE5\xF0", true},  // ПРИНТЕР, принтер
        {1251, "\xA8\xA5\xAA", "\xB8\xB4\xBA", true},                                  // Ё Ґ Є
        {1251, "\xC5", "\xB8", false},                                                 // Е, ё
        {1253, "\xA2\xD3", "\xDC\xF3", true},                                          // ΆΣ, άσ
        {1253, "\xD3", "\xF2", true},                                                  // Σ, final ς
        {1253, "\xB5", "\xEC", true},                                                  // micro, μ
        {1254, "I", "\xFD", false},                                                    // I, dotless ı
        {1254, "\xDD", "i", false},                                                    // dotted İ, i
        {1254, "\xDE\xD0", "\xFE\xF0", true},                                          // ŞĞ, şğ
        {1250, "\xD8\x8A\xA3", "\xF8\x9A\xB3", true},                                  // ŘŠŁ, řšł
        {1258, "\xD5\xDD", "\xF5\xFD", true},                                          // ƠƯ, ơư
        {932, "Kit \x83\x76", "kIT \x83\x76", true},
        {932, "\x83\x41", "\x83\x61", false},   // ア, ヂ: a second byte is never folded
        {932, "\x82\x60", "\x82\x81", false},   // full-width Ａ, ａ: two bytes compared as they are
        {936, "A\xB4\xF2", "a\xB4\xF2", true},
        {1251, "abc", "abcd", false},
    };
    for (const Case &c : cases) {
        const CodePage &page = CodePage::ForNumber(c.number);
        EXPECT_EQ(page.EqualsNoCase(c.a, c.b), c.equal) << c.number << " " << Hex(c.a) << "/ " << Hex(c.b);
        EXPECT_EQ(page.FoldCase(c.a) == page.FoldCase(c.b), c.equal) << c.number << " " << Hex(c.a);
    }
}

}  // namespace
