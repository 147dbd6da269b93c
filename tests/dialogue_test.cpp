// The dialogue operations on the host: message boxes on the terminal, the
// search for a box that another copy shows, and bringing that box forward.
//
// Each box runs in a child process whose standard input and output are
// pipes held by the test, so the test answers the box and reads what it
// shows. The test waits on the box's output (its "answer: " prompt), never
// on time.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <dirent.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

const UINT kDefButton2 = 0x100u;  // MB_DEFBUTTON2

// A child process that shows boxes. Its exit code is what `body` returns.
class BoxChild {
public:
    BoxChild(std::function<int()> body, const char *locale = "C.UTF-8")
    {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) std::abort();
        pid_ = fork();
        if (pid_ < 0) std::abort();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            // Drop every other descriptor, so that no pipe of another child
            // stays open here and hides its end.
            for (int fd = 3; fd < 1024; ++fd) close(fd);
            setenv("LC_ALL", locale, 1);
            int result = body();
            std::fflush(stdout);
            _exit(result);
        }
        close(in[0]);
        close(out[1]);
        to_child_ = in[1];
        from_child_ = out[0];
    }

    ~BoxChild()
    {
        if (to_child_ >= 0) close(to_child_);
        if (from_child_ >= 0) close(from_child_);
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    pid_t pid() const { return pid_; }
    const std::string &output() const { return output_; }

    void Send(const std::string &text)
    {
        ASSERT_EQ(write(to_child_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }

    void CloseInput()
    {
        close(to_child_);
        to_child_ = -1;
    }

    // Reads the child's output until `marker` has appeared `count` times in
    // all. False when the output ends first; a child that shows nothing for
    // a long while counts as stuck rather than letting the test hang.
    bool WaitFor(const std::string &marker, int count = 1)
    {
        for (;;) {
            int seen = 0;
            for (size_t at = output_.find(marker); at != std::string::npos;
                 at = output_.find(marker, at + marker.size()))
                ++seen;
            if (seen >= count) return true;
            if (!ReadSome(60000)) return false;
        }
    }

    // Closes the child's input, takes the rest of its output and returns
    // its exit code (-1 when it did not exit normally).
    int Finish()
    {
        if (to_child_ >= 0) CloseInput();
        while (ReadSome(60000)) {
        }
        return Collect();
    }

    // Kills the child where it stands and waits until it has ended, but
    // leaves it unreaped, as a zombie, the way a killed copy stays while
    // its shell has not yet collected it.
    void KillLeavingZombie()
    {
        kill(pid_, SIGKILL);
        siginfo_t info;
        while (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
        }
    }

    // Collects a child that has ended.
    void Reap() { Collect(); }

private:
    bool ReadSome(int patience_ms)
    {
        pollfd p = {from_child_, POLLIN, 0};
        int n;
        do {
            n = poll(&p, 1, patience_ms);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) return false;
        char buf[4096];
        ssize_t got = read(from_child_, buf, sizeof buf);
        if (got <= 0) return false;
        output_.append(buf, static_cast<size_t>(got));
        return true;
    }

    int Collect()
    {
        int status = 0;
        waitpid(pid_, &status, 0);
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    pid_t pid_ = -1;
    int to_child_ = -1;
    int from_child_ = -1;
    bool reaped_ = false;
    std::string output_;
};

std::vector<std::string> FilesIn(const std::string &dir)
{
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(d);
    }
    return names;
}

void RemoveTree(const std::string &path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        for (const std::string &name : FilesIn(path)) RemoveTree(path + "/" + name);
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

size_t Count(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

// Every test gets its own runtime folder, so its table of shown boxes
// starts empty and nothing of another test or user is seen.
class DialogueTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        signal(SIGPIPE, SIG_IGN);  // a child that ended early must fail a check, not end the test
        const char *old = getenv("XDG_RUNTIME_DIR");
        had_runtime_ = old != nullptr;
        if (old) old_runtime_ = old;
        char pattern[] = "/tmp/pfm-dialogue-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        runtime_ = pattern;
        setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
        table_ = runtime_ + "/pfmsetup-" + std::to_string(static_cast<unsigned long>(getuid()));
    }

    void TearDown() override
    {
        RemoveTree(runtime_);
        if (had_runtime_) setenv("XDG_RUNTIME_DIR", old_runtime_.c_str(), 1);
        else unsetenv("XDG_RUNTIME_DIR");
    }

    std::string runtime_, table_, old_runtime_;
    bool had_runtime_ = false;
};

// ---------------------------------------------------------------------------
// Answers

TEST_F(DialogueTest, AnswerLinesChooseTheButtonsAndEndOfInputCancels)
{
    struct Case {
        const char *input;
        UINT style;
        int expected;
    };
    const Case cases[] = {
        {"\n", MB_OKCANCEL, IDOK},                   // empty line: the default button
        {"ok\n", MB_OKCANCEL, IDOK},
        {"OK\n", MB_OKCANCEL, IDOK},                 // letter case does not count
        {"cancel\n", MB_OKCANCEL, IDCANCEL},
        {"  Cancel \r\n", MB_OKCANCEL, IDCANCEL},    // blanks and CR LF
        {"", MB_OKCANCEL, IDCANCEL},                 // input ends: the box is closed
        {"", MB_OK, IDCANCEL},                       // closed also without a Cancel button
        {"ok", MB_OKCANCEL, IDOK},                   // a last line without its newline
        {"maybe\nok\n", MB_OKCANCEL, IDOK},          // not an answer: asked again
        {"cancel\n", MB_OK, IDCANCEL},               // no Cancel button: asked again, then closed
        {"\n", MB_OKCANCEL | kDefButton2, IDCANCEL}, // the second button as the default
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("input \"") + c.input + "\", style " + std::to_string(c.style));
        BoxChild child([&] { return MessageBoxA(nullptr, "Install the fonts?", "Kit", c.style); });
        child.Send(c.input);
        EXPECT_EQ(child.Finish(), c.expected) << child.output();
    }
}

TEST_F(DialogueTest, AnythingElseIsRefusedWithTheAcceptedAnswersAndAskedAgain)
{
    BoxChild child([] { return MessageBoxA(nullptr, "Install?", "Kit", MB_OKCANCEL | MB_ICONINFORMATION); });
    child.Send("yes please\nok\n");
    EXPECT_EQ(child.Finish(), IDOK);
    EXPECT_EQ(child.output(),
              "[pfmsetup] Kit\n"
              "(information) Install?\n"
              "[ OK ] [ Cancel ]  answer: yes please\n"
              "answers: ok, cancel; an empty line chooses OK\n"
              "[ OK ] [ Cancel ]  answer: ok\n");
}

TEST_F(DialogueTest, EachBoxTakesOneLineAndLeavesTheRestOfTheInput)
{
    // Both answers are in the pipe before the first box reads: the first
    // box must not take the second box's line with it.
    BoxChild child([] {
        int first = MessageBoxA(nullptr, "First?", "Kit", MB_OKCANCEL);
        int second = MessageBoxA(nullptr, "Second?", "Kit", MB_OKCANCEL);
        return first * 10 + second;
    });
    child.Send("cancel\nok\n");
    EXPECT_EQ(child.Finish(), IDCANCEL * 10 + IDOK) << child.output();
}

// ---------------------------------------------------------------------------
// What the box shows

TEST_F(DialogueTest, BoxShowsCaptionIconTextAndButtonsInTheTerminalCharacterSet)
{
    // Code page 1252: e acute is 0xE9, the euro sign 0x80.
    auto show = [] {
        return MessageBoxA(nullptr, "Price: \x80 5\r\nCaf\xe9 line", "Caf\xe9 Kit",
                           MB_OKCANCEL | MB_ICONINFORMATION);
    };
    {
        BoxChild child(show, "C.UTF-8");
        child.Send("ok\n");
        EXPECT_EQ(child.Finish(), IDOK);
        EXPECT_EQ(child.output(),
                  "[pfmsetup] Caf\xc3\xa9 Kit\n"
                  "(information) Price: \xe2\x82\xac 5\n"
                  "(information) Caf\xc3\xa9 line\n"
                  "[ OK ] [ Cancel ]  answer: ok\n");
    }
    {
        BoxChild child(show, "C");  // ASCII: what it lacks becomes '?'
        child.Send("ok\n");
        EXPECT_EQ(child.Finish(), IDOK);
        EXPECT_EQ(child.output(),
                  "[pfmsetup] Caf? Kit\n"
                  "(information) Price: ? 5\n"
                  "(information) Caf? line\n"
                  "[ OK ] [ Cancel ]  answer: ok\n");
    }
}

TEST_F(DialogueTest, ReportBoxShowsItsIconAndOneButtonAndEndsTheLineWhenClosed)
{
    BoxChild child([] { return MessageBoxA(nullptr, "No printer\tfound.\x1b[2J", "Kit", MB_ICONEXCLAMATION); });
    EXPECT_EQ(child.Finish(), IDCANCEL);
    // Control characters other than tab are not passed to the terminal.
    EXPECT_EQ(child.output(),
              "[pfmsetup] Kit\n"
              "(exclamation) No printer\tfound.?[2J\n"
              "[ OK ]  answer: \n");
}

// ---------------------------------------------------------------------------
// The search for a box that another copy shows

TEST_F(DialogueTest, FindsTheBoxOfAnotherCopyByCaptionWithoutLetterCaseUntilItIsAnswered)
{
    const char *caption = "Caf\xe9 Font Kit";
    BoxChild child([&] { return MessageBoxA(nullptr, "Install?", caption, MB_OKCANCEL | MB_ICONINFORMATION); });
    ASSERT_TRUE(child.WaitFor("answer: ")) << child.output();

    EXPECT_NE(FindWindowA(nullptr, caption), nullptr);
    EXPECT_NE(FindWindowA(nullptr, "CAF\xc9 FONT KIT"), nullptr);  // 1252 letters fold too
    EXPECT_EQ(FindWindowA(nullptr, "Caf\xe9 Font"), nullptr);      // the whole title must match
    EXPECT_EQ(FindWindowA(nullptr, "Cafe Font Kit"), nullptr);
    EXPECT_NE(FindWindowA("#32770", caption), nullptr);            // the class of dialog boxes
    EXPECT_EQ(FindWindowA("Notepad", caption), nullptr);

    child.Send("ok\n");
    EXPECT_EQ(child.Finish(), IDOK);
    EXPECT_EQ(FindWindowA(nullptr, caption), nullptr);
    EXPECT_TRUE(FilesIn(table_).empty()) << "entry left behind: " << FilesIn(table_).front();
}

TEST_F(DialogueTest, EntryOfAKilledCopyIsIgnoredAndRemoved)
{
    BoxChild child([] { return MessageBoxA(nullptr, "Install?", "Killed Kit", MB_OKCANCEL); });
    ASSERT_TRUE(child.WaitFor("answer: "));
    child.KillLeavingZombie();
    ASSERT_FALSE(FilesIn(table_).empty());  // what the killed copy left

    // Ended but not yet collected: its pid still exists.
    EXPECT_EQ(FindWindowA(nullptr, "Killed Kit"), nullptr);
    EXPECT_TRUE(FilesIn(table_).empty());

    // Collected: the pid is gone.
    std::string name = std::to_string(child.pid()) + "-1";
    std::ofstream(table_ + "/" + name + ".box") << child.pid() << " 0\nKilled Kit";
    child.Reap();
    EXPECT_EQ(FindWindowA(nullptr, "Killed Kit"), nullptr);
    EXPECT_TRUE(FilesIn(table_).empty());
}

// The start time of this process from /proc/self/stat (field 22).
unsigned long long OwnStartTime()
{
    std::ifstream in("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22; ++i) fields >> field;
    return std::stoull(field);
}

TEST_F(DialogueTest, EntryWhosePidNowBelongsToAnotherProcessIsIgnored)
{
    // Entries written as a copy writes them, for a pid that is alive (this
    // process): with its true start time the entry counts, with another it
    // stands for an earlier process that had the same pid.
    ASSERT_EQ(mkdir(table_.c_str(), 0700), 0);
    unsigned long long start = OwnStartTime();
    std::ofstream(table_ + "/" + std::to_string(getpid()) + "-1.box")
        << getpid() << " " << start << "\nLive Kit";
    std::ofstream(table_ + "/" + std::to_string(getpid()) + "-2.box")
        << getpid() << " " << start + 1 << "\nReused Kit";

    EXPECT_NE(FindWindowA(nullptr, "live kit"), nullptr);
    EXPECT_EQ(FindWindowA(nullptr, "reused kit"), nullptr);
}

TEST_F(DialogueTest, TableInAFolderOthersCanEnterIsNotUsed)
{
    ASSERT_EQ(mkdir(table_.c_str(), 0777), 0);
    ASSERT_EQ(chmod(table_.c_str(), 0777), 0);
    BoxChild child([] { return MessageBoxA(nullptr, "Install?", "Open Kit", MB_OKCANCEL); });
    ASSERT_TRUE(child.WaitFor("answer: "));
    EXPECT_TRUE(FilesIn(table_).empty());
    EXPECT_EQ(FindWindowA(nullptr, "Open Kit"), nullptr);
    child.Send("cancel\n");
    EXPECT_EQ(child.Finish(), IDCANCEL);  // the box itself still works
}

// ---------------------------------------------------------------------------
// Bringing the box forward

TEST_F(DialogueTest, RaisedBoxIsShownAgainWithABellAndStillTakesItsAnswer)
{
    BoxChild child([] { return MessageBoxA(nullptr, "Install?", "Raise Kit", MB_OKCANCEL | MB_ICONINFORMATION); });
    ASSERT_TRUE(child.WaitFor("answer: "));
    child.Send("can");  // half an answer, typed before the box is raised

    HWND box = FindWindowA(nullptr, "RAISE KIT");
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(BringWindowToTop(box));
    EXPECT_TRUE(ShowWindow(box, SW_SHOWNORMAL));
    EXPECT_TRUE(SetForegroundWindow(box));
    ASSERT_TRUE(child.WaitFor("answer: ", 2)) << child.output();

    child.Send("cel\n");
    EXPECT_EQ(child.Finish(), IDCANCEL);
    const std::string shown =
        "[pfmsetup] Raise Kit\n"
        "(information) Install?\n"
        "[ OK ] [ Cancel ]  answer: ";
    // The three operations in a row ring once.
    EXPECT_EQ(child.output(), shown + "\a\n" + shown + "cancel\n");

    // Once the box is answered there is nothing to bring forward.
    EXPECT_FALSE(BringWindowToTop(box));
    EXPECT_FALSE(SetForegroundWindow(nullptr));
}

TEST_F(DialogueTest, EveryNewSearchBringsTheBoxForwardAgain)
{
    BoxChild child([] { return MessageBoxA(nullptr, "Done.", "Again Kit", MB_OK); });
    ASSERT_TRUE(child.WaitFor("answer: "));
    for (int round = 2; round <= 3; ++round) {
        HWND box = FindWindowA(nullptr, "Again Kit");
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(SetForegroundWindow(box));
        ASSERT_TRUE(child.WaitFor("answer: ", round)) << child.output();
    }
    child.Send("\n");
    EXPECT_EQ(child.Finish(), IDOK);
    EXPECT_EQ(Count(child.output(), "\a"), 2u);
}

}  // namespace
