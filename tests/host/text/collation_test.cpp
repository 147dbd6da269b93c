// Which model names match which driver names: lstrcmpA's equality under the
// locale's rules, as Wine answers it (the order of unequal texts in code
// page 1252 is not relied on and is checked against Wine by the conformance
// tests only); and the order in the other ANSI code pages.
#include "platform/host/text/code_page.h"
#include "hex_text.h"
#include "platform/host/text/collation.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Collation, TextsEqualByTheLocalesRules)
{
    const char *const equal[][2] = {
        {"Kit Printer", "Kit Printer"}, {"Kit\xADPrinter", "KitPrinter"}, {"Stra\xDF" "e", "Strasse"},
        {"\xC6on", "AEon"},             {"\x9C" "uvre", "oeuvre"},         {"\xFE" "orn", "thorn"},
        {"a^b", "a\x88" "b"},           {"", "\xAD"},
    };
    for (const auto &pair : equal) EXPECT_EQ(0, lstrcmpA(pair[0], pair[1])) << pair[0] << " / " << pair[1];
}

TEST(Collation, LetterCaseAccentsAndMarksStillCount)
{
    const char *const unequal[][2] = {
        {"Kit", "kit"},  {"caf\xE9", "cafe"}, {"co-op", "coop"}, {"Kit\x01", "Kit"},
        {"a~b", "a\x98" "b"}, {"Ss", "\xDF"},   {"abc", "ab"},
    };
    for (const auto &pair : unequal) {
        EXPECT_NE(0, lstrcmpA(pair[0], pair[1])) << pair[0] << " / " << pair[1];
        EXPECT_EQ(-lstrcmpA(pair[0], pair[1]), lstrcmpA(pair[1], pair[0])) << pair[0] << " / " << pair[1];
    }
    // Lower case sorts first, accents after the plain letter, punctuation
    // before letters.
    EXPECT_EQ(1, lstrcmpA("Kit", "kit"));
    EXPECT_EQ(-1, lstrcmpA("e", "\xE9"));
    EXPECT_EQ(-1, lstrcmpA("\xE9", "f"));
    EXPECT_EQ(-1, lstrcmpA("_", "a"));
}

using host::CodePage;

using pfmtest::Hex;

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

}  // namespace
