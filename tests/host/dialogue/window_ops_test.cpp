// The search for a box that another copy shows (window_ops.cpp over
// window_table.cpp) and bringing that box forward.
//
// Each box runs in a child process whose standard input and output are
// pipes held by the test, so the test answers the box and reads what it
// shows. The test waits on the box's output (its "answer: " prompt), never
// on time.
#include "dialogue_fixture.h"
#include "platform/host/installation/installation.h"

namespace {

using namespace dialogue_fixture;


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

// Titles compare as Unicode texts of the installation's code page: in 1251
// \xA8 and \xB8 are one letter (Ё, ё), in 1252 two signs; in 932 full-width
// letters fold (\x82\x60 Ａ, \x82\x81 ａ) but the second byte of a
// character never does (\x83\x41 ア, \x83\x61 ャ).
TEST_F(DialogueTest, FindsTitlesByTheLetterCaseOfTheInstallationsCodePage)
{
    BoxChild cyrillic([] { return MessageBoxA(nullptr, "Install?", "\xA8 Kit", MB_OK); });
    ASSERT_TRUE(cyrillic.WaitFor("answer: ")) << cyrillic.output();
    BoxChild japanese([] { return MessageBoxA(nullptr, "Install?", "\x82\x60\x83\x41 Kit", MB_OK); });
    ASSERT_TRUE(japanese.WaitFor("answer: ")) << japanese.output();
    const struct {
        unsigned code_page;
        const char *title;
        bool found;
    } cases[] = {
        {1251, "\xB8 KIT", true}, {1252, "\xB8 KIT", false},
        {932, "\x82\x81\x83\x41 KIT", true}, {932, "\x82\x60\x83\x61 Kit", false},
        {1252, "\x82\x60\x83\x61 Kit", true},
    };
    for (const auto &c : cases) {
        host::SetAnsiCodePage(c.code_page);
        EXPECT_EQ(FindWindowA(nullptr, c.title) != nullptr, c.found) << c.code_page << " " << c.title;
    }
    host::SetAnsiCodePage(1252);
    cyrillic.Send("\n");
    japanese.Send("\n");
    EXPECT_EQ(cyrillic.Finish(), IDOK);
    EXPECT_EQ(japanese.Finish(), IDOK);
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
