// The version and the directories that the prefix answers.
#include "platform/platform.h"
#include "test_prefix.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

using pfmtest::TempPrefix;

namespace {

DWORD PlatformOf(TempPrefix &prefix)
{
    prefix.Enter();
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info)) return 99;
    return info.dwPlatformId;
}

TEST(SystemInfo, VersionComesFromWineSettingsThenTheRegistry)
{
    TempPrefix prefix;
    EXPECT_EQ(VER_PLATFORM_WIN32_WINDOWS, PlatformOf(prefix));
    prefix.SetVersion(TempPrefix::Version::WinNt);
    EXPECT_EQ(VER_PLATFORM_WIN32_NT, PlatformOf(prefix));
    prefix.SetUserRegText("[Software\\\\Wine] 1\n\"Version\"=\"winme\"\n");
    EXPECT_EQ(VER_PLATFORM_WIN32_WINDOWS, PlatformOf(prefix));
    // The setting for this very program wins; the one for another does not count.
    prefix.SetUserRegText("[Software\\\\Wine] 1\n\"Version\"=\"win95\"\n"
                          "[Software\\\\Wine\\\\AppDefaults\\\\" + std::string(program_invocation_short_name) +
                          ".exe] 1\n\"Version\"=\"winxp\"\n"
                          "[Software\\\\Wine\\\\AppDefaults\\\\pfmsetup.exe] 1\n\"Version\"=\"win98\"\n");
    EXPECT_EQ(VER_PLATFORM_WIN32_NT, PlatformOf(prefix));
    prefix.SetUserRegText("");
    prefix.SetVersion(TempPrefix::Version::None);
    EXPECT_EQ(VER_PLATFORM_WIN32_NT, PlatformOf(prefix));
}

TEST(SystemInfo, VersionQueryFailsForAWrongSizeOrAMissingPrefix)
{
    TempPrefix prefix;
    prefix.Enter();
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = 100;
    EXPECT_FALSE(GetVersionExA(&info));
    ASSERT_EQ(0, remove((prefix.prefix + "/system.reg").c_str()));
    EXPECT_EQ(99u, PlatformOf(prefix));
}

TEST(SystemInfo, DirectoriesAreCutNever)
{
    TempPrefix prefix;
    prefix.Enter();
    char buffer[260];
    EXPECT_EQ(19u, GetSystemDirectoryA(buffer, sizeof buffer));
    EXPECT_STREQ("C:\\windows\\system32", buffer);
    std::string untouched(8, '#');
    EXPECT_EQ(20u, GetSystemDirectoryA(&untouched[0], 8));
    EXPECT_EQ(std::string(8, '#'), untouched);

    char cwd[2048];
    DWORD n = GetCurrentDirectoryA(sizeof cwd, cwd);
    std::string expected = "Z:" + prefix.kit;
    for (char &c : expected) {
        if (c == '/') c = '\\';
    }
    EXPECT_EQ(expected, cwd);
    EXPECT_EQ(expected.size(), n);
    EXPECT_EQ(expected.size() + 1, GetCurrentDirectoryA(4, cwd));
}

}  // namespace
