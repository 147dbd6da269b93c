// MessageBoxA on the host (message_box.cpp): the answers a box takes and
// what it shows on the terminal.
//
// Each box runs in a child process whose standard input and output are
// pipes held by the test, so the test answers the box and reads what it
// shows. The test waits on the box's output (its "answer: " prompt), never
// on time.
#include "dialogue_fixture.h"

namespace {

using namespace dialogue_fixture;


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

}  // namespace
