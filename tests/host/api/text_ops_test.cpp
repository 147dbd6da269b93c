// The text operations the installation formats its names and counts with.
#include "platform/platform.h"
#include "test_prefix.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

namespace {

// wsprintfA into a buffer with a guard region after the platform's 1025
// bytes; the text, and whether the guard stayed untouched.
template <typename... Args>
std::string Format(const char *format, Args... args)
{
    std::string buffer(1025 + 64, '#');
    int n = wsprintfA(&buffer[0], format, args...);
    EXPECT_EQ(std::string(64, '#'), buffer.substr(1025)) << "written past 1024 bytes and the NUL";
    EXPECT_EQ(static_cast<std::size_t>(n), std::string(buffer.c_str()).size());
    return buffer.c_str();
}

TEST(TextOps, FormatsTheNamesAndCountsOfSoftFonts)
{
    EXPECT_EQ("softfont1", Format("softfont%d", 1));
    EXPECT_EQ("softfont65534", Format("softfont%d", 65534));
    EXPECT_EQ("0", Format("%d", 0));
    EXPECT_EQ("-5", Format("%d", -5));
    EXPECT_EQ("-2147483648", Format("%d", INT_MIN));
    EXPECT_EQ("2147483647 fonts", Format("%d fonts", INT_MAX));
    EXPECT_EQ("no conversion", Format("no conversion"));
}

// Any other format takes the general way, with the same result as the C
// library's formatter, cut to 1024 characters.
TEST(TextOps, FormatsOtherFormatsInFull)
{
    char expected[64];
    std::snprintf(expected, sizeof expected, "%5d|%s|%d%d|%%", 42, "text", 1, 2);
    EXPECT_EQ(expected, Format("%5d|%s|%d%d|%%", 42, "text", 1, 2));
    EXPECT_EQ("a1b%", Format("a%db%%", 1));
    EXPECT_EQ("7 x", Format("%d %s", 7, "x"));

    std::string long_prefix(1020, 'p');
    EXPECT_EQ(long_prefix + "1234", Format((long_prefix + "%d").c_str(), 123456));
    EXPECT_EQ(std::string(1024, 'q'), Format(std::string(1100, 'q').c_str()));
}

}  // namespace
