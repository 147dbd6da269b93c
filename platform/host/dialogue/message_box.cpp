// MessageBoxA on the terminal; message_box.h describes what the user sees.
#include "platform/host/dialogue/message_box.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/installation/installation.h"
#include "platform/host/installation/out_of_memory.h"
#include "platform/host/dialogue/terminal_dialog.h"
#include "platform/host/dialogue/terminal_text.h"
#include "platform/host/dialogue/window_table.h"

namespace {

// Button results and the style fields, as <windows.h> has them.
const int kIdOk = 1, kIdCancel = 2, kIdAbort = 3, kIdRetry = 4, kIdIgnore = 5, kIdYes = 6, kIdNo = 7;
const UINT kTypeMask = 0x0Fu, kIconMask = 0xF0u, kDefaultMask = 0xF00u;

struct Button {
    const char *label;  // as shown
    const char *word;   // as answered
    int id;
};

const Button kOk = {"OK", "ok", kIdOk};
const Button kCancel = {"Cancel", "cancel", kIdCancel};
const Button kAbort = {"Abort", "abort", kIdAbort};
const Button kRetry = {"Retry", "retry", kIdRetry};
const Button kIgnore = {"Ignore", "ignore", kIdIgnore};
const Button kYes = {"Yes", "yes", kIdYes};
const Button kNo = {"No", "no", kIdNo};

// The buttons of each style, in the order of the style's number: a fixed
// table, read in place.
struct ButtonRow {
    Button button[3];
    size_t count;
};

const ButtonRow kButtonRows[] = {
    {{kOk}, 1},                      // MB_OK
    {{kOk, kCancel}, 2},             // MB_OKCANCEL
    {{kAbort, kRetry, kIgnore}, 3},  // MB_ABORTRETRYIGNORE
    {{kYes, kNo, kCancel}, 3},       // MB_YESNOCANCEL
    {{kYes, kNo}, 2},                // MB_YESNO
    {{kRetry, kCancel}, 2},          // MB_RETRYCANCEL
};

// The buttons of a style, nullptr for a style outside the table.
const ButtonRow *ButtonsOf(UINT style)
{
    UINT type = style & kTypeMask;
    return type < sizeof kButtonRows / sizeof kButtonRows[0] ? &kButtonRows[type] : nullptr;
}

const char *IconWord(UINT style)
{
    switch (style & kIconMask) {
    case 0x10: return "error";        // MB_ICONHAND, MB_ICONSTOP, MB_ICONERROR
    case 0x20: return "question";     // MB_ICONQUESTION
    case 0x30: return "exclamation";  // MB_ICONEXCLAMATION, MB_ICONWARNING
    case 0x40: return "information";  // MB_ICONASTERISK, MB_ICONINFORMATION
    default: return "none";
    }
}

// The icon as the dialog box on the terminal shows it.
const char *IconSign(UINT style)
{
    switch (style & kIconMask) {
    case 0x10: return "(x)";
    case 0x20: return "(?)";
    case 0x30: return "(!)";
    case 0x40: return "(i)";
    default: return "";
    }
}

std::vector<std::string_view> SplitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    size_t begin = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.push_back(text.substr(begin, i - begin));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            begin = i + 1;
        }
    }
    lines.push_back(text.substr(begin));
    return lines;
}

void Write(const std::string &s)
{
    std::fwrite(s.data(), 1, s.size(), stdout);
    std::fflush(stdout);
}

struct Box {
    std::string caption_line;
    std::string text_lines;
    std::string buttons_line;  // ends with "answer: ", no newline
    std::string hint_line;
    const ButtonRow *buttons = nullptr;
    size_t default_button = 0;
};

// Prints the box's caption, text and buttons, and asks for the answer.
void PrintBoxLines(const Box &box)
{
    Write(box.caption_line + box.text_lines + box.buttons_line);
}

// An answer line with its blanks cut and letters in lower case.
std::string NormalAnswer(const std::string &line)
{
    size_t begin = 0, end = line.size();
    while (begin < end && (line[begin] == ' ' || line[begin] == '\t' || line[begin] == '\r')) ++begin;
    while (end > begin && (line[end - 1] == ' ' || line[end - 1] == '\t' || line[end - 1] == '\r')) --end;
    std::string out;
    for (size_t i = begin; i < end; ++i) {
        char c = line[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        out += c;
    }
    return out;
}

std::string EchoOf(const std::string &line)
{
    std::string out;
    for (unsigned char c : line) {
        if (c == '\r') continue;
        out += (c >= 0x20 && c < 0x7F) || c == '\t' ? static_cast<char>(c) : '?';
    }
    return out;
}

enum class Event { Line, End, Raise };

// Standard input, read a byte at a time so that nothing past an answer's
// line is taken from the descriptor (a later box, or whoever reads after
// the program, finds the rest where it was).
struct InputReader {
    std::string partial;
    bool ended = false;

    // Waits for a whole line on descriptor 0 or a request on `raise_fd`.
    Event Next(int raise_fd, std::string *line)
    {
        for (;;) {
            if (ended) return Event::End;
            pollfd fds[2] = {{0, POLLIN, 0}, {raise_fd, POLLIN, 0}};
            int n = poll(fds, raise_fd >= 0 ? 2 : 1, -1);
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                ended = true;
                continue;
            }
            if (raise_fd >= 0 && (fds[1].revents & POLLIN)) {
                char drain[64];
                while (read(raise_fd, drain, sizeof drain) > 0) {
                }
                return Event::Raise;
            }
            if (fds[0].revents == 0) continue;
            char c;
            ssize_t got = read(0, &c, 1);
            if (got < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                got = 0;  // a descriptor that cannot be read ends the input
            }
            if (got == 0) {
                ended = true;
                if (partial.empty()) return Event::End;
                *line = partial;  // a last line without its newline still counts
                partial.clear();
                return Event::Line;
            }
            if (c == '\n') {
                *line = partial;
                partial.clear();
                return Event::Line;
            }
            partial += c;
        }
    }
};

// The box as lines on standard output, answered by lines on standard input.
int AskByLines(const Box &box, int raise_fd)
{
    PrintBoxLines(box);
    bool echo = !isatty(0);
    InputReader input;
    for (;;) {
        std::string line;
        Event event = input.Next(raise_fd, &line);
        if (event == Event::Raise) {
            Write("\a\n");
            PrintBoxLines(box);
            continue;
        }
        if (event == Event::End) {
            Write("\n");
            return kIdCancel;
        }
        if (echo) Write(EchoOf(line) + "\n");
        std::string answer = NormalAnswer(line);
        if (answer.empty()) return box.buttons->button[box.default_button].id;
        for (size_t i = 0; i < box.buttons->count; ++i)
            if (answer == box.buttons->button[i].word) return box.buttons->button[i].id;
        Write(box.hint_line + box.buttons_line);
    }
}

}  // namespace

namespace {

// The box entered in the table of shown boxes while it waits: a dialog box
// on a terminal, else lines. The answer is the chosen button's id.
int ShowAndAsk(LPCSTR text, LPCSTR caption, UINT style)
{
    Box box;
    box.buttons = ButtonsOf(style);
    if (!box.buttons) return 0;
    const Button *buttons = box.buttons->button;
    size_t count = box.buttons->count;
    size_t def = (style & kDefaultMask) >> 8;
    box.default_button = def < count ? def : 0;

    // The texts are in the installation's code page.
    const host::CodePage &code_page = host::AnsiCodePage();
    const char *shown_caption = caption ? caption : "Error";
    std::vector<std::string_view> text_lines = SplitLines(text ? text : "");
    host::ShownBox shown;
    host::EnterShownBox(shown_caption, &shown);

    // A person at a terminal gets a dialog box; scripts, pipes and files
    // get the lines, unchanged.
    if (isatty(0) && isatty(1)) {
        host::TerminalDialog dialog;
        dialog.title = host::TerminalText(shown_caption, code_page);
        for (std::string_view line : text_lines) dialog.lines.push_back(host::TerminalText(line, code_page));
        dialog.sign = IconSign(style);
        for (size_t i = 0; i < count; ++i) dialog.buttons.push_back({buttons[i].label, buttons[i].id});
        dialog.focus = box.default_button;
        dialog.closed_id = kIdCancel;
        host::DialogOutcome outcome = host::RunTerminalDialog(dialog, shown.raise_fd);
        if (outcome.shown) {
            host::RemoveShownBox(&shown);
            if (outcome.signal) raise(outcome.signal);  // as it would have ended the program
            return outcome.id;
        }
    }

    box.caption_line = "[pfmsetup] " + host::TerminalText(shown_caption, code_page) + "\n";
    std::string prefix = std::string("(") + IconWord(style) + ") ";
    for (std::string_view line : text_lines) box.text_lines += prefix + host::TerminalText(line, code_page) + "\n";
    box.hint_line = "answers: ";
    for (size_t i = 0; i < count; ++i) {
        if (i) box.buttons_line += " ";
        box.buttons_line += std::string("[ ") + buttons[i].label + " ]";
        box.hint_line += std::string(i ? ", " : "") + buttons[i].word;
    }
    box.buttons_line += "  answer: ";
    box.hint_line += std::string("; an empty line chooses ") + buttons[box.default_button].label + "\n";

    int result = AskByLines(box, shown.raise_fd);
    host::RemoveShownBox(&shown);
    return result;
}

}  // namespace

host::PreviewBoxes &host::BoxesOfPreview()
{
    static PreviewBoxes boxes;
    return boxes;
}

// A box that cannot be shown for want of memory fails to appear: 0, as
// the platform's own box answers then.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style)
{
    (void)owner;  // boxes on the terminal have no owner window to block
    host::PreviewBoxes &preview = host::BoxesOfPreview();
    if (preview.on) {
        if ((style & 0xFu) == MB_OKCANCEL) {
            preview.asked = true;
        } else {
            preview.reported = true;
            preview.style = style;
        }
        return IDOK;
    }
    return host::AnswerOnOutOfMemory(0, [&] { return ShowAndAsk(text, caption, style); });
}
