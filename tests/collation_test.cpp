// Which model names match which driver names: lstrcmpA's equality under the
// locale's rules, as Wine answers it (the order of unequal texts is not
// relied on and is checked against Wine by the conformance tests only).
#include "platform/platform.h"

#include <gtest/gtest.h>

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

}  // namespace
