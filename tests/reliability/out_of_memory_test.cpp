// Memory that runs out, under an address-space limit (RLIMIT_AS): each host
// operation answers its failure result instead of ending the process, the
// run's writes of win.ini after it are refused and its flush fails, and the
// program run under limits below what it needs ends with the failure
// report and win.ini byte for byte as it was, never with a signal.
//
// AddressSanitizer reserves terabytes of address space at start, so no
// address-space limit can be set under it: there these tests are skipped.
#include "run_program.h"
#include "test_prefix.h"

#include "platform/host/installation/installation.h"
#include "platform/platform.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#define PFM_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PFM_UNDER_ASAN 1
#endif
#endif

using pfmtest::ProgramResult;
using pfmtest::ProgramRun;
using pfmtest::TempPrefix;

namespace {

// A field of /proc/<pid>/status ("VmSize", "VmPeak") in bytes, or -1.
long long StatusBytes(pid_t pid, const char *field)
{
    std::string path = "/proc/" + (pid ? std::to_string(pid) : std::string("self")) + "/status";
    FILE *f = std::fopen(path.c_str(), "r");
    if (!f) return -1;
    char line[256];
    long long kib = -1;
    std::size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, field, length) == 0 && line[length] == ':') kib = std::atoll(line + length + 1);
    }
    std::fclose(f);
    return kib < 0 ? -1 : kib * 1024;
}

// A file of `size` bytes that takes no room on disk but for `head`, its
// first bytes: reading it whole needs `size` bytes of memory.
void MakeSparse(const std::string &path, off_t size, const std::string &head = "")
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(write(fd, head.data(), head.size()), static_cast<ssize_t>(head.size()));
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
}

// Runs `check` in a child whose address space may grow by `room` bytes
// beyond what it holds; its exit code 0 means the check held, 2 that an
// exception came out of a Win32 call (the program's logic, built without
// exceptions, would abort there). An end by a signal is a failure too.
void ExpectInChildUnderLimit(const char *what, long long room, const std::function<bool()> &prepare,
                             const std::function<bool()> &check)
{
    pid_t pid = fork();
    if (pid == 0) {
        if (!prepare()) _exit(3);
        long long size = StatusBytes(0, "VmSize");
        if (size < 0) _exit(4);
        struct rlimit limit {};
        limit.rlim_cur = static_cast<rlim_t>(size + room);
        limit.rlim_max = RLIM_INFINITY;
        if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(5);
        int code = 1;
        try {
            code = check() ? 0 : 1;
        } catch (...) {
            code = 2;
        }
        _exit(code);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_FALSE(WIFSIGNALED(status)) << what << ": ended by signal " << WTERMSIG(status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << what << ": exit code " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

const long long kRoom = 32LL << 20;
const off_t kHuge = 1LL << 30;  // far beyond the room

class OutOfMemory : public ::testing::Test {
protected:
    void SetUp() override
    {
#ifdef PFM_UNDER_ASAN
        GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
#endif
        prefix.AddPrinter("Laser", "Laser PS", "LPT1:");
        prefix.WriteWinIni(kOldIni);
        prefix.WriteKit("[PrinterInfo]\r\nNumberOfModel=1\r\n");
        prefix.Enter();
    }

    static bool Nothing() { return true; }

    const std::string kOldIni = "[windows]\r\nload=\r\n\r\n[s]\r\nk=v\r\n";
    TempPrefix prefix;
};

// Each operation on a file too large to hold answers as the platform does
// when it has no memory for the call.
TEST_F(OutOfMemory, EachOperationAnswersItsFailure)
{
    // Files that answer otherwise when they can be read: a key and a
    // section, a library with texts, a registry with a version.
    const std::string huge_kit = prefix.kit + "/huge.ini";
    const std::string kit_dll = prefix.kit + "/huge.dll";
    MakeSparse(huge_kit, kHuge, "[s]\r\nk=3\r\n");
    MakeSparse(kit_dll, 64 << 20, pfmtest::ReadFile(PFMRES_DLL));  // the largest library that is read at all
    char buffer[64];
    auto filled = [&] {
        std::memset(buffer, 'x', sizeof buffer);
        return true;
    };
    auto huge_file = [&](const std::string &path) {
        return [path, &filled] {
            MakeSparse(path, kHuge, pfmtest::ReadFile(path));
            return filled();
        };
    };
    const std::string win_ini = prefix.WinIniPath();
    const std::string system_reg = prefix.prefix + "/system.reg";

    struct Case {
        const char *what;
        std::function<bool()> prepare;
        std::function<bool()> check;
    };
    const Case cases[] = {
        {"GetPrivateProfileStringA", filled,
         [&] { return GetPrivateProfileStringA("s", "k", "def", buffer, sizeof buffer, huge_kit.c_str()) == 0 &&
                      buffer[0] == '\0'; }},
        {"GetPrivateProfileIntA", filled,
         [&] { return GetPrivateProfileIntA("s", "k", 7, huge_kit.c_str()) == 7; }},
        {"GetPrivateProfileSectionA", filled,
         [&] { return GetPrivateProfileSectionA("s", buffer, sizeof buffer, huge_kit.c_str()) == 0 &&
                      buffer[0] == '\0' && buffer[1] == '\0'; }},
        {"GetProfileStringA", huge_file(win_ini),
         [&] { return GetProfileStringA("s", "k", "def", buffer, sizeof buffer) == 0 && buffer[0] == '\0'; }},
        {"WriteProfileStringA", huge_file(win_ini),
         [&] { return !WriteProfileStringA("s", "k", "new") && !FlushSystemProfile(); }},
        {"RegOpenKeyExA", huge_file(system_reg),
         [&] {
             HKEY key = reinterpret_cast<HKEY>(1);
             return RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System", 0, KEY_READ, &key) == 8 && key == nullptr;
         }},
        {"RegEnumKeyA", huge_file(system_reg),
         [&] { return RegEnumKeyA(HKEY_LOCAL_MACHINE, 0, buffer, sizeof buffer) == 8; }},
        {"RegQueryValueExA", huge_file(system_reg),
         [&] {
             DWORD size = sizeof buffer;
             return RegQueryValueExA(HKEY_LOCAL_MACHINE, "x", nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer),
                                     &size) == 8;
         }},
        {"GetVersionExA", huge_file(system_reg),
         [&] {
             OSVERSIONINFOA info {};
             info.dwOSVersionInfoSize = sizeof info;
             return !GetVersionExA(&info);
         }},
        {"LoadLibraryA", filled, [&] { return LoadLibraryA("huge.dll") == nullptr; }},
    };
    for (const Case &c : cases) {
        ExpectInChildUnderLimit(c.what, kRoom, c.prepare, c.check);
        // What a case made huge is made small again for the next one.
        prefix.WriteWinIni(kOldIni);
        prefix.WriteRegistry();
    }

    // Texts long enough that their weights cannot be held, which differ in
    // a letter's case only, so that the weights are listed.
    std::string a, b;
    ExpectInChildUnderLimit(
        "lstrcmpA", kRoom,
        [&] {
            a.assign(64 << 20, 'a');
            b = a;
            b.back() = 'A';
            return true;
        },
        [&] { return lstrcmpA(a.c_str(), b.c_str()) == 0; });  // the platform's answer when its comparison fails
}

// Memory that runs out in the middle of a run, in any operation, drops the
// run's pending changes: the writes after it are refused, its flush fails
// and leaves win.ini as it was. The flush ends that state: the next writes
// land.
TEST_F(OutOfMemory, ARunThatRanOutWritesNothingUntilItsFlush)
{
    const std::string huge_kit = prefix.kit + "/huge.ini";
    MakeSparse(huge_kit, kHuge);
    const std::string ini = prefix.WinIniPath();
    const std::string old_ini = kOldIni;
    ExpectInChildUnderLimit("a read runs out between writes", kRoom, Nothing, [&] {
        char value[16];
        bool ok = WriteProfileStringA("s", "k", "changed");
        ok = ok && GetPrivateProfileStringA("s", "k", "", value, sizeof value, huge_kit.c_str()) == 0;
        // The pending copy is gone: reads see the file, writes are refused.
        ok = ok && GetProfileStringA("s", "k", "", value, sizeof value) == 1 && std::strcmp(value, "v") == 0;
        ok = ok && !WriteProfileStringA("s", "later", "x");
        ok = ok && !FlushSystemProfile();
        ok = ok && pfmtest::ReadFile(ini) == old_ini;
        // A new run after the flush.
        ok = ok && WriteProfileStringA("s", "after", "y") && FlushSystemProfile();
        return ok && pfmtest::ReadFile(ini) == old_ini + "after=y\r\n";
    });
    EXPECT_EQ(prefix.ReadWinIni(), old_ini + "after=y\r\n");

    // The same for memory that runs out in a write: many keys, each value
    // 64 KiB, until the room is used up.
    prefix.WriteWinIni(old_ini);
    ExpectInChildUnderLimit("writes run out", kRoom, Nothing, [&] {
        const std::string value(64 << 10, 'v');
        int written = 0;
        while (written < 100000 && WriteProfileStringA("s", ("key" + std::to_string(written)).c_str(), value.c_str()))
            ++written;
        return written > 0 && written < 100000 && !WriteProfileStringA("s", "k", "x") && !FlushSystemProfile() &&
               pfmtest::ReadFile(ini) == old_ini;
    });
    EXPECT_EQ(prefix.ReadWinIni(), old_ini);
}

// The program itself, with a kit of many soft fonts, under limits between
// what it holds when it asks its question and the most it holds in a
// whole run.
TEST_F(OutOfMemory, TheProgramEndsWithTheFailureReportAndWinIniUnchanged)
{
    const int kFonts = 20000;
    std::string kit = "[PrinterInfo]\r\noem=Big\r\nPSKit=Big Kit\r\nNumberOfModel=1\r\nModel1=Laser PS\r\n\r\n"
                      "[PostScript]\r\n";
    char line[64];
    for (int i = 1; i <= kFonts; ++i) {
        std::snprintf(line, sizeof line, "softfont%d=F%05d___.PFM\r\n", i, i);
        kit += line;
    }
    prefix.WriteKit(kit + "\r\n[Pscript TrueType Substitutions]\r\nArial=Big Sans\r\n");
    for (const char *port : {"LPT2:", "COM1:", "FILE:"}) prefix.AddPrinter(std::string("Laser ") + port, "Laser PS", port);

    ProgramRun run;
    run.prefix = prefix.prefix;
    run.folder = prefix.kit;
    run.runtime_dir = prefix.root;

    // A whole run without a limit: what it holds at the question, at most,
    // and the win.ini it writes.
    pfmtest::StartedProgram started = pfmtest::StartProgram(run, prefix.root + "/err");
    std::string out;
    ASSERT_TRUE(pfmtest::ReadUntil(started.output, "answer: ", &out)) << out;
    long long at_question = StatusBytes(started.pid, "VmSize");
    ASSERT_EQ(write(started.input, "ok\n", 3), 3);
    ASSERT_TRUE(pfmtest::ReadUntil(started.output, "are now registered", &out)) << out;
    long long peak = StatusBytes(started.pid, "VmPeak");
    ProgramResult full = pfmtest::FinishProgram(started, out);
    ASSERT_EQ(full.exit_code, 1) << full.err;
    const std::string new_ini = prefix.ReadWinIni();
    ASSERT_NE(new_ini.find("softfont20000="), std::string::npos);
    ASSERT_GT(at_question, 0);
    ASSERT_GT(peak - at_question, 8LL << 20) << "the run needs too little memory to be cut short";

    int failed = 0, succeeded = 0;
    for (int step = 0; step < 8; ++step) {
        long long limit = at_question + (peak - at_question) * step / 8;
        prefix.WriteWinIni(kOldIni);
        ProgramRun limited = run;
        limited.answers = "ok\n\n";
        limited.address_space_limit = limit;
        ProgramResult r = pfmtest::RunProgram(limited);
        SCOPED_TRACE("limit " + std::to_string(limit >> 10) + " KiB, step " + std::to_string(step));
        ASSERT_TRUE(r.exited) << "signal " << r.signal << "\n" << r.err;
        EXPECT_EQ(r.exit_code, 1) << r.err;
        if (pfmtest::SaysSuccess(r.out)) {
            ++succeeded;
            EXPECT_EQ(prefix.ReadWinIni(), new_ini);
        } else {
            ++failed;
            EXPECT_TRUE(pfmtest::SaysFailure(r.out)) << r.out;
            EXPECT_EQ(prefix.ReadWinIni(), kOldIni);
        }
        EXPECT_FALSE(pfmtest::FileExists(prefix.prefix + "/drive_c/windows/PFMSETUP.$$$"));
    }
    // Above the most it held, the limit cuts nothing short.
    prefix.WriteWinIni(kOldIni);
    ProgramRun roomy = run;
    roomy.answers = "ok\n\n";
    roomy.address_space_limit = peak + (8LL << 20);
    ProgramResult r = pfmtest::RunProgram(roomy);
    EXPECT_TRUE(pfmtest::SaysSuccess(r.out)) << r.out << r.err;
    EXPECT_EQ(prefix.ReadWinIni(), new_ini);

    std::printf("question at %lld KiB, peak %lld KiB: %d runs failed, %d succeeded\n", at_question >> 10,
                peak >> 10, failed, succeeded);
    EXPECT_GE(failed, 4) << "the limits did not cut the runs short";
}

}  // namespace
