// Where the setup description file is found.
#include "platform/platform.h"
#include "setup/setup_file.h"
#include "test_prefix.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using pfmtest::TempPrefix;

namespace {

std::string ReadPskit()
{
    char value[256];
    GetPrivateProfileStringA("PrinterInfo", "PSKit", "", value, sizeof value, SetupFilePath);
    return value;
}

TEST(SetupFile, IsTheCurrentDirectoryWithDotPfmsetupIni)
{
    TempPrefix prefix;
    prefix.WriteKit("[PrinterInfo]\r\nPSKit=Kit\r\n");
    prefix.Enter();
    BuildSetupFilePath();
    std::string expected = "Z:" + prefix.kit;
    for (char &c : expected) {
        if (c == '/') c = '\\';
    }
    EXPECT_EQ(expected + ".\\pfmsetup.ini", SetupFilePath);
    EXPECT_EQ("Kit", ReadPskit());
}

TEST(SetupFile, IsFoundWhateverTheLetterCaseOfItsName)
{
    TempPrefix prefix;
    prefix.WriteKit("[PRINTERINFO]\r\npskit=Upper\r\n", "PFMSETUP.INI");
    prefix.Enter();
    BuildSetupFilePath();
    EXPECT_EQ("Upper", ReadPskit());
}

TEST(SetupFile, AtTheRootOfADriveIsTheRootsFile)
{
    TempPrefix prefix;
    pfmtest::WriteFile(prefix.prefix + "/drive_c/pfmsetup.ini", "[PrinterInfo]\r\nPSKit=Root\r\n");
    prefix.Enter();
    ASSERT_EQ(0, chdir((prefix.prefix + "/drive_c").c_str()));
    BuildSetupFilePath();
    EXPECT_STREQ("C:\\.\\pfmsetup.ini", SetupFilePath);
    EXPECT_EQ("Root", ReadPskit());
}

TEST(SetupFile, ADirectoryTooLongForThePathCountsAsMissing)
{
    TempPrefix prefix;
    prefix.Enter();
    std::string deep = prefix.kit;
    // Folders nested until the Windows path is 2034 to 2040 bytes long: the
    // directory fits into 2048 bytes, ".\pfmsetup.ini" no longer does.
    while (deep.size() + 2 < 2034) {
        std::string name(std::min<std::size_t>(100, 2034 - deep.size() - 2), 'd');
        deep += "/" + name;
        ASSERT_EQ(0, mkdir(deep.c_str(), 0755));
    }
    pfmtest::WriteFile(deep + "/pfmsetup.ini", "[PrinterInfo]\r\nPSKit=Deep\r\n");
    ASSERT_EQ(0, chdir(deep.c_str()));
    BuildSetupFilePath();
    EXPECT_EQ("", ReadPskit()) << SetupFilePath;
    EXPECT_EQ(std::string::npos, std::string(SetupFilePath).find("dddd"));
}

}  // namespace
