// Windows paths on the host, as Wine maps them for a prefix.
#include "platform/host/installation/installation.h"
#include "platform/host/installation/windows_paths.h"
#include "test_prefix.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

using pfmtest::TempPrefix;

namespace {

TEST(Paths, MapDrivesThroughDosdevicesAndFindNamesWithoutCase)
{
    TempPrefix prefix;
    prefix.Enter();
    ASSERT_EQ(0, mkdir((prefix.prefix + "/drive_c/Kit Folder").c_str(), 0755));
    pfmtest::WriteFile(prefix.prefix + "/drive_c/Kit Folder/PFMSETUP.INI", "");
    const std::string c = prefix.prefix + "/dosdevices/c:";
    EXPECT_EQ(c + "/Kit Folder/PFMSETUP.INI", host::UnixPathOf("c:\\KIT FOLDER\\pfmsetup.ini"));
    // A period that ends a folder's name is dropped, and so are the periods
    // and spaces that end the last name.
    EXPECT_EQ(c + "/Kit Folder/PFMSETUP.INI", host::UnixPathOf("C:\\kit folder.\\.\\pfmsetup.ini. ."));
    EXPECT_EQ(c + "/Kit Folder/PFMSETUP.INI", host::UnixPathOf("C:/x/../Kit Folder//pfmsetup.ini"));
    // Names that do not exist keep their spelling.
    EXPECT_EQ(c + "/Kit Folder/New.INI", host::UnixPathOf("C:\\kit folder\\New.INI"));
    EXPECT_EQ(c + "/windows", host::UnixPathOf("C:\\WINDOWS"));
    EXPECT_EQ(std::nullopt, host::UnixPathOf("Q:\\x"));
    EXPECT_EQ(std::nullopt, host::UnixPathOf("C:\\a?b"));
    EXPECT_EQ(std::nullopt, host::UnixPathOf("\\\\server\\share\\x"));
}

TEST(Paths, ResolveRelativePathsFromTheCurrentDirectory)
{
    TempPrefix prefix;
    prefix.Enter();
    pfmtest::WriteFile(prefix.kit + "/file.ini", "");
    EXPECT_EQ("/dosdevices/z:" + prefix.kit + "/file.ini",
              host::UnixPathOf("FILE.INI")->substr(prefix.prefix.size()));
    EXPECT_EQ("/dosdevices/z:" + prefix.kit + "/file.ini",
              host::UnixPathOf(".\\sub\\..\\file.ini")->substr(prefix.prefix.size()));
}

TEST(Paths, NameUnixFoldersByTheDeepestDrive)
{
    TempPrefix prefix;
    prefix.Enter();
    ASSERT_EQ(0, mkdir((prefix.prefix + "/drive_c/sub").c_str(), 0755));
    EXPECT_EQ("C:\\sub", host::WindowsPathOf(prefix.prefix + "/drive_c/sub"));
    EXPECT_EQ("C:\\", host::WindowsPathOf(prefix.prefix + "/drive_c"));
    std::string kit = "Z:" + prefix.kit;
    for (char &ch : kit) {
        if (ch == '/') ch = '\\';
    }
    EXPECT_EQ(kit, host::WindowsPathOf(prefix.kit));
    EXPECT_EQ("Z:\\", host::WindowsPathOf("/"));

    // Without Z: a folder outside every drive has no Windows name.
    ASSERT_EQ(0, unlink((prefix.prefix + "/dosdevices/z:").c_str()));
    EXPECT_EQ(std::nullopt, host::WindowsPathOf(prefix.kit));
}

// In code page 932 the second byte of ソ and 表 is that of '\\', and of ポ
// that of '|': a path is split at its characters, not at those bytes, and
// the names are found as the UTF-8 names they are on the host.
TEST(Paths, SplitDoubleByteNamesAtTheirCharacters)
{
    TempPrefix prefix;
    prefix.Enter();
    host::SetAnsiCodePage(932);
    const std::string c = prefix.prefix + "/dosdevices/c:";
    ASSERT_EQ(0, mkdir((prefix.prefix + "/drive_c/ソフト").c_str(), 0755));
    ASSERT_EQ(0, mkdir((prefix.prefix + "/drive_c/ソフト/表示").c_str(), 0755));
    pfmtest::WriteFile(prefix.prefix + "/drive_c/ソフト/表示/ポ.ini", "");
    EXPECT_EQ(c + "/ソフト/表示/ポ.ini", host::UnixPathOf("C:\\\x83\x5c\x83\x74\x83\x67\\\x95\x5c\x8e\xa6\\\x83\x7c.INI"));
    EXPECT_EQ(c + "/ソフト/new", host::UnixPathOf("C:\\\x83\x5c\x83\x74\x83\x67\\x\\..\\new"));
    EXPECT_EQ("C:\\\x83\x5c\x83\x74\x83\x67\\\x95\x5c\x8e\xa6",
              host::WindowsPathOf(prefix.prefix + "/drive_c/ソフト/表示"));
    ASSERT_EQ(0, chdir((prefix.prefix + "/drive_c/ソフト/表示").c_str()));
    EXPECT_EQ(c + "/ソフト/表示/ポ.ini", host::UnixPathOf("\x83\x7c.ini"));
    EXPECT_EQ(std::nullopt, host::UnixPathOf("C:\\\x83\x5c|"));
    host::SetAnsiCodePage(1252);
}

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
