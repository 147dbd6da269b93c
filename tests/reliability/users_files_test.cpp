// The user's own files beside win.ini: backups, copies, editors' saves and
// names that look like the program's temporary file survive a normal run,
// runs killed while the temporary file exists, and the clean-up of the run
// after them, byte for byte. Only the program's own leftover goes.
#include "run_program.h"
#include "test_prefix.h"

#include <gtest/gtest.h>
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

using pfmtest::ProgramResult;
using pfmtest::ProgramRun;
using pfmtest::TempPrefix;

namespace {

// The program's temporary file, as the host names it.
const char kTemporaryName[] = "PFMSETUP.$$$";

const char *const kUsersNames[] = {
    // Backups and copies.
    "win.ini.backup", "WIN.INI.old123", "win.ini.abc123", "win.ini.ABCDEF", "win.ini.000001", "win.ini.bak",
    "win.ini.orig", "win.ini.old", "WIN.BAK", "win.000", "win.ini.1", "Copy of win.ini", "win (2).ini",
    "win.ini.2024-01-31", "win.ini.XXXXXX",
    // Editors' saves.
    "win.ini~", ".win.ini.swp", ".win.ini.swo", "#win.ini#", ".#win.ini", "win.ini.tmp", "WIN.TMP", "~win.ini",
    // Names that look like the program's temporary file but are not it.
    "PFMSETUP.$$", "PFMSETU.$$$", "PFMSETUP$$$", "PFMSETUP.$$$.bak", "PFMSETUP.$$$~", "~PFMSETUP.$$$",
    "PFMSETUP.$$$.swp", "PFMSETUP.$$4", "PFMSETUP.TMP", "PFMSETUP.OLD", "PFMSETUP.INI", "pfmsetup.$$$ ",
    " pfmsetup.$$$", "pfmsetup.$$$.1", "WIN.$$$", "pfmsetup", "$$$"};

// Each file's bytes differ from every other's, and hold the bytes that a
// text-mode copy would change.
std::string ContentOf(const std::string &name)
{
    return "; the user's own " + name + "\r\n[windows]\r\nload=\r\n" + std::string("\x1a\0\xff\n\r", 5) + name;
}

const int kFonts = 400;

std::string Kit()
{
    std::string kit = "[PrinterInfo]\r\noem=Own Printers\r\nPSKit=Own Kit\r\nNumberOfModel=1\r\nModel1=Own Laser PS\r\n"
                      "\r\n[PostScript]\r\n";
    char line[64];
    for (int i = 1; i <= kFonts; ++i) {
        std::snprintf(line, sizeof line, "softfont%d=F%05d___.PFM\r\n", i, i);
        kit += line;
    }
    return kit + "\r\n[Pscript TrueType Substitutions]\r\nArial=Own Sans\r\n";
}

// The Windows folder's entries other than win.ini and system32, each with
// its bytes (a link by its target, a folder as "<folder>").
std::map<std::string, std::string> Entries(const std::string &folder)
{
    std::map<std::string, std::string> entries;
    DIR *d = opendir(folder.c_str());
    if (!d) return entries;
    while (dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == ".." || name == "win.ini" || name == "system32") continue;
        std::string path = folder + "/" + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) continue;
        if (S_ISLNK(st.st_mode)) {
            char target[4096];
            ssize_t n = readlink(path.c_str(), target, sizeof target);
            entries[name] = "<link to " + std::string(target, n > 0 ? static_cast<std::size_t>(n) : 0) + ">";
        } else if (S_ISDIR(st.st_mode)) {
            entries[name] = "<folder>";
        } else {
            entries[name] = pfmtest::ReadFile(path);
        }
    }
    closedir(d);
    return entries;
}

// What is missing, changed or added in `after`, one name a line; empty
// when it holds just the files of `before`, byte for byte.
std::string Difference(const std::map<std::string, std::string> &before,
                       const std::map<std::string, std::string> &after)
{
    std::string report;
    for (const auto &entry : before) {
        auto it = after.find(entry.first);
        if (it == after.end()) report += "missing: " + entry.first + "\n";
        else if (it->second != entry.second) report += "changed: " + entry.first + "\n";
    }
    for (const auto &entry : after) {
        if (!before.count(entry.first)) report += "added: " + entry.first + "\n";
    }
    return report;
}

class UsersFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        prefix.AddPrinter("Own Laser", "Own Laser PS", "LPT1:");
        prefix.WriteKit(Kit());
        old_ini = "[windows]\r\nload=\r\n\r\n[Desktop]\r\nWallpaper=(None)\r\n";
        prefix.WriteWinIni(old_ini);
        for (const char *name : kUsersNames) {
            pfmtest::WriteFile(Folder() + "/" + name, ContentOf(name));
            users[name] = ContentOf(name);
        }
    }

    ProgramRun Run() const
    {
        ProgramRun run;
        run.prefix = prefix.prefix;
        run.folder = prefix.kit;
        run.runtime_dir = prefix.root;
        run.answers = "ok\n\n";
        return run;
    }

    std::string Folder() const { return prefix.prefix + "/drive_c/windows"; }

    TempPrefix prefix;
    std::string old_ini;
    std::map<std::string, std::string> users;
};

TEST_F(UsersFiles, SurviveNormalRunsKilledRunsAndTheCleanUpAfterThem)
{
    // A normal run, traced for the place of its rename.
    ProgramRun traced = Run();
    traced.trace = true;
    ProgramResult full = pfmtest::RunProgram(traced);
    ASSERT_EQ(full.exit_code, 1) << full.out << full.err;
    ASSERT_TRUE(pfmtest::SaysSuccess(full.out)) << full.out;
    const std::string new_ini = prefix.ReadWinIni();
    ASSERT_NE(new_ini.find("softfont400="), std::string::npos);
    EXPECT_EQ(Difference(users, Entries(Folder())), "") << "a normal run";

    long rename_at = pfmtest::LastRenameCall(full);
    if (rename_at < 0) GTEST_SKIP() << "system call numbers are read on x86-64 only";

    // Runs killed before the rename, some of them once the temporary file
    // is there: the user's files stay, and the program leaves at most its
    // own temporary file, which the next run clears away.
    int left_temporary = 0;
    for (long point = std::max(1L, rename_at - 60); point < rename_at + 10; point += 3) {
        prefix.WriteWinIni(old_ini);
        ProgramRun killed = Run();
        killed.kill_before_syscall = point;
        ProgramResult r = pfmtest::RunProgram(killed);
        ASSERT_EQ(r.signal, SIGKILL) << "killed before system call " << point;
        std::map<std::string, std::string> after = Entries(Folder());
        if (after.erase(kTemporaryName)) ++left_temporary;
        EXPECT_EQ(Difference(users, after), "") << "killed before system call " << point;
    }
    ASSERT_GT(left_temporary, 0) << "no kill fell between the temporary file and the rename";

    prefix.WriteWinIni(old_ini);
    ProgramResult next = pfmtest::RunProgram(Run());
    EXPECT_EQ(next.exit_code, 1) << next.err;
    EXPECT_TRUE(pfmtest::SaysSuccess(next.out)) << next.out;
    EXPECT_EQ(prefix.ReadWinIni(), new_ini);
    EXPECT_EQ(Difference(users, Entries(Folder())), "") << "the run after the killed ones";
}

// The program's leftover is known by its name in any letter case; an entry
// of that name that is no plain file is not the program's: it stays, and
// the run fails rather than write through it.
TEST_F(UsersFiles, OnlyAPlainFileOfTheTemporaryNameIsTakenForALeftover)
{
    struct Case {
        const char *what;
        std::string name;
        bool plain_file;
    };
    const std::string precious = prefix.root + "/precious.txt";
    const Case cases[] = {
        {"leftover", kTemporaryName, true},
        {"leftover in small letters", "pfmsetup.$$$", true},
        {"leftover in mixed letters", "PfmSetup.$$$", true},
        {"link to a user's file", kTemporaryName, false},
        {"folder", kTemporaryName, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        prefix.WriteWinIni(old_ini);
        pfmtest::WriteFile(precious, "the user's own file\n");
        std::string path = Folder() + "/" + c.name;
        if (unlink(path.c_str()) != 0) rmdir(path.c_str());
        if (c.plain_file) {
            pfmtest::WriteFile(path, old_ini.substr(0, 10));
        } else if (std::string(c.what).find("link") == 0) {
            ASSERT_EQ(symlink(precious.c_str(), path.c_str()), 0);
        } else {
            ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
        }
        ProgramResult r = pfmtest::RunProgram(Run());
        EXPECT_EQ(r.exit_code, 1) << r.err;
        EXPECT_EQ(pfmtest::ReadFile(precious), "the user's own file\n");
        std::map<std::string, std::string> after = Entries(Folder());
        if (c.plain_file) {
            EXPECT_TRUE(pfmtest::SaysSuccess(r.out)) << r.out;
            EXPECT_NE(prefix.ReadWinIni(), old_ini);
            EXPECT_EQ(Difference(users, after), "");
        } else {
            EXPECT_TRUE(pfmtest::SaysFailure(r.out)) << r.out;
            EXPECT_EQ(prefix.ReadWinIni(), old_ini);
            EXPECT_EQ(after.count(c.name), 1u);
            after.erase(c.name);
            EXPECT_EQ(Difference(users, after), "");
            if (unlink(path.c_str()) != 0) rmdir(path.c_str());
        }
    }
}

}  // namespace

// A win.ini that is a link to a file kept elsewhere (shared between
// prefixes, or with the user's dot files) is written through the link, as
// Wine writes it: the link stays, the file it names gets the fonts, and
// nothing is left beside either.
TEST_F(UsersFiles, ALinkedWinIniIsWrittenThroughItsLink)
{
    std::string shared = prefix.root + "/dotfiles";
    ASSERT_EQ(mkdir(shared.c_str(), 0755), 0);
    pfmtest::WriteFile(shared + "/win.ini", old_ini);
    ASSERT_EQ(unlink(prefix.WinIniPath().c_str()), 0);
    ASSERT_EQ(symlink("../../../dotfiles/win.ini", prefix.WinIniPath().c_str()), 0);
    EXPECT_TRUE(pfmtest::SaysSuccess(pfmtest::RunProgram(Run()).out));
    struct stat st;
    EXPECT_TRUE(lstat(prefix.WinIniPath().c_str(), &st) == 0 && S_ISLNK(st.st_mode)) << "the link was replaced";
    EXPECT_NE(pfmtest::ReadFile(shared + "/win.ini").find("softfont400="), std::string::npos);
    EXPECT_EQ(Difference(users, Entries(Folder())), "");
    EXPECT_TRUE(Entries(shared).empty()) << "a file was left beside the linked file";
}
