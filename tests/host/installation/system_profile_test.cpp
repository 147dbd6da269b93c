// win.ini on disk: replaced whole or not at all, permissions kept, writes
// that cannot reach it refused, copies in several processes serialised.
#include "platform/host/installation/installation.h"
#include "platform/platform.h"
#include "test_prefix.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using pfmtest::TempPrefix;

namespace {

mode_t ModeOf(const std::string &path)
{
    struct stat st;
    EXPECT_EQ(0, stat(path.c_str(), &st));
    return st.st_mode & 07777;
}

int ChildStatus(pid_t pid)
{
    int status = 0;
    EXPECT_EQ(pid, waitpid(pid, &status, 0));
    return status;
}

TEST(SystemProfile, KeepsPermissionsAndLinesOutsideTheWrites)
{
    TempPrefix prefix;
    const std::string original = "; comment\r\n[windows]\r\nload = x \r\n\r\n[Other]\nodd line\n";
    prefix.WriteWinIni(original);
    ASSERT_EQ(0, chmod(prefix.WinIniPath().c_str(), 0640));
    prefix.Enter();
    EXPECT_TRUE(WriteProfileStringA("windows", "run", "y"));
    EXPECT_TRUE(FlushSystemProfile());
    EXPECT_EQ("; comment\r\n[windows]\r\nload = x \r\nrun=y\r\n\r\n[Other]\nodd line\n", prefix.ReadWinIni());
    EXPECT_EQ(0640u, ModeOf(prefix.WinIniPath()));
    // No temporary file is left beside it: the folder holds system32 and win.ini.
    EXPECT_EQ(0, system(("test $(ls -A '" + prefix.prefix + "/drive_c/windows' | wc -l) -eq 2").c_str()));
}

TEST(SystemProfile, AReadOnlyFileFailsTheFirstWrite)
{
    TempPrefix prefix;
    prefix.WriteWinIni("[s]\r\nk=v\r\n");
    ASSERT_EQ(0, chmod(prefix.WinIniPath().c_str(), 0444));
    prefix.Enter();
    EXPECT_FALSE(WriteProfileStringA("s", "k", "new"));
    EXPECT_FALSE(WriteProfileStringA("s", nullptr, nullptr));
    EXPECT_TRUE(FlushSystemProfile());  // nothing was pending
    EXPECT_EQ("[s]\r\nk=v\r\n", prefix.ReadWinIni());
}

// Whether the first write of a child succeeds. Root may write any folder,
// so as root the Windows folder and win.ini are given to an unprivileged
// user, whom the child becomes: the folder's mode is then what decides.
// The mode is set before the child starts, so nothing races it.
bool FirstWriteOfAnUnprivilegedChild(const TempPrefix &prefix, mode_t folder_mode)
{
    const std::string folder = prefix.prefix + "/drive_c/windows";
    const bool root = getuid() == 0;
    const uid_t user = 65534;
    if (root) {
        EXPECT_EQ(0, chown(folder.c_str(), user, user));
        EXPECT_EQ(0, chown(prefix.WinIniPath().c_str(), user, user));
    }
    EXPECT_EQ(0, chmod(folder.c_str(), folder_mode));
    pid_t pid = fork();
    if (pid == 0) {
        if (root && (setgid(user) != 0 || setuid(user) != 0)) _exit(3);
        host::Installation::Reset();
        _exit(WriteProfileStringA("s", "k", "new") ? 1 : 0);  // nothing is flushed
    }
    int status = ChildStatus(pid);
    chmod(folder.c_str(), 0755);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_NE(3, WEXITSTATUS(status)) << "the child could not give up root's rights";
    return WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

TEST(SystemProfile, AFolderThatTheUserMayNotWriteFailsTheFirstWrite)
{
    TempPrefix prefix;
    prefix.WriteWinIni("[s]\r\nk=v\r\n");
    ASSERT_EQ(0, chmod(prefix.root.c_str(), 0755));
    prefix.Enter();
    // The same child writes when the folder is the user's to write: what it
    // is refused below is refused for the folder's mode alone.
    EXPECT_TRUE(FirstWriteOfAnUnprivilegedChild(prefix, 0755));
    EXPECT_FALSE(FirstWriteOfAnUnprivilegedChild(prefix, 0555));
    EXPECT_EQ("[s]\r\nk=v\r\n", prefix.ReadWinIni());
}

TEST(SystemProfile, AFullDiskFailsTheFlushAndKeepsTheOldFile)
{
    TempPrefix prefix;
    prefix.WriteWinIni("[s]\r\nk=v\r\n");
    prefix.Enter();
    pid_t pid = fork();
    if (pid == 0) {
        struct rlimit limit = {4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        bool wrote = WriteProfileStringA("s", "big", std::string(8192, 'x').c_str());
        _exit(wrote && !FlushSystemProfile() ? 0 : 1);
    }
    int status = ChildStatus(pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_EQ("[s]\r\nk=v\r\n", prefix.ReadWinIni());
    EXPECT_EQ(0, system(("test $(ls -A '" + prefix.prefix + "/drive_c/windows' | wc -l) -eq 2").c_str()));
}

TEST(SystemProfile, PendingWritesReachTheDiskWhenTheProcessEndsNotBefore)
{
    TempPrefix prefix;
    prefix.WriteWinIni("[s]\r\n");
    prefix.Enter();
    pid_t pid = fork();
    if (pid == 0) {
        WriteProfileStringA("s", "k", "v");
        exit(0);  // the system profile is flushed on the way out
    }
    ChildStatus(pid);
    EXPECT_EQ("[s]\r\nk=v\r\n", prefix.ReadWinIni());

    pid = fork();
    if (pid == 0) {
        WriteProfileStringA("s", "k", "killed");
        raise(SIGKILL);
    }
    ChildStatus(pid);
    EXPECT_EQ("[s]\r\nk=v\r\n", prefix.ReadWinIni());
}

TEST(SystemProfile, CopiesWritingAtOnceLoseNothing)
{
    TempPrefix prefix;
    prefix.WriteWinIni("[windows]\r\n");
    prefix.Enter();
    const int kCopies = 4;
    const int kRounds = 25;
    std::vector<pid_t> children;
    for (int c = 0; c < kCopies; ++c) {
        pid_t pid = fork();
        if (pid == 0) {
            for (int r = 0; r < kRounds; ++r) {
                std::string section = "Copy" + std::to_string(c);
                if (!WriteProfileStringA(section.c_str(), ("k" + std::to_string(r)).c_str(), "v")) _exit(1);
                if (!FlushSystemProfile()) _exit(2);
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = ChildStatus(pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    host::Installation::Reset();
    char value[8];
    for (int c = 0; c < kCopies; ++c) {
        for (int r = 0; r < kRounds; ++r) {
            std::string section = "Copy" + std::to_string(c);
            GetProfileStringA(section.c_str(), ("k" + std::to_string(r)).c_str(), "lost", value, sizeof value);
            EXPECT_STREQ("v", value) << section << " k" << r;
        }
    }
}

TEST(SystemProfile, AWriteWithNoSectionFlushesAndAnswersFalse)
{
    TempPrefix prefix;
    prefix.Enter();
    EXPECT_TRUE(WriteProfileStringA("s", "k", "v"));
    EXPECT_FALSE(WriteProfileStringA(nullptr, nullptr, nullptr));
    EXPECT_EQ("[s]\r\nk=v\r\n", prefix.ReadWinIni());
}

}  // namespace
