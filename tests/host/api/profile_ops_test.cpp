// The profile operations as the program calls them, with the answers Wine
// gives for the same files.
#include "platform/host/installation/installation.h"
#include "platform/platform.h"
#include "test_prefix.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

using pfmtest::TempPrefix;

namespace {

class ProfileOps : public ::testing::Test {
protected:
    void SetUp() override
    {
        prefix.Enter();
        file = "Z:" + prefix.kit + "\\t.ini";
        for (char &c : file) {
            if (c == '/') c = '\\';
        }
    }
    void Write(const std::string &text) { prefix.WriteKit(text, "t.ini"); }
    std::string Get(const char *section, const char *key, const char *def = "", DWORD size = 256)
    {
        std::string buffer(size + 4, '#');
        DWORD n = GetPrivateProfileStringA(section, key, def, &buffer[0], size, file.c_str());
        EXPECT_EQ(n, std::strlen(buffer.c_str()));
        return buffer.substr(0, n);
    }
    // The section's entries with each NUL shown as '|'.
    std::string Section(const char *section, DWORD size, DWORD *returned)
    {
        std::string buffer(size + 4, '#');
        *returned = GetPrivateProfileSectionA(section, &buffer[0], size, file.c_str());
        std::string shown = buffer.substr(0, size);
        for (char &c : shown) {
            if (c == '\0') c = '|';
        }
        EXPECT_EQ(std::string(4, '#'), buffer.substr(size)) << "written past the buffer";
        return shown;
    }

    TempPrefix prefix;
    std::string file;
};

TEST_F(ProfileOps, StripsOnePairOfMatchingQuotes)
{
    Write("[s]\r\nd=\"abc\"\r\ns='abc'\r\nm=\"abc'\r\nl=\"\r\nin=a\"b\"\r\n");
    EXPECT_EQ("abc", Get("s", "d"));
    EXPECT_EQ("abc", Get("s", "s"));
    EXPECT_EQ("\"abc'", Get("s", "m"));
    EXPECT_EQ("\"", Get("s", "l"));
    EXPECT_EQ("a\"b\"", Get("s", "in"));
}

TEST_F(ProfileOps, CutsValuesToTheBuffer)
{
    Write("[s]\r\nk=abcdef\r\n");
    EXPECT_EQ("abc", Get("s", "k", "", 4));
    EXPECT_EQ("", Get("s", "k", "", 1));
    std::string untouched(4, '#');
    EXPECT_EQ(0u, GetPrivateProfileStringA("s", "k", "", &untouched[0], 0, file.c_str()));
    EXPECT_EQ("####", untouched);
}

TEST_F(ProfileOps, AnswersTheDefaultForAbsentKeysAndFiles)
{
    Write("[s]\r\nbare\r\n");
    EXPECT_EQ("dflt", Get("s", "absent", "dflt  "));
    EXPECT_EQ("dflt", Get("s", "bare", "dflt"));
    EXPECT_EQ("dflt", Get("absent", "k", "dflt"));
    file += ".missing";
    EXPECT_EQ("dflt", Get("s", "k", "dflt"));
}

TEST_F(ProfileOps, ReadsIntegersLikeTheSystem)
{
    Write("[s]\r\na= 12\r\nb=+5\r\nc=-5\r\nd=0x1F\r\ne=010\r\nf=0b11\r\ng=12abc\r\nh=\r\ni=abc\r\n"
          "j=4294967297\r\nk=\"42\"\r\nl=0X1F\r\n");
    struct Case {
        const char *key;
        int value;
    };
    const Case cases[] = {{"a", 12}, {"b", 5},  {"c", -5}, {"d", 31}, {"e", 10}, {"f", 3},
                          {"g", 12}, {"h", 77}, {"i", 0},  {"j", 1},  {"k", 42}, {"l", 0},
                          {"absent", 77}};
    for (const Case &c : cases) {
        EXPECT_EQ(c.value, static_cast<int>(GetPrivateProfileIntA("s", c.key, 77, file.c_str()))) << c.key;
    }
}

TEST_F(ProfileOps, ReadsASectionAsNulSeparatedEntries)
{
    Write("[s]\r\n; comment\r\n  key = value \r\nbare\r\n=X\r\nK=\r\nq=\"quoted\"\r\n\r\n[t]\r\n");
    DWORD n = 0;
    EXPECT_EQ("key=value|bare|=X|K=|q=\"quoted\"||#", Section("s", 34, &n));
    EXPECT_EQ(32u, n);
    // Cut: the last text is cut and still followed by two NULs.
    EXPECT_EQ("key=value|ba||", Section("s", 14, &n));
    EXPECT_EQ(12u, n);
    EXPECT_EQ("||", Section("t", 2, &n));
    EXPECT_EQ(0u, n);
    EXPECT_EQ("||", Section("absent", 4, &n).substr(0, 2));
    EXPECT_EQ(0u, n);
}

TEST_F(ProfileOps, ListsSectionAndKeyNames)
{
    Write("[one]\r\na=1\r\nbare\r\nb=2\r\n[two]\r\n");
    std::string buffer(32, '#');
    DWORD n = GetPrivateProfileStringA(nullptr, nullptr, "", &buffer[0], 32, file.c_str());
    EXPECT_EQ(std::string("one\0two\0\0", 9), buffer.substr(0, n + 1));
    n = GetPrivateProfileStringA("one", nullptr, "", &buffer[0], 32, file.c_str());
    EXPECT_EQ(std::string("a\0b\0\0", 5), buffer.substr(0, n + 1));
}

TEST_F(ProfileOps, WritesOnlyTheSystemProfile)
{
    EXPECT_TRUE(WriteProfileStringA("New", "Key", "Value"));
    char value[32];
    GetProfileStringA("new", "key", "", value, sizeof value);
    EXPECT_STREQ("Value", value);
    // The pending copy is what reads of win.ini see, by any of its names.
    GetPrivateProfileStringA("New", "Key", "", value, sizeof value, "WIN.INI");
    EXPECT_STREQ("Value", value);
    EXPECT_FALSE(pfmtest::FileExists(prefix.WinIniPath()));
    EXPECT_TRUE(FlushSystemProfile());
    EXPECT_EQ("[New]\r\nKey=Value\r\n", prefix.ReadWinIni());
}

TEST_F(ProfileOps, RefusesTextsThatWouldNotReadBackAsWritten)
{
    prefix.WriteWinIni("[s]\r\nk=v\r\n");
    EXPECT_FALSE(WriteProfileStringA("s\r\n[x]", "k", "v"));
    EXPECT_FALSE(WriteProfileStringA("s", "k\n", "v"));
    EXPECT_FALSE(WriteProfileStringA("s", "k", "v\r\n[windows]\r\nrun=evil.exe"));
    EXPECT_FALSE(WriteProfileStringA("s", "a=b", "v"));
    EXPECT_FALSE(WriteProfileStringA("s", " [x]", "v"));
    EXPECT_TRUE(FlushSystemProfile());
    EXPECT_EQ("[s]\r\nk=v\r\n", prefix.ReadWinIni());
}

// Reads answer from a parsed copy of the file, looked at again once the
// coarse clock has moved (a few milliseconds).
TEST_F(ProfileOps, SeesAFileThatAnotherWriterChangedOnceTheClockHasMoved)
{
    Write("[s]\r\nk=old\r\n");
    EXPECT_EQ("old", Get("s", "k"));
    Write("[s]\r\nk=new\r\n");  // same size: only the modification time tells
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ("new", Get("s", "k"));
    Write("[s]\r\nk=longer\r\nj=1\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ("longer", Get("s", "k"));
    ASSERT_EQ(0, std::remove((prefix.kit + "/t.ini").c_str()));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ("gone", Get("s", "k", "gone"));
}

// The win.ini that this process has just written is what its next read
// sees, without waiting for the clock.
TEST_F(ProfileOps, ReadsItsOwnFlushedWinIniAtOnce)
{
    prefix.WriteWinIni("[s]\r\nk=before\r\n");
    char value[32];
    GetProfileStringA("s", "k", "", value, sizeof value);
    EXPECT_STREQ("before", value);
    EXPECT_TRUE(WriteProfileStringA("s", "k", "after"));
    EXPECT_TRUE(FlushSystemProfile());
    GetProfileStringA("s", "k", "", value, sizeof value);
    EXPECT_STREQ("after", value);
}

// Names are read in the installation's code page: in 932 ア (83 41) and ャ
// (83 61) are two names, in the kit's files and win.ini alike; in 1252 the
// 0x41 folds. A file read under one code page is read again under the next.
TEST_F(ProfileOps, NamesFollowTheLetterCaseOfTheInstallationsCodePage)
{
    Write("[\x82\x60]\r\n\x83\x41=a\r\nK\x83\x41=k\r\n");
    EXPECT_EQ("a", Get("\x82\x60", "\x83\x61", "none"));
    host::SetAnsiCodePage(932);
    EXPECT_EQ("none", Get("\x82\x60", "\x83\x61", "none"));
    EXPECT_EQ("a", Get("\x82\x60", "\x83\x41", "none"));
    EXPECT_TRUE(WriteProfileStringA("\x83\x41", "K", "1"));
    EXPECT_TRUE(WriteProfileStringA("\x83\x61", "k", "2"));
    EXPECT_TRUE(WriteProfileStringA("\x83\x41", "k", "3"));
    EXPECT_TRUE(FlushSystemProfile());
    host::SetAnsiCodePage(1252);
    EXPECT_EQ("[\x83\x41]\r\nK=3\r\n[\x83\x61]\r\nk=2\r\n", prefix.ReadWinIni());
}

}  // namespace
