// The program as a whole, run as its own process on a temporary prefix:
// win.ini survives a kill at any point of a large installation, a full
// disk, a file-size limit and a read-only win.ini or Windows folder; two
// copies with different kits on one prefix both land; an unusable prefix
// and a malformed resource library end as they should.
#include "run_program.h"
#include "test_prefix.h"

#include "platform/host/text/cp1252.h"
#include "platform/host/profile/document.h"

#include <gtest/gtest.h>
#include <dirent.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>

using pfmtest::ProgramResult;
using pfmtest::ProgramRun;
using pfmtest::TempPrefix;

namespace {

const int kFonts = 2500;
const char *const kPorts[] = {"LPT1:", "LPT2:", "COM1:", "FILE:"};

std::string BigKit(const std::string &oem, const std::string &model, int fonts, const std::string &substitution)
{
    std::string kit = "[PrinterInfo]\r\noem=" + oem + "\r\nPSKit=Big Kit\r\nNumberOfModel=1\r\nModel1=" + model +
                      "\r\n\r\n[PostScript]\r\n";
    char line[64];
    for (int i = 1; i <= fonts; ++i) {
        std::snprintf(line, sizeof line, "softfont%d=F%05d___.PFM\r\n", i, i);
        kit += line;
    }
    return kit + "\r\n[Pscript TrueType Substitutions]\r\n" + substitution + "\r\n";
}

// A win.ini of some size, with a stale section of one of the ports.
std::string OldWinIni()
{
    std::string ini = "[windows]\r\nload=\r\nrun=\r\ndevice=Big Laser,PSCRIPT,LPT1:\r\n\r\n[Desktop]\r\nWallpaper=(None)\r\n\r\n"
                      "[PostScript,LPT1]\r\nSoftfonts=1\r\nsoftfont1=C:\\windows\\system32\\OLD.PFM\r\nMFDFile=x\r\n\r\n[Extensions]\r\n";
    for (int i = 0; i < 500; ++i) ini += "ext" + std::to_string(i) + "=C:\\PROGRA~1\\APP" + std::to_string(i) + ".EXE ^.x" + std::to_string(i) + "\r\n";
    return ini;
}

std::vector<std::string> LeftOverTemps(const std::string &folder)
{
    std::vector<std::string> names;
    if (DIR *d = opendir(folder.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (host::EqualsNoCase(name, "PFMSETUP.$$$")) names.push_back(name);
        }
        closedir(d);
    }
    return names;
}

class Program : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int i = 0; i < 4; ++i) prefix.AddPrinter("Big Laser " + std::to_string(i), "Big Laser PS", kPorts[i]);
        prefix.WriteKit(BigKit("Big Printers", "Big Laser PS", kFonts, "Arial=Big Sans"));
        old_ini = OldWinIni();
        prefix.WriteWinIni(old_ini);
    }

    ProgramRun Run(const std::string &answers = "ok\n\n")
    {
        ProgramRun run;
        run.prefix = prefix.prefix;
        run.folder = prefix.kit;
        run.runtime_dir = prefix.root;
        run.answers = answers;
        return run;
    }

    std::string WindowsFolder() const { return prefix.prefix + "/drive_c/windows"; }

    TempPrefix prefix;
    std::string old_ini;
};

TEST_F(Program, AKillAtAnySystemCallLeavesTheOldOrTheNewWinIniWhole)
{
    // The whole run, traced: its system calls and the win.ini it writes.
    ProgramRun run = Run();
    run.trace = true;
    ProgramResult full = pfmtest::RunProgram(run);
    ASSERT_TRUE(full.exited) << full.err;
    ASSERT_EQ(full.exit_code, 1) << full.out << full.err;
    ASSERT_TRUE(pfmtest::SaysSuccess(full.out)) << full.out;
    const std::string new_ini = prefix.ReadWinIni();
    ASSERT_NE(new_ini, old_ini);
    ASSERT_NE(new_ini.find("softfont2500=C:\\windows\\system32\\F02500___.PFM"), std::string::npos);
    ASSERT_GT(full.syscalls, 100);

    // Kill points: spread over the run, and every call around the rename
    // that puts the new file in place (the write-out, its sync, the rename).
    std::set<long> points;
    for (long i = 1; i <= 40; ++i) points.insert(std::max(1L, full.syscalls * i / 41));
    long rename_at = -1;
#if defined(__x86_64__)
    for (std::size_t i = 0; i < full.numbers.size(); ++i) {
        if (full.numbers[i] == SYS_rename || full.numbers[i] == SYS_renameat || full.numbers[i] == SYS_renameat2)
            rename_at = static_cast<long>(i) + 1;
    }
    ASSERT_GT(rename_at, 0) << "the run renamed nothing";
    for (long i = std::max(1L, rename_at - 40); i <= std::min(full.syscalls, rename_at + 3); ++i) points.insert(i);
#endif

    int saw_old = 0, saw_new = 0;
    for (long point : points) {
        prefix.WriteWinIni(old_ini);
        ProgramRun killed = Run();
        killed.kill_before_syscall = point;
        ProgramResult r = pfmtest::RunProgram(killed);
        ASSERT_EQ(r.signal, SIGKILL) << "killed before system call " << point;
        std::string now = prefix.ReadWinIni();
        if (now == old_ini) {
            ++saw_old;
        } else {
            ASSERT_EQ(now, new_ini) << "win.ini is neither the old nor the new file after a kill before system call "
                                    << point << " of " << full.syscalls;
            ++saw_new;
        }
    }
    // The count of system calls varies a little from run to run, so the
    // kills around the rename find both files.
    EXPECT_GT(saw_old, 0);
    EXPECT_GT(saw_new, 0);
    std::printf("%zu kills of %ld system calls: %d left the old win.ini, %d the new one, %zu temporary files\n",
                points.size(), full.syscalls, saw_old, saw_new, LeftOverTemps(WindowsFolder()).size());

    // A killed copy holds no lock: the next run goes through.
    prefix.WriteWinIni(old_ini);
    ProgramResult after = pfmtest::RunProgram(Run());
    EXPECT_EQ(after.exit_code, 1) << after.out << after.err;
    EXPECT_EQ(prefix.ReadWinIni(), new_ini);
}

// A writer killed between writing its temporary file and the rename leaves
// that file in the Windows folder; the next writer, holding the lock, knows
// that no one else is writing and is the one to clear such files away.
TEST_F(Program, TheNextRunClearsTheTemporaryFilesOfKilledRuns)
{
    ProgramRun run = Run();
    run.trace = true;
    ProgramResult full = pfmtest::RunProgram(run);
    ASSERT_EQ(full.exit_code, 1) << full.err;
    long rename_at = pfmtest::LastRenameCall(full);
    if (rename_at < 0) GTEST_SKIP() << "system call numbers are read on x86-64 only";
    // The count of system calls shifts a little between runs: a wide window.
    // Each run clears what the killed run before it left, so the leftovers
    // are looked for after every kill.
    bool left_any = false;
    for (long point = std::max(1L, rename_at - 60); point < rename_at + 20; point += 3) {
        prefix.WriteWinIni(old_ini);
        ProgramRun killed = Run();
        killed.kill_before_syscall = point;
        pfmtest::RunProgram(killed);
        if (!LeftOverTemps(WindowsFolder()).empty()) left_any = true;
        EXPECT_LE(LeftOverTemps(WindowsFolder()).size(), 1u) << "a run left the leftovers of an earlier one";
    }
    ASSERT_TRUE(left_any) << "no kill fell between the temporary file and the rename";
    prefix.WriteWinIni(old_ini);
    ProgramResult after = pfmtest::RunProgram(Run());
    EXPECT_EQ(after.exit_code, 1) << after.err;
    EXPECT_TRUE(LeftOverTemps(WindowsFolder()).empty())
        << LeftOverTemps(WindowsFolder()).size() << " temporary files of killed runs are left in the Windows folder";
}

// Runs `inside` and then the program in a mount namespace of their own, so
// that no mount outlives the test. False when this machine gives none.
bool RunInMountNamespace(const std::function<bool()> &inside, const ProgramRun &run, ProgramResult *result,
                         const std::string &report)
{
    pid_t pid = fork();
    if (pid == 0) {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(77);
        if (!inside()) _exit(77);
        ProgramResult r = pfmtest::RunProgram(run);
        pfmtest::WriteFile(report + ".out", r.out);
        pfmtest::WriteFile(report + ".err", r.err);
        pfmtest::WriteFile(report + ".code", std::to_string(r.exit_code));
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 77) return false;
    result->out = pfmtest::ReadFile(report + ".out");
    result->err = pfmtest::ReadFile(report + ".err");
    result->exit_code = std::stoi(pfmtest::ReadFile(report + ".code"));
    return true;
}

TEST_F(Program, AFullDiskGivesTheFailureReportAndKeepsWinIni)
{
    // The Windows folder on a tmpfs with room for the old win.ini and a
    // little more, far less than the new one needs.
    std::string windows = WindowsFolder();
    std::string old = old_ini;
    auto small_disk = [&]() {
        std::string size = "size=" + std::to_string(old.size() + 64 * 1024);
        if (mount("tmpfs", windows.c_str(), "tmpfs", 0, size.c_str()) != 0) return false;
        mkdir((windows + "/system32").c_str(), 0755);
        pfmtest::WriteFile(windows + "/win.ini", old);
        return true;
    };
    ProgramResult r;
    std::string seen = prefix.root + "/seen";
    ProgramRun run = Run();
    std::string report = prefix.root + "/report";
    // What the tmpfs holds at the end is copied out before the namespace goes.
    pid_t pid = fork();
    if (pid == 0) {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(77);
        if (!small_disk()) _exit(77);
        ProgramResult inner = pfmtest::RunProgram(run);
        pfmtest::WriteFile(report + ".out", inner.out);
        pfmtest::WriteFile(report + ".code", std::to_string(inner.exit_code));
        pfmtest::WriteFile(seen, pfmtest::ReadFile(windows + "/win.ini"));
        pfmtest::WriteFile(seen + ".temps", std::to_string(LeftOverTemps(windows).size()));
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no tmpfs can be mounted here";
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    r.out = pfmtest::ReadFile(report + ".out");
    EXPECT_EQ(pfmtest::ReadFile(report + ".code"), "1");
    EXPECT_TRUE(pfmtest::SaysFailure(r.out)) << r.out;
    EXPECT_EQ(pfmtest::ReadFile(seen), old_ini);
    EXPECT_EQ(pfmtest::ReadFile(seen + ".temps"), "0");
}

TEST_F(Program, AFileSizeLimitGivesTheFailureReportAndKeepsWinIni)
{
    ProgramRun run = Run();
    run.file_size_limit = static_cast<long long>(old_ini.size()) + 4096;
    ProgramResult r = pfmtest::RunProgram(run);
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_TRUE(pfmtest::SaysFailure(r.out)) << r.out;
    EXPECT_EQ(prefix.ReadWinIni(), old_ini);
    EXPECT_TRUE(LeftOverTemps(WindowsFolder()).empty());
    // The preview finds the limit as the run does.
    run.args = {"--dry-run"};
    r = pfmtest::RunProgram(run);
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_NE(r.out.find("the run would show the failure report"), std::string::npos) << r.out;
    EXPECT_EQ(prefix.ReadWinIni(), old_ini);
}

TEST_F(Program, AReadOnlyWinIniGivesTheFailureReportAndStaysAsItWas)
{
    ASSERT_EQ(chmod(prefix.WinIniPath().c_str(), 0444), 0);
    ProgramResult r = pfmtest::RunProgram(Run());
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_TRUE(pfmtest::SaysFailure(r.out)) << r.out;
    EXPECT_EQ(prefix.ReadWinIni(), old_ini);
    struct stat st;
    ASSERT_EQ(stat(prefix.WinIniPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
}

TEST_F(Program, AReadOnlyFilesystemGivesTheFailureReportAndKeepsWinIni)
{
    std::string windows = WindowsFolder();
    auto read_only = [&]() {
        return mount(windows.c_str(), windows.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
               mount(nullptr, windows.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    };
    ProgramResult r;
    if (!RunInMountNamespace(read_only, Run(), &r, prefix.root + "/report"))
        GTEST_SKIP() << "no read-only mount can be made here";
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_TRUE(pfmtest::SaysFailure(r.out)) << r.out;
    EXPECT_EQ(prefix.ReadWinIni(), old_ini);
}

// Two copies, each with its own kit (and so its own caption), started
// together on one prefix: both finish, and win.ini holds the entries of
// both, whole.
TEST_F(Program, BadCommandLinesAreRefused)
{
    // One line naming the fault and the help, exit 2, nothing opened.
    const std::vector<std::vector<std::string>> bad = {
        {"--foo"}, {"-x"}, {"stray"}, {"-n", "stray"}, {"--help=x"}, {"--dry-run", "--undo"}};
    for (const std::vector<std::string> &args : bad) {
        ProgramRun run = Run();
        run.args = args;
        ProgramResult r = pfmtest::RunProgram(run);
        EXPECT_EQ(r.exit_code, 2) << args[0];
        EXPECT_EQ(r.out, "") << args[0];
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find("pfmsetup --help"), std::string::npos) << r.err;
        EXPECT_EQ(prefix.ReadWinIni(), old_ini);
    }
    ProgramRun help = Run();
    help.args = {"--help"};
    ProgramResult r = pfmtest::RunProgram(help);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find("--dry-run"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("--undo"), std::string::npos) << r.out;
    help.args = {"--version"};
    r = pfmtest::RunProgram(help);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "pfmsetup " PFMSETUP_VERSION "\n");
    EXPECT_EQ(r.err, "");
}

TEST(Concurrency, TwoCopiesWithDifferentKitsBothLand)
{
    const int kRoundFonts = 1500;
    for (int round = 0; round < 3; ++round) {
        TempPrefix prefix;
        prefix.AddPrinter("Alpha Laser", "Alpha PS", "LPT1:");
        prefix.AddPrinter("Beta Laser", "Beta PS", "LPT2:");
        prefix.WriteWinIni(OldWinIni());
        std::string kit_b = prefix.root + "/kit_b";
        mkdir(kit_b.c_str(), 0755);
        prefix.WriteKit(BigKit("Alpha", "Alpha PS", kRoundFonts, "Arial=Alpha Sans"));
        pfmtest::WriteFile(kit_b + "/pfmsetup.ini", BigKit("Beta", "Beta PS", kRoundFonts, "Courier=Beta Mono"));

        ProgramRun a, b;
        a.prefix = b.prefix = prefix.prefix;
        a.runtime_dir = b.runtime_dir = prefix.root;
        a.folder = prefix.kit;
        b.folder = kit_b;
        pfmtest::StartedProgram pa = pfmtest::StartProgram(a, prefix.root + "/a.err");
        pfmtest::StartedProgram pb = pfmtest::StartProgram(b, prefix.root + "/b.err");
        // Both show their question before either is answered.
        std::string out_a, out_b;
        ASSERT_TRUE(pfmtest::ReadUntil(pa.output, "answer: ", &out_a)) << out_a;
        ASSERT_TRUE(pfmtest::ReadUntil(pb.output, "answer: ", &out_b)) << out_b;
        ASSERT_EQ(write(pa.input, "ok\n\n", 4), 4);
        ASSERT_EQ(write(pb.input, "ok\n\n", 4), 4);
        ProgramResult ra = pfmtest::FinishProgram(pa, out_a);
        ProgramResult rb = pfmtest::FinishProgram(pb, out_b);
        EXPECT_EQ(ra.exit_code, 1) << ra.out << ra.err;
        EXPECT_EQ(rb.exit_code, 1) << rb.out << rb.err;
        EXPECT_TRUE(pfmtest::SaysSuccess(ra.out)) << ra.out;
        EXPECT_TRUE(pfmtest::SaysSuccess(rb.out)) << rb.out;

        std::string ini = prefix.ReadWinIni();
        host::ProfileDocument doc = host::ProfileDocument::Parse(ini);
        for (const char *section : {"PostScript,LPT1", "PostScript,LPT2"}) {
            std::vector<host::ProfileDocument::KeyValue> lines = doc.SectionLines(section, true);
            ASSERT_EQ(lines.size(), static_cast<std::size_t>(kRoundFonts + 1)) << section << " in round " << round;
            host::ProfileDocument::KeyValue kv;
            ASSERT_TRUE(doc.FindKey(section, "Softfonts", &kv));
            EXPECT_EQ(kv.value, std::to_string(kRoundFonts));
            for (int i = 1; i <= kRoundFonts; ++i) {
                char want[64];
                std::snprintf(want, sizeof want, "C:\\windows\\system32\\F%05d___.PFM", i);
                ASSERT_TRUE(doc.FindKey(section, "softfont" + std::to_string(i), &kv) && kv.value == want)
                    << section << " softfont" << i << " in round " << round;
            }
        }
        host::ProfileDocument::KeyValue kv;
        EXPECT_TRUE(doc.FindKey("Pscript TrueType Substitutions", "Arial", &kv) && kv.value == "Alpha Sans");
        EXPECT_TRUE(doc.FindKey("Pscript TrueType Substitutions", "Courier", &kv) && kv.value == "Beta Mono");
        EXPECT_TRUE(doc.FindKey("Extensions", "ext499", &kv));
        // Every line is one of the file's own: nothing was written into another.
        EXPECT_EQ(doc.Serialize(), ini);
        for (const auto &name : doc.SectionNames()) EXPECT_EQ(name.find('['), std::string_view::npos) << name;
        EXPECT_EQ(doc.SectionNames().size(), 6u);
    }
}

// An unusable prefix: the host says so in one line naming the path, and
// the user sees the failure report.
TEST(UnusablePrefix, AMissingPrefixIsNamedOnceAndGivesTheFailureReport)
{
    TempPrefix kit_only;
    kit_only.WriteKit(BigKit("Big Printers", "Big Laser PS", 3, "Arial=Big Sans"));
    ProgramRun run;
    run.prefix = kit_only.root + "/no such prefix";
    run.folder = kit_only.kit;
    run.runtime_dir = kit_only.root;
    run.answers = "ok\n\n";
    ProgramResult r = pfmtest::RunProgram(run);
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_TRUE(pfmtest::SaysFailure(r.out)) << r.out;
    EXPECT_EQ(pfmtest::UnusablePrefixLines(r.err, run.prefix), 1) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(pfmtest::FileExists(run.prefix));
}

TEST(UnusablePrefix, APrefixThatIsAFileOrHasAnUnreadableRegistryGivesTheFailureReport)
{
    TempPrefix prefix;
    prefix.AddPrinter("Big Laser", "Big Laser PS", "LPT1:");
    prefix.WriteKit(BigKit("Big Printers", "Big Laser PS", 3, "Arial=Big Sans"));
    std::string as_file = prefix.root + "/prefix-file";
    pfmtest::WriteFile(as_file, "not a folder");
    // system.reg replaced by a folder: it exists but cannot be read.
    std::string reg = prefix.prefix + "/system.reg";
    ASSERT_EQ(unlink(reg.c_str()), 0);
    ASSERT_EQ(mkdir(reg.c_str(), 0755), 0);
    for (const std::string &where : {as_file, prefix.prefix}) {
        ProgramRun run;
        run.prefix = where;
        run.folder = prefix.kit;
        run.runtime_dir = prefix.root;
        run.answers = "ok\n\n";
        ProgramResult r = pfmtest::RunProgram(run);
        EXPECT_EQ(r.exit_code, 1) << where << r.err;
        EXPECT_TRUE(pfmtest::SaysFailure(r.out)) << where << r.out;
        EXPECT_EQ(pfmtest::UnusablePrefixLines(r.err, where), 1) << where << ": " << r.err;
    }
}

// A prefix whose wineserver runs (a real one, kept running with -p) is
// refused with one line that says how to end the session, and win.ini
// stays; the same prefix at rest, its server's files left behind, is not.
TEST(UnusablePrefix, APrefixInUseIsRefusedAndTheSamePrefixAtRestIsNot)
{
    TempPrefix prefix;
    prefix.AddPrinter("Big Laser", "Big Laser PS", "LPT1:");
    prefix.WriteKit(BigKit("Big Printers", "Big Laser PS", 3, "Arial=Big Sans"));
    prefix.WriteWinIni(OldWinIni());
    std::string server = "WINEPREFIX='" + prefix.prefix + "' wineserver ";
    if (std::system((server + "-p 2>/dev/null").c_str()) != 0) GTEST_SKIP() << "no wineserver runs here";
    ProgramRun run{PFMSETUP_EXE, prefix.prefix, prefix.kit, prefix.root, "ok\n\n", {}};
    ProgramResult in_use = pfmtest::RunProgram(run);
    std::system((server + "-k; " + server + "-w").c_str());
    EXPECT_TRUE(pfmtest::SaysFailure(in_use.out)) << in_use.out;
    EXPECT_EQ(in_use.err, "pfmsetup: a Wine session is running on the prefix " + prefix.prefix +
                              ": end it with \"WINEPREFIX=" + prefix.prefix +
                              " wineserver -k\", or let its applications close, then start the program again\n");
    EXPECT_TRUE(prefix.ReadWinIni() == OldWinIni()) << "win.ini changed";
    ProgramResult at_rest = pfmtest::RunProgram(run);
    // At rest it lands; its one line is about the kit's files, not the prefix.
    EXPECT_TRUE(pfmtest::SaysSuccess(at_rest.out) && at_rest.err.find("Wine session") == std::string::npos)
        << at_rest.out << at_rest.err;
}

// A malformed resource library: the program has no texts and ends at once,
// silently, with exit code 0, having changed nothing.
TEST(MalformedResourceLibrary, EndsSilentlyWithoutTexts)
{
    TempPrefix prefix;
    prefix.AddPrinter("Big Laser", "Big Laser PS", "LPT1:");
    prefix.WriteKit(BigKit("Big Printers", "Big Laser PS", 3, "Arial=Big Sans"));
    prefix.WriteWinIni(OldWinIni());
    std::string program_dir = prefix.root + "/program";
    mkdir(program_dir.c_str(), 0755);
    std::string program = program_dir + "/pfmsetup";
    pfmtest::WriteFile(program, pfmtest::ReadFile(PFMSETUP_EXE));
    ASSERT_EQ(chmod(program.c_str(), 0755), 0);
    const std::string real = pfmtest::ReadFile(PFMRES_DLL);
    ASSERT_GT(real.size(), 512u);

    std::string wrong_machine = real;
    std::size_t pe = static_cast<unsigned char>(real[0x3c]) | static_cast<unsigned char>(real[0x3d]) << 8;
    wrong_machine[pe + 4] = 0x64;  // machine 0x8664: not an i386 image
    wrong_machine[pe + 5] = static_cast<char>(0x86);
    const std::pair<const char *, std::string> cases[] = {
        {"empty", ""},
        {"text", "MZ but nothing else"},
        {"truncated headers", real.substr(0, 0x3c + 2)},
        {"truncated sections", real.substr(0, real.size() / 2)},
        {"not i386", wrong_machine},
    };
    for (const auto &c : cases) {
        pfmtest::WriteFile(program_dir + "/pfmres.dll", c.second);
        ProgramRun run;
        run.program = program;
        run.prefix = prefix.prefix;
        run.folder = prefix.kit;
        run.runtime_dir = prefix.root;
        run.answers = "ok\n\n";
        ProgramResult r = pfmtest::RunProgram(run);
        EXPECT_TRUE(r.exited) << c.first;
        EXPECT_EQ(r.exit_code, 0) << c.first;
        EXPECT_EQ(r.out, "") << c.first;
        EXPECT_EQ(prefix.ReadWinIni(), OldWinIni()) << c.first;
    }

    // An image without resources loads, but has no texts: the boxes are
    // empty, the question is still asked and the run still goes on.
    std::string no_resources = real;
    std::size_t directory = pe + 24 + 96 + 2 * 8;  // the resource entry of the data directory
    for (std::size_t i = 0; i < 8; ++i) no_resources[directory + i] = 0;
    pfmtest::WriteFile(program_dir + "/pfmres.dll", no_resources);
    ProgramRun run;
    run.program = program;
    run.prefix = prefix.prefix;
    run.folder = prefix.kit;
    run.runtime_dir = prefix.root;
    run.answers = "ok\n\n";
    ProgramResult r = pfmtest::RunProgram(run);
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_EQ(r.out.find("[pfmsetup] \n(information) \n[ OK ] [ Cancel ]"), 0u) << r.out;
    EXPECT_NE(prefix.ReadWinIni().find("[PostScript,LPT1]"), std::string::npos);
}

}  // namespace
