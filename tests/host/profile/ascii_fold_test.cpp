// Names compared eight bytes at a time against the rule byte by byte: every
// byte value against every other at each position of names of every length
// the word and quarter paths take.
#include "platform/host/profile/ascii_fold.h"
#include "platform/host/text/code_page.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool ByTheRule(const std::string &a, const std::string &b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (host::FoldAscii(static_cast<unsigned char>(a[i])) != host::FoldAscii(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

TEST(AsciiFold, WordsAgreeWithTheRuleForEveryPairOfBytesAtEveryPosition)
{
    for (std::size_t length : {1u, 3u, 4u, 5u, 7u, 8u, 9u, 15u, 16u, 17u, 23u}) {
        for (std::size_t at : {std::size_t{0}, length / 2, length - 1}) {
            std::string a(length, 'q'), b(length, 'Q');
            for (int x = 0; x < 256; ++x) {
                a[at] = static_cast<char>(x);
                for (int y = 0; y < 256; ++y) {
                    b[at] = static_cast<char>(y);
                    ASSERT_EQ(ByTheRule(a, b), host::SameNameNoCase(a, b))
                        << "bytes " << x << ", " << y << " at " << at << " of " << length;
                }
            }
        }
    }
}

TEST(AsciiFold, OnlyAsciiCapitalsFoldAndLengthsMustAgree)
{
    EXPECT_TRUE(host::SameNameNoCase("", ""));
    EXPECT_TRUE(host::SameNameNoCase("SoftFont12345", "SOFTFONT12345"));
    EXPECT_FALSE(host::SameNameNoCase("softfont1", "softfont12"));
    EXPECT_FALSE(host::SameNameNoCase("\xC4rger", "\xE4rger"));  // the code page's letters stay apart
    EXPECT_FALSE(host::SameNameNoCase("a@", "a`"));              // 0x40 and 0x60 are not letters
    EXPECT_FALSE(host::SameNameNoCase("z[", "z{"));
    EXPECT_EQ("mixed \xC4 case [z]", host::FoldAsciiCopy("MiXeD \xC4 CASE [Z]"));
}

// In code page 932 ア (83 41) and ャ (83 61) stay apart, the letters around
// them still fold, and a half-width katakana (0xB1) takes no byte with it.
TEST(AsciiFold, TheSecondByteOfADoubleByteCharacterNeverFolds)
{
    const host::LeadBytes lead(host::CodePage::ForNumber(932));
    EXPECT_FALSE(host::LeadBytes(host::CodePage::ForNumber(1251)).Any());
    EXPECT_FALSE(host::SameNameNoCase("K\x83\x41", "k\x83\x61", lead));
    EXPECT_TRUE(host::SameNameNoCase("K\x83\x41Z", "k\x83\x41z", lead));
    EXPECT_TRUE(host::SameNameNoCase("\xB1" "A\x83", "\xB1" "a\x83", lead));  // a lead byte at the end takes nothing
    std::string folded;
    host::FoldNameInto("A\x83\x41" "B\xB1" "C\x83", folded, lead);
    EXPECT_EQ("a\x83\x41" "b\xB1" "c\x83", folded);
}

}  // namespace
