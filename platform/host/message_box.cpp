// MessageBoxA on the terminal; message_box.h describes what the user sees.
#include "message_box.h"

#include <errno.h>
#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "ansi_code_page.h"
#include "codepage.h"
#include "window_table.h"

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

bool ButtonsOf(UINT style, std::vector<Button> *buttons)
{
    switch (style & kTypeMask) {
    case 0: *buttons = {kOk}; return true;                       // MB_OK
    case 1: *buttons = {kOk, kCancel}; return true;              // MB_OKCANCEL
    case 2: *buttons = {kAbort, kRetry, kIgnore}; return true;   // MB_ABORTRETRYIGNORE
    case 3: *buttons = {kYes, kNo, kCancel}; return true;        // MB_YESNOCANCEL
    case 4: *buttons = {kYes, kNo}; return true;                 // MB_YESNO
    case 5: *buttons = {kRetry, kCancel}; return true;           // MB_RETRYCANCEL
    default: return false;
    }
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

enum class Charset { Utf8, Latin1, Ascii };

// The character set of the terminal: the codeset of the LC_CTYPE locale that
// the environment names. The process's own locale is left as it was.
Charset TerminalCharset()
{
    const char *current = setlocale(LC_CTYPE, nullptr);
    std::string saved = current ? current : "C";
    Charset result = Charset::Ascii;
    if (setlocale(LC_CTYPE, "")) {
        std::string codeset;
        for (const char *p = nl_langinfo(CODESET); p && *p; ++p) {
            char c = *p;
            if (c == '-' || c == '_') continue;
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
            codeset += c;
        }
        if (codeset == "UTF8") result = Charset::Utf8;
        else if (codeset == "ISO88591") result = Charset::Latin1;
    }
    setlocale(LC_CTYPE, saved.c_str());
    return result;
}

// One line of text in the installation's code page, in the terminal's
// character set.
std::string TerminalLine(std::string_view ansi, Charset charset)
{
    const host::CodePage &code_page = host::AnsiCodePage();
    std::string out;
    for (std::size_t i = 0; i < ansi.size();) {
        char32_t cp = code_page.NextUnit(ansi, i);
        bool control = (cp < 0x20 && cp != '\t') || (cp >= 0x7F && cp < 0xA0);
        if (control) {
            out += '?';
        } else if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (charset == Charset::Utf8) {
            host::AppendUtf8(out, cp);
        } else if (charset == Charset::Latin1 && cp <= 0xFF) {
            out += static_cast<char>(cp);
        } else {
            out += '?';
        }
    }
    return out;
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
    std::vector<Button> buttons;
    size_t default_button = 0;
};

void ShowBox(const Box &box)
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

}  // namespace

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style)
{
    (void)owner;  // boxes on the terminal have no owner window to block
    Box box;
    if (!ButtonsOf(style, &box.buttons)) return 0;
    size_t def = (style & kDefaultMask) >> 8;
    box.default_button = def < box.buttons.size() ? def : 0;

    const char *shown_caption = caption ? caption : "Error";
    Charset charset = TerminalCharset();
    box.caption_line = "[pfmsetup] " + TerminalLine(shown_caption, charset) + "\n";
    std::string prefix = std::string("(") + IconWord(style) + ") ";
    for (std::string_view line : SplitLines(text ? text : ""))
        box.text_lines += prefix + TerminalLine(line, charset) + "\n";
    box.hint_line = "answers: ";
    for (size_t i = 0; i < box.buttons.size(); ++i) {
        if (i) box.buttons_line += " ";
        box.buttons_line += std::string("[ ") + box.buttons[i].label + " ]";
        box.hint_line += std::string(i ? ", " : "") + box.buttons[i].word;
    }
    box.buttons_line += "  answer: ";
    box.hint_line += std::string("; an empty line chooses ") + box.buttons[box.default_button].label + "\n";

    host::ShownBox shown;
    host::EnterShownBox(shown_caption, &shown);
    ShowBox(box);

    bool echo = !isatty(0);
    InputReader input;
    int result = kIdCancel;
    for (;;) {
        std::string line;
        Event event = input.Next(shown.raise_fd, &line);
        if (event == Event::Raise) {
            Write("\a\n");
            ShowBox(box);
            continue;
        }
        if (event == Event::End) {
            Write("\n");
            result = kIdCancel;
            break;
        }
        if (echo) Write(EchoOf(line) + "\n");
        std::string answer = NormalAnswer(line);
        int chosen = 0;
        if (answer.empty()) {
            chosen = box.buttons[box.default_button].id;
        } else {
            for (const Button &b : box.buttons)
                if (answer == b.word) chosen = b.id;
        }
        if (chosen != 0) {
            result = chosen;
            break;
        }
        Write(box.hint_line + box.buttons_line);
    }
    host::RemoveShownBox(&shown);
    return result;
}
