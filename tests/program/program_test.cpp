// The host program run as a process, the way a user runs it: its current
// folder the kit's folder, WINEPREFIX a temporary prefix, its message boxes
// on standard output and the answers written to standard input. Each test
// has its own prefix, kit folder and table of shown boxes
// (XDG_RUNTIME_DIR), and checks the exit code, every box shown and what the
// run left in the prefix.
//
// The tests wait on what the program writes (a box's "answer: " prompt, the
// end of its output), never on time; the deadline below only stops a run
// that hangs.
#include <errno.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_prefix.h"

using pfmtest::TempPrefix;

namespace {

const int kDeadlineSeconds = 60;  // a guard against hangs, not a speed goal
const char kPrompt[] = "answer: ";

long long NowMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

size_t Count(const std::string &text, const std::string &piece)
{
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size())) ++n;
    return n;
}

// One copy of the program, started with fork and exec.
class Program {
public:
    Program(const std::string &path, const std::string &cwd, const std::vector<std::string> &env)
    {
        int in[2], out[2], err[2];
        if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) std::abort();
        std::vector<char *> envp;
        for (const std::string &e : env) envp.push_back(const_cast<char *>(e.c_str()));
        envp.push_back(nullptr);
        char *argv[] = {const_cast<char *>(path.c_str()), nullptr};
        pid_ = fork();
        if (pid_ < 0) std::abort();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            dup2(err[1], 2);
            // No pipe of this test or of another copy stays open in the child.
            for (int fd = 3; fd < 1024; ++fd) close(fd);
            signal(SIGPIPE, SIG_DFL);
            if (chdir(cwd.c_str()) != 0) _exit(126);
            execve(path.c_str(), argv, envp.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        close(err[1]);
        to_child_ = in[1];
        out_fd_ = out[0];
        err_fd_ = err[0];
    }

    ~Program()
    {
        CloseInput();
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_fd_ >= 0) close(out_fd_);
        if (err_fd_ >= 0) close(err_fd_);
    }

    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    // Writes one answer line.
    void Answer(const std::string &line)
    {
        std::string bytes = line + "\n";
        ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(to_child_, bytes.data(), bytes.size()));
    }

    // The end of standard input: a box that waits is closed.
    void CloseInput()
    {
        if (to_child_ >= 0) close(to_child_);
        to_child_ = -1;
    }

    // Waits until standard output holds `count` prompts; false when the
    // output ends first or the deadline passes.
    bool WaitForPrompts(size_t count)
    {
        return Pump([&] { return Count(out_, kPrompt) >= count; });
    }

    // Waits until standard output holds `piece` `count` times.
    bool WaitForOutput(const std::string &piece, size_t count = 1)
    {
        return Pump([&] { return Count(out_, piece) >= count; });
    }

    // Closes input (so a box that should not be there ends at once), reads
    // the output to its end and returns the exit code; -1 when the program
    // did not end before the deadline (it is then killed), 1000 + the
    // signal when a signal ended it.
    int Finish()
    {
        CloseInput();
        if (!Pump([&] { return out_fd_ < 0 && err_fd_ < 0; })) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            reaped_ = true;
            return -1;
        }
        int status = 0;
        waitpid(pid_, &status, 0);
        reaped_ = true;
        if (WIFEXITED(status)) return WEXITSTATUS(status);
        if (WIFSIGNALED(status)) return 1000 + WTERMSIG(status);
        return -2;
    }

    const std::string &Output() const { return out_; }
    const std::string &Errors() const { return err_; }

private:
    // Reads what the child writes until `done` holds (true), or until both
    // of its outputs have ended or the deadline has passed (then false).
    bool Pump(const std::function<bool()> &done)
    {
        long long deadline = NowMs() + kDeadlineSeconds * 1000LL;
        for (;;) {
            if (done()) return true;
            if (out_fd_ < 0 && err_fd_ < 0) return false;
            long long left = deadline - NowMs();
            if (left <= 0) return false;
            pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
            int n = poll(fds, 2, static_cast<int>(left));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) continue;
            ReadFrom(&out_fd_, &out_, fds[0].revents);
            ReadFrom(&err_fd_, &err_, fds[1].revents);
        }
    }

    static void ReadFrom(int *fd, std::string *into, short revents)
    {
        if (*fd < 0 || revents == 0) return;
        char buffer[4096];
        ssize_t got = read(*fd, buffer, sizeof buffer);
        if (got > 0) {
            into->append(buffer, static_cast<size_t>(got));
        } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
            close(*fd);
            *fd = -1;
        }
    }

    pid_t pid_ = -1;
    bool reaped_ = false;
    int to_child_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    std::string out_;
    std::string err_;
};

// All files under a folder, by relative path: contents of regular files,
// targets of symbolic links (not followed), modes of folders and of other
// files.
std::map<std::string, std::string> *g_snapshot = nullptr;
size_t g_snapshot_root = 0;

int AddToSnapshot(const char *path, const struct stat *st, int type, struct FTW *)
{
    std::string relative = std::string(path).substr(g_snapshot_root);
    if (type == FTW_F && S_ISREG(st->st_mode)) {
        (*g_snapshot)[relative] = pfmtest::ReadFile(path);
    } else if (type == FTW_F) {
        (*g_snapshot)[relative] = "special " + std::to_string(st->st_mode);  // never opened: a FIFO blocks
    } else if (type == FTW_SL) {
        char target[4096];
        ssize_t n = readlink(path, target, sizeof target);
        (*g_snapshot)[relative] = "-> " + std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
    } else if (type == FTW_D) {
        (*g_snapshot)[relative + "/"] = std::to_string(st->st_mode & 07777);
    }
    return 0;
}

std::map<std::string, std::string> Snapshot(const std::string &folder)
{
    std::map<std::string, std::string> files;
    g_snapshot = &files;
    g_snapshot_root = folder.size();
    nftw(folder.c_str(), AddToSnapshot, 16, FTW_PHYS);
    g_snapshot = nullptr;
    return files;
}

void CopyFile(const std::string &from, const std::string &to, mode_t mode)
{
    pfmtest::WriteFile(to, pfmtest::ReadFile(from));
    ASSERT_EQ(0, chmod(to.c_str(), mode)) << to;
}

// A box as the program shows it on the terminal (message_box.h), up to and
// including its prompt.
std::string Box(const std::string &caption, const char *icon, const std::vector<std::string> &lines, bool cancel)
{
    std::string box = "[pfmsetup] " + caption + "\n";
    for (const std::string &line : lines) box += std::string("(") + icon + ") " + line + "\n";
    return box + (cancel ? "[ OK ] [ Cancel ]  answer: " : "[ OK ]  answer: ");
}

// A box as a reader of the output sees it.
struct ShownBox {
    std::string caption;
    std::string icon;
    std::string text;  // the text lines, each ended by '\n'
    std::string buttons;
    std::string answer;
};

// Splits the output into its boxes; fails the test on anything that is not
// a box.
std::vector<ShownBox> ParseBoxes(const std::string &out)
{
    std::vector<ShownBox> boxes;
    size_t at = 0;
    auto line = [&](std::string *into) {
        size_t end = out.find('\n', at);
        if (end == std::string::npos) return false;
        *into = out.substr(at, end - at);
        at = end + 1;
        return true;
    };
    std::string text;
    while (at < out.size()) {
        ShownBox box;
        if (!line(&text) || text.rfind("[pfmsetup] ", 0) != 0) {
            ADD_FAILURE() << "no box at byte " << at << " of:\n" << out;
            return boxes;
        }
        box.caption = text.substr(11);
        for (;;) {
            size_t end = out.find('\n', at);
            size_t prompt = out.find(kPrompt, at);
            if (prompt != std::string::npos && (end == std::string::npos || prompt < end)) {
                box.buttons = out.substr(at, prompt - at);
                at = prompt + std::strlen(kPrompt);
                if (!line(&box.answer)) {  // still waiting for its answer
                    box.answer = out.substr(at);
                    at = out.size();
                }
                break;
            }
            if (!line(&text) || text.size() < 3 || text[0] != '(' || text.find(") ") == std::string::npos) {
                ADD_FAILURE() << "not a text line at byte " << at << " of:\n" << out;
                return boxes;
            }
            std::string icon = text.substr(1, text.find(") ") - 1);
            if (!box.icon.empty() && box.icon != icon) ADD_FAILURE() << "two icons in one box:\n" << out;
            box.icon = icon;
            box.text += text.substr(icon.size() + 3) + "\n";
        }
        boxes.push_back(box);
    }
    return boxes;
}

const char kKit[] =
    "[PrinterInfo]\r\n"
    "oem=Maker\r\n"
    "PSKit=Kit\r\n"
    "NumberOfModel=1\r\n"
    "Model1=Example Laser PS\r\n"
    "\r\n"
    "[PostScript]\r\n"
    "softfont1=EXROM.PFM\r\n"
    "softfont2=EXBOLD.PFM\r\n"
    "\r\n"
    "[Pscript TrueType Substitutions]\r\n"
    "Arial=Helvetica\r\n";

const char kWinIni[] =
    "[windows]\r\n"
    "load=\r\n"
    "run=\r\n";

const char kInstalledWinIni[] =
    "[windows]\r\n"
    "load=\r\n"
    "run=\r\n"
    "[PostScript,LPT1]\r\n"
    "Softfonts=2\r\n"
    "softfont1=C:\\windows\\system32\\EXROM.PFM\r\n"
    "softfont2=C:\\windows\\system32\\EXBOLD.PFM\r\n"
    "[Pscript TrueType Substitutions]\r\n"
    "Arial=Helvetica\r\n";

// The boxes of the plain test library (resources/plain.rc) for the
// maker "Maker" and the kit "Kit".
const char kPlainCaption[] = "Maker - Kit setup";
const std::string kPlainQuestion =
    Box(kPlainCaption, "information", {"Install Kit?", "Choose OK to go on."}, true);
const std::string kPlainSuccess =
    Box(kPlainCaption, "information", {"Done: Kit.", "All ports registered."}, false);
const std::string kPlainFailure = Box(kPlainCaption, "exclamation", {"Failed: Kit."}, false);

class ProgramRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Writing to a copy that has ended must fail the write, not the test.
        signal(SIGPIPE, SIG_IGN);
        runtime_ = prefix_.root + "/run";
        ASSERT_EQ(0, mkdir(runtime_.c_str(), 0700));
        ASSERT_EQ(0, mkdir((prefix_.root + "/home").c_str(), 0700));
        prefix_.AddPrinter("Laser", "Example Laser PS", "LPT1:");
        prefix_.WriteKit(kKit);
        prefix_.WriteWinIni(kWinIni);
        // The kit's soft-font files where the registration says they lie:
        // no line says that they are missing.
        for (const char *font : {"EXROM.PFM", "EXBOLD.PFM"})
            pfmtest::WriteFile(prefix_.prefix + "/drive_c/windows/system32/" + font, "PFM");
    }

    std::vector<std::string> Environment() const
    {
        return {"WINEPREFIX=" + prefix_.prefix, "XDG_RUNTIME_DIR=" + runtime_, "HOME=" + prefix_.root + "/home",
                "PATH=/usr/bin:/bin", "LC_ALL=C"};
    }

    // The program as built, with the real pfmres.dll beside it.
    std::unique_ptr<Program> StartBuilt(const std::string &cwd = "")
    {
        return std::make_unique<Program>(PFMSETUP_PROGRAM, cwd.empty() ? prefix_.kit : cwd, Environment());
    }

    // A copy of the program in a folder of its own, with `library` beside
    // it as pfmres.dll, or alone when `library` is empty.
    std::string CopyProgram(const std::string &library)
    {
        std::string folder = prefix_.root + "/program";
        mkdir(folder.c_str(), 0755);
        CopyFile(PFMSETUP_PROGRAM, folder + "/pfmsetup", 0755);
        if (!library.empty()) CopyFile(library, folder + "/pfmres.dll", 0644);
        return folder + "/pfmsetup";
    }

    std::unique_ptr<Program> Start(const std::string &program, const std::string &cwd = "")
    {
        return std::make_unique<Program>(program, cwd.empty() ? prefix_.kit : cwd, Environment());
    }

    // Runs a copy to its end: answers each box in turn as it appears,
    // then ends its input.
    struct Run {
        int exit_code;
        std::string out;
        std::string err;
    };
    Run RunAnswering(const std::string &program, const std::vector<std::string> &answers)
    {
        Program copy(program, prefix_.kit, Environment());
        for (size_t i = 0; i < answers.size(); ++i) {
            if (!copy.WaitForPrompts(i + 1)) break;
            copy.Answer(answers[i]);
        }
        int code = copy.Finish();
        return Run{code, copy.Output(), copy.Errors()};
    }

    // The boxes that are in the table now (the program removes its entry
    // when its box is answered).
    size_t TableEntries()
    {
        size_t n = 0;
        for (const auto &file : Snapshot(runtime_)) n += file.first.size() > 4 && file.first.rfind(".box") == file.first.size() - 4;
        return n;
    }

    TempPrefix prefix_;
    std::string runtime_;
};

TEST_F(ProgramRun, OkInstallsAndReportsSuccess)
{
    // The program as built, with its own resource library.
    auto copy = StartBuilt();
    ASSERT_TRUE(copy->WaitForPrompts(1)) << copy->Output() << copy->Errors();
    copy->Answer("ok");
    ASSERT_TRUE(copy->WaitForPrompts(2)) << copy->Output() << copy->Errors();
    copy->Answer("");
    EXPECT_EQ(1, copy->Finish());
    EXPECT_EQ("", copy->Errors());

    std::vector<ShownBox> boxes = ParseBoxes(copy->Output());
    ASSERT_EQ(2u, boxes.size()) << copy->Output();
    // The question: OK and Cancel, the information icon, the kit's name.
    EXPECT_NE(std::string::npos, boxes[0].caption.find("Maker")) << boxes[0].caption;
    EXPECT_NE(std::string::npos, boxes[0].caption.find("Kit")) << boxes[0].caption;
    EXPECT_EQ("information", boxes[0].icon);
    EXPECT_EQ("[ OK ] [ Cancel ]  ", boxes[0].buttons);
    EXPECT_NE(std::string::npos, boxes[0].text.find("Kit")) << boxes[0].text;
    EXPECT_EQ("ok", boxes[0].answer);
    // The success report: OK alone, the information icon, the same caption.
    EXPECT_EQ(boxes[0].caption, boxes[1].caption);
    EXPECT_EQ("information", boxes[1].icon);
    EXPECT_EQ("[ OK ]  ", boxes[1].buttons);
    EXPECT_NE(std::string::npos, boxes[1].text.find("Kit")) << boxes[1].text;
    EXPECT_NE(boxes[0].text, boxes[1].text);
    EXPECT_EQ("", boxes[1].answer);

    EXPECT_EQ(kInstalledWinIni, prefix_.ReadWinIni());
    EXPECT_EQ(0u, TableEntries());
}

TEST_F(ProgramRun, ShowsTheLibrarysTextsWithTheKitsNames)
{
    std::string program = CopyProgram(PLAIN_STRINGS_DLL);
    Run run = RunAnswering(program, {"OK", ""});
    EXPECT_EQ(1, run.exit_code);
    EXPECT_EQ(kPlainQuestion + "OK\n" + kPlainSuccess + "\n", run.out);
    EXPECT_EQ("", run.err);
    EXPECT_EQ(kInstalledWinIni, prefix_.ReadWinIni());
}

TEST_F(ProgramRun, CancelOrAClosedQuestionEndsWithoutInstalling)
{
    std::string program = CopyProgram(PLAIN_STRINGS_DLL);
    auto before = Snapshot(prefix_.root + "/prefix");

    // Cancel: no installation, no other box.
    Run cancel = RunAnswering(program, {"cancel"});
    EXPECT_EQ(1, cancel.exit_code);
    EXPECT_EQ(kPlainQuestion + "cancel\n", cancel.out);
    EXPECT_EQ("", cancel.err);
    EXPECT_EQ(before, Snapshot(prefix_.root + "/prefix"));

    // The box closed (the end of input): the same.
    Run closed = RunAnswering(program, {});
    EXPECT_EQ(1, closed.exit_code);
    EXPECT_EQ(kPlainQuestion + "\n", closed.out);
    EXPECT_EQ("", closed.err);
    EXPECT_EQ(before, Snapshot(prefix_.root + "/prefix"));

    // The success report closed instead of answered: installed all the same.
    Run report_closed = RunAnswering(program, {"ok"});
    EXPECT_EQ(1, report_closed.exit_code);
    EXPECT_EQ(kPlainQuestion + "ok\n" + kPlainSuccess + "\n", report_closed.out);
    EXPECT_EQ(kInstalledWinIni, prefix_.ReadWinIni());
    EXPECT_EQ(0u, TableEntries());
}

TEST_F(ProgramRun, WithoutTheResourceLibraryEndsSilently)
{
    // The program alone in its folder; the kit folder and the prefix's
    // system and Windows folders hold no pfmres.dll, and the prefix has no
    // PATH in its registry.
    std::string program = CopyProgram("");
    auto before = Snapshot(prefix_.root);
    Run run = RunAnswering(program, {"ok", "ok"});
    EXPECT_EQ(0, run.exit_code);
    EXPECT_EQ("", run.out);
    EXPECT_EQ("", run.err);
    EXPECT_EQ(before, Snapshot(prefix_.root));

    // The same copy with the library where the search finds it (the
    // current folder): it asks, so the silent end above was the library's.
    CopyFile(PLAIN_STRINGS_DLL, prefix_.kit + "/pfmres.dll", 0644);
    Run found = RunAnswering(program, {"cancel"});
    EXPECT_EQ(1, found.exit_code);
    EXPECT_EQ(kPlainQuestion + "cancel\n", found.out);
}

TEST_F(ProgramRun, WithoutTheSetupFileReportsFailure)
{
    std::string program = CopyProgram(PLAIN_STRINGS_DLL);
    ASSERT_EQ(0, unlink((prefix_.kit + "/pfmsetup.ini").c_str()));
    auto before = Snapshot(prefix_.root + "/prefix");
    Run run = RunAnswering(program, {"ok", ""});
    EXPECT_EQ(1, run.exit_code);
    // The names read as the empty text.
    EXPECT_EQ(Box(" -  setup", "information", {"Install ?", "Choose OK to go on."}, true) + "ok\n" +
                  Box(" -  setup", "exclamation", {"Failed: ."}, false) + "\n",
              run.out);
    EXPECT_EQ("", run.err);
    EXPECT_EQ(before, Snapshot(prefix_.root + "/prefix"));
}

TEST_F(ProgramRun, OutsideTheWindows9xFamilyReportsFailure)
{
    std::string program = CopyProgram(PLAIN_STRINGS_DLL);
    struct Case {
        const char *name;
        std::function<void()> make;
    };
    const Case cases[] = {
        {"NT registry", [&] { prefix_.SetVersion(TempPrefix::Version::WinNt); }},
        {"no version in the registry", [&] { prefix_.SetVersion(TempPrefix::Version::None); }},
        {"Windows 2000 chosen in Wine's settings",
         [&] {
             prefix_.SetVersion(TempPrefix::Version::Win98);
             prefix_.SetUserRegText("[Software\\\\Wine] 1700000000\n\"Version\"=\"win2k\"\n");
         }},
        {"Win32s chosen for the program",
         [&] {
             prefix_.SetUserRegText(
                 "[Software\\\\Wine\\\\AppDefaults\\\\pfmsetup.exe] 1700000000\n\"Version\"=\"win31\"\n");
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        c.make();
        auto before = Snapshot(prefix_.root + "/prefix");
        Run run = RunAnswering(program, {"ok", ""});
        EXPECT_EQ(1, run.exit_code);
        EXPECT_EQ(kPlainQuestion + "ok\n" + kPlainFailure + "\n", run.out);
        EXPECT_EQ("", run.err);
        EXPECT_EQ(before, Snapshot(prefix_.root + "/prefix"));
        EXPECT_EQ(kWinIni, prefix_.ReadWinIni());
    }

    // The control: Windows Me chosen in Wine's settings installs.
    prefix_.SetUserRegText("[Software\\\\Wine] 1700000000\n\"Version\"=\"winme\"\n");
    Run me = RunAnswering(program, {"ok", ""});
    EXPECT_EQ(1, me.exit_code);
    EXPECT_EQ(kPlainQuestion + "ok\n" + kPlainSuccess + "\n", me.out);
    EXPECT_EQ(kInstalledWinIni, prefix_.ReadWinIni());
}

TEST_F(ProgramRun, SecondCopyBringsTheFirstCopysQuestionForward)
{
    auto first = StartBuilt();
    ASSERT_TRUE(first->WaitForPrompts(1)) << first->Output() << first->Errors();
    const std::string question = first->Output();
    EXPECT_EQ(1u, TableEntries());

    // The second copy finds the box by its caption and ends at once. Its
    // input is closed, so a box it showed by mistake would end it too.
    auto second = StartBuilt();
    ASSERT_EQ(0, second->Finish()) << second->Output();
    EXPECT_EQ("", second->Output());
    EXPECT_EQ("", second->Errors());

    // The first copy shows its question again, with a bell, and still
    // takes its answer.
    ASSERT_TRUE(first->WaitForPrompts(2)) << first->Output();
    EXPECT_EQ(question + "\a\n" + question, first->Output());
    EXPECT_EQ(kWinIni, prefix_.ReadWinIni());
    first->Answer("ok");
    ASSERT_TRUE(first->WaitForPrompts(3)) << first->Output();
    first->Answer("");
    EXPECT_EQ(1, first->Finish());
    EXPECT_EQ("", first->Errors());
    std::vector<ShownBox> boxes = ParseBoxes(first->Output());
    ASSERT_EQ(3u, boxes.size()) << first->Output();
    EXPECT_EQ("\a", boxes[0].answer);  // the bell ends the first showing's line
    EXPECT_EQ("ok", boxes[1].answer);
    EXPECT_EQ("[ OK ]  ", boxes[2].buttons);
    EXPECT_EQ("information", boxes[2].icon);
    EXPECT_EQ(kInstalledWinIni, prefix_.ReadWinIni());
    EXPECT_EQ(0u, TableEntries());
}

TEST_F(ProgramRun, SecondCopyComparesCaptionsWithoutLetterCase)
{
    std::string program = CopyProgram(PLAIN_STRINGS_DLL);
    auto first = Start(program);
    ASSERT_TRUE(first->WaitForPrompts(1)) << first->Output() << first->Errors();
    ASSERT_EQ(kPlainQuestion, first->Output());

    // A kit whose names differ only in letter case gives the same caption.
    std::string upper = prefix_.root + "/upper";
    ASSERT_EQ(0, mkdir(upper.c_str(), 0755));
    pfmtest::WriteFile(upper + "/pfmsetup.ini", "[PrinterInfo]\r\noem=MAKER\r\nPSKit=kit\r\n");
    auto second = Start(program, upper);
    ASSERT_EQ(0, second->Finish()) << second->Output();
    EXPECT_EQ("", second->Output());
    ASSERT_TRUE(first->WaitForPrompts(2)) << first->Output();
    EXPECT_EQ(kPlainQuestion + "\a\n" + kPlainQuestion, first->Output());

    // Another kit's caption is another window: that copy asks for itself.
    std::string other = prefix_.root + "/other";
    ASSERT_EQ(0, mkdir(other.c_str(), 0755));
    pfmtest::WriteFile(other + "/pfmsetup.ini", "[PrinterInfo]\r\noem=Maker\r\nPSKit=Other\r\n");
    auto third = Start(program, other);
    ASSERT_TRUE(third->WaitForPrompts(1)) << third->Output();
    third->Answer("cancel");
    EXPECT_EQ(1, third->Finish());
    EXPECT_EQ(Box("Maker - Other setup", "information", {"Install Other?", "Choose OK to go on."}, true) +
                  "cancel\n",
              third->Output());

    first->Answer("cancel");
    EXPECT_EQ(1, first->Finish());
    EXPECT_EQ(kPlainQuestion + "\a\n" + kPlainQuestion + "cancel\n", first->Output());
    EXPECT_EQ(kWinIni, prefix_.ReadWinIni());
}

TEST_F(ProgramRun, LibraryWithoutCaptionGivesAnEmptyCaption)
{
    std::string program = CopyProgram(NO_CAPTION_STRINGS_DLL);
    const std::string question = Box("", "information", {"Install Kit?"}, true);
    auto first = Start(program);
    ASSERT_TRUE(first->WaitForPrompts(1)) << first->Output() << first->Errors();
    EXPECT_EQ(question, first->Output());

    // Its box is a window with an empty title, and a second copy with the
    // same library looks for exactly that: it brings the box forward.
    auto second = Start(program);
    ASSERT_EQ(0, second->Finish()) << second->Output();
    EXPECT_EQ("", second->Output());
    ASSERT_TRUE(first->WaitForPrompts(2)) << first->Output();

    first->Answer("ok");
    ASSERT_TRUE(first->WaitForPrompts(3)) << first->Output();
    first->Answer("");
    EXPECT_EQ(1, first->Finish());
    EXPECT_EQ(question + "\a\n" + question + "ok\n" + Box("", "information", {"Done: Kit."}, false) + "\n",
              first->Output());
    EXPECT_EQ("", first->Errors());
    EXPECT_EQ(kInstalledWinIni, prefix_.ReadWinIni());
}

TEST_F(ProgramRun, HostileTextsAreShownAsWrittenAndCut)
{
    // resources/hostile.rc.in: conversions the program never
    // passes arguments for, and texts longer than their room.
    std::string program = CopyProgram(HOSTILE_STRINGS_DLL);
    const std::string longKit(255, 'K');
    for (const std::string &kit : {std::string("Kit"), longKit}) {
        for (bool installs : {true, false}) {
            SCOPED_TRACE("kit of " + std::to_string(kit.size()) + (installs ? ", installs" : ", fails"));
            prefix_.WriteKit(std::string(kKit).replace(std::string(kKit).find("PSKit=Kit"), 9, "PSKit=" + kit));
            prefix_.SetVersion(installs ? TempPrefix::Version::Win98 : TempPrefix::Version::WinNt);
            prefix_.WriteWinIni(kWinIni);

            std::string caption = ("%d %n %x Maker " + kit + " %s %p %").substr(0, 255);
            std::string question = (kit + "%s%n" + std::string(2040, 'Q')).substr(0, 2047);
            // The success format is cut to 2047 characters where it is loaded.
            std::string success = ("%d %n %x " + kit + " %s %s " + std::string(2029, 'S')).substr(0, 2047);
            std::string failure = (std::string(2040, 'F') + kit + " %").substr(0, 2047);

            Run run = RunAnswering(program, {"ok", ""});
            EXPECT_EQ(1, run.exit_code);
            EXPECT_EQ(Box(caption, "information", {question}, true) + "ok\n" +
                          (installs ? Box(caption, "information", {success}, false)
                                    : Box(caption, "exclamation", {failure}, false)) +
                          "\n",
                      run.out);
            EXPECT_EQ("", run.err);
            EXPECT_EQ(installs ? kInstalledWinIni : kWinIni, prefix_.ReadWinIni());
        }
    }
}

}  // namespace
