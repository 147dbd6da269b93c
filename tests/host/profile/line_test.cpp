// The rule that cuts a profile's text into lines, for bytes and for the
// units of an encoded file alike.
#include "platform/host/profile/line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Split(const std::u16string &text)
{
    std::string out;
    host::SplitProfileLines(
        text.size(), [&text](std::size_t i) { return static_cast<uint32_t>(text[i]); },
        [&out](std::size_t start, std::size_t length, host::ProfileLine::End end) {
            static const char *const kEnds[] = {"none", "crlf", "lf", "cr"};
            out += std::to_string(start) + "+" + std::to_string(length) + ":" + kEnds[end] + " ";
        });
    return out;
}

TEST(ProfileLine, LinesEndAtCrLfLfOrALoneCrAndTheLastMayHaveNoEnd)
{
    EXPECT_EQ("", Split(u""));
    EXPECT_EQ("0+1:none ", Split(u"a"));
    EXPECT_EQ("0+1:crlf 3+1:lf 5+1:cr 7+1:none ", Split(u"a\r\nb\nc\rd"));
    EXPECT_EQ("0+0:cr 1+0:crlf 3+0:lf ", Split(u"\r\r\n\n"));
    EXPECT_EQ("0+2:lf 3+0:cr ", Split(u"ab\n\r"));
    // A unit whose low byte is a line end is not one.
    EXPECT_EQ("0+3:none ", Split(u"\u010a\u010d\u0d0a"));
}

TEST(ProfileLine, NamesAndValuesAreTrimmedOfProfileWhiteSpace)
{
    EXPECT_EQ("a b", host::TrimProfileSpace(" \t\x1A" "a b\r\v\f"));
    EXPECT_EQ("", host::TrimProfileSpace(" \t "));
    EXPECT_EQ("\xA0x\xA0", host::TrimProfileSpace("\xA0x\xA0"));  // no-break space is text
}

}  // namespace
