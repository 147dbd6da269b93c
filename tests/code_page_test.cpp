// The ANSI code pages other than 1252: conversions both ways, the bytes
// and units they lack, the choice by number, letter case and lstrcmpA's
// order, and LoadStringA's copy under a double-byte code page.
#include "platform/host/ansi_code_page.h"
#include "platform/host/code_page.h"
#include "platform/host/codepage.h"
#include "platform/host/collation.h"
#include "platform/host/paths.h"
#include "platform/host/pe_strings.h"
#include "platform/host/unicode_case.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

using host::CodePage;

std::string Hex(std::string_view bytes)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
        out += ' ';
    }
    return out;
}

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

int Sign(int v)
{
    return v < 0 ? -1 : v > 0 ? 1 : 0;
}

TEST(CodePage, LstrcmpOrderInOtherCodePages)
{
    struct Case {
        unsigned number;
        const char *a;
        const char *b;
        int order;
    } const cases[] = {
        {1251, "\xE0\xE1\xE2", "\xC0\xC1\xC2", -1},                      // абв before АБВ
        {1251, "\xC1", "\xE0\xE0", 1},                                   // Б after аа: letters first
        {1251, "\xCF\xF0\xE8\xED\xF2\xE5\xF0", "\xCF\xF0\xE8\xED\xF2\xE5\xF0", 0},
        {1251, "z", "\xE0", -1},                                         // Latin before Cyrillic
        {1251, "9", "\xE0", -1},
        {1251, "\xE0-\xE1", "\xE0\xE1", 1},                              // the hyphen counts last
        {1251, "\xE0\xAD\xE1", "\xE0\xE1", 0},                           // the soft hyphen not at all
        {1251, "\xE5", "\xB8", -1},                                      // е before ё (U+0435, U+0451)
        {1253, "\xE1", "\xC2", -1},                                      // α before Β
        {1253, "\xD9", "\xF9", 1},                                       // Ω after ω
        {874, "\xA1", "\xA2", -1},                                       // ก before ข
        {932, "\x83\x41", "\x83\x43", -1},                               // ア before イ
        {932, "\xB1", "\x83\x41", 1},                                    // half-width ｱ (U+FF71) after ア
        {932, "A", "\x83\x41", -1},
        {932, "\x82\x60", "\x82\x81", 1},                                // Ａ after ａ
        {932, "\x82\x60\x82\x60", "\x82\x81\x82\x82", -1},               // ＡＡ before ａｂ
        {932, "Kit \x83\x76", "kit \x83\x76", 1},
        {949, "\xB0\xA1", "\xB3\xAA", -1},                               // 가 before 나
    };
    for (const Case &c : cases) {
        const CodePage &page = CodePage::ForNumber(c.number);
        EXPECT_EQ(Sign(host::CompareLocale(page, c.a, c.b)), c.order) << c.number << " " << Hex(c.a) << "/ " << Hex(c.b);
        EXPECT_EQ(Sign(host::CompareLocale(page, c.b, c.a)), -c.order) << c.number << " " << Hex(c.b) << "/ " << Hex(c.a);
    }
    // Texts of ASCII order as in 1252, in every code page.
    const char *const ascii[] = {"Kit", "kit", "co-op", "coop", "a_b", "a b", "Ab1", "ab", "", "_", "9"};
    for (unsigned number : {874u, 932u, 936u, 949u, 950u, 1250u, 1251u, 1253u, 1254u, 1255u, 1256u, 1257u, 1258u}) {
        for (const char *a : ascii) {
            for (const char *b : ascii) {
                EXPECT_EQ(host::CompareLocale(CodePage::ForNumber(number), a, b), host::CompareLocale(a, b))
                    << number << " " << a << "/" << b;
            }
        }
    }
}

// LoadStringA's copy never cuts a character of two bytes.
TEST(CodePage, LoadStringCopyKeepsDoubleByteCharactersWhole)
{
    struct Case {
        unsigned number;
        std::u16string text;
        int size;
        const char *copied;
    } const cases[] = {
        {932, u"プリンタ", 4, "\x83\x76"},
        {932, u"プリンタ", 5, "\x83\x76\x83\x8A"},
        {932, u"プリンタ", 2, ""},
        {932, u"aプ", 3, "a"},
        {932, u"ｱｲ", 2, "\xB1"},
        {932, u"プリンタ", -1, "\x83\x76\x83\x8A\x83\x93\x83\x5E"},
        {1251, u"Принтер", 4, "\xCF\xF0\xE8"},
        {1251, u"Printer ℃", 20, "Printer ?"},
    };
    for (const Case &c : cases) {
        char buffer[32];
        std::memset(buffer, 0x55, sizeof buffer);
        int n = host::CopyStringResource(c.text, buffer, c.size, CodePage::ForNumber(c.number));
        EXPECT_EQ(n, static_cast<int>(std::strlen(c.copied))) << c.number << " " << c.size;
        EXPECT_EQ(Hex(std::string_view(buffer, n + 1)), Hex(std::string_view(c.copied, n + 1)))
            << c.number << " " << c.size;
    }
}

// The process's code page, as the installation sets it, is the one that
// lstrcmpA and LoadStringA's copy use.
TEST(CodePage, TheInstallationsCodePageIsTheOneInUse)
{
    EXPECT_EQ(host::AnsiCodePage().Number(), 1252u);
    char buffer[16];
    host::SetAnsiCodePage(932);
    EXPECT_EQ(host::AnsiCodePage().Number(), 932u);
    EXPECT_EQ(host::CopyStringResource(u"プ", buffer, sizeof buffer), 2);
    EXPECT_EQ(Hex(buffer), Hex("\x83\x76"));
    EXPECT_EQ(lstrcmpA("\x82\x60", "\x82\x81"), 1);
    host::SetAnsiCodePage(65001);
    EXPECT_EQ(host::AnsiCodePage().Number(), 1252u);
    EXPECT_EQ(host::CopyStringResource(u"プ", buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "?");
    host::SetAnsiCodePage(1251);
    EXPECT_EQ(host::CopyStringResource(u"Ж", buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "\xC6");
    host::SetAnsiCodePage(1252);
}

}  // namespace

namespace {

// Host file names are found without letter case in the installation's
// code page: in 1251 a Cyrillic name matches its own letters only, where
// 1252 reads every Cyrillic letter as '?'.
TEST(CodePage, HostFileNamesMatchInTheInstallationsCodePage)
{
    char folder[] = "/tmp/code_page_test.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string file = std::string(folder) + "/Принтер.ini";
    std::FILE *f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    struct Case {
        unsigned number;
        const char *wanted;
        bool found;
    } const cases[] = {
        {1251, "ПРИНТЕР.INI", true}, {1251, "принтер.ini", true}, {1251, "плоттер.ini", false},
        {1252, "плоттер.ini", true}, {932, "ПРИНТЕР.INI", false}, {932, "Принтер.INI", true},
    };
    for (const Case &c : cases) {
        host::SetAnsiCodePage(c.number);
        auto found = host::FindNoCase(folder, c.wanted);
        EXPECT_EQ(found.has_value(), c.found) << c.number << " " << c.wanted;
        if (found) EXPECT_EQ(*found, "Принтер.ini");
    }
    host::SetAnsiCodePage(1252);
    std::remove(file.c_str());
    rmdir(folder);
}

}  // namespace
