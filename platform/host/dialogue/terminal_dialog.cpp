// The message box as a dialog box on the terminal; terminal_dialog.h
// describes what the user sees.
#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include "platform/host/dialogue/terminal_dialog.h"

#include <curses.h>
#include <errno.h>
#include <fcntl.h>
#include <locale.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <wchar.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace host {
namespace {

// Key codes ncurses gives for the plain keys the box reads.
const int kKeyTab = '\t', kKeyEscape = 27, kKeyReturn = '\r', kKeyNewline = '\n';

// Colour pairs, where the terminal has colours.
const short kPairScreen = 1, kPairBox = 2, kPairFocus = 3, kPairSign = 4;

// --- Signals ---------------------------------------------------------------
//
// The handlers only write the signal's number to a pipe that the box's
// poll() loop reads; all the work (endwin, redrawing) happens in the loop.

int g_signal_pipe[2] = {-1, -1};
const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

void NoteSignal(int sig)
{
    int saved = errno;
    unsigned char byte = static_cast<unsigned char>(sig);
    ssize_t ignored = write(g_signal_pipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

// The pipe, open while the guard lives; its read end is never waited on.
class SignalPipe {
public:
    SignalPipe() : open_(pipe(g_signal_pipe) == 0)
    {
        if (!open_) return;
        for (int fd : g_signal_pipe) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        for (int fd : g_signal_pipe) fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    ~SignalPipe()
    {
        if (open_)
            for (int &fd : g_signal_pipe) close(fd), fd = -1;
    }
    SignalPipe(const SignalPipe &) = delete;
    SignalPipe &operator=(const SignalPipe &) = delete;
    bool IsOpen() const { return open_; }

private:
    bool open_;
};

// The ending signals and SIGWINCH noted in the pipe while the guard lives;
// the handlers the program had before are back when it goes.
class CaughtSignals {
public:
    CaughtSignals()
    {
        struct sigaction note;
        std::memset(&note, 0, sizeof note);
        note.sa_handler = NoteSignal;
        sigemptyset(&note.sa_mask);
        for (int i = 0; i < 3; ++i) {
            sigaction(kEndingSignals[i], nullptr, &ending_[i]);
            // A signal the program was told to ignore (nohup) stays ignored.
            if (ending_[i].sa_handler == SIG_IGN) continue;
            sigaction(kEndingSignals[i], &note, nullptr);
            caught_[i] = true;
        }
        sigaction(SIGWINCH, &note, &winch_);
    }
    ~CaughtSignals()
    {
        for (int i = 0; i < 3; ++i)
            if (caught_[i]) sigaction(kEndingSignals[i], &ending_[i], nullptr);
        sigaction(SIGWINCH, &winch_, nullptr);
    }
    CaughtSignals(const CaughtSignals &) = delete;
    CaughtSignals &operator=(const CaughtSignals &) = delete;

private:
    struct sigaction ending_[3];
    struct sigaction winch_;
    bool caught_[3] = {false, false, false};
};

// The texts are in the terminal's character set: wide characters and their
// widths are those of the environment's locale while the guard lives, the
// program's own again when it goes.
class EnvironmentLocale {
public:
    EnvironmentLocale()
    {
        const char *current = setlocale(LC_CTYPE, nullptr);
        saved_ = current ? current : "C";
        setlocale(LC_CTYPE, "");
    }
    ~EnvironmentLocale() { setlocale(LC_CTYPE, saved_.c_str()); }
    EnvironmentLocale(const EnvironmentLocale &) = delete;
    EnvironmentLocale &operator=(const EnvironmentLocale &) = delete;

private:
    std::string saved_;
};

// --- The screen ------------------------------------------------------------

SCREEN *g_screen = nullptr;  // the box's screen while one shows

void EndScreen()
{
    if (!g_screen) return;
    endwin();
    delscreen(g_screen);
    g_screen = nullptr;
}

// A process that ends while a box shows (exit from elsewhere) still gets
// its terminal back.
void EndScreenAtExit()
{
    if (g_screen) endwin();
}

bool StartScreen()
{
    static bool exit_hook = false;
    if (!exit_hook) {
        std::atexit(EndScreenAtExit);
        exit_hook = true;
    }
    std::fflush(stdout);
    SCREEN *screen = newterm(nullptr, stdout, stdin);
    if (!screen) return false;
    set_term(screen);
    // A terminal that cannot place the cursor cannot show a box.
    const char *cup = tigetstr(const_cast<char *>("cup"));
    if (!cup || cup == reinterpret_cast<const char *>(-1)) {
        endwin();
        delscreen(screen);
        return false;
    }
    g_screen = screen;
    cbreak();  // keys one by one, Ctrl+C still a SIGINT
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    set_escdelay(25);
    curs_set(0);
    if (has_colors()) {
        start_color();
        init_pair(kPairScreen, COLOR_WHITE, COLOR_BLUE);
        init_pair(kPairBox, COLOR_BLACK, COLOR_WHITE);
        init_pair(kPairFocus, COLOR_WHITE, COLOR_RED);
        init_pair(kPairSign, COLOR_BLUE, COLOR_WHITE);
    }
    return true;
}

// The box's screen, ended when the guard goes (if it started).
class BoxScreen {
public:
    BoxScreen() : started_(StartScreen()) {}
    ~BoxScreen() { EndScreen(); }
    BoxScreen(const BoxScreen &) = delete;
    BoxScreen &operator=(const BoxScreen &) = delete;
    bool Started() const { return started_; }

private:
    bool started_;
};

// --- Text ------------------------------------------------------------------

// Text of the terminal's character set as wide characters of the current
// locale; a byte that does not decode becomes '?'.
std::wstring Wide(const std::string &text)
{
    std::wstring out;
    mbstate_t state;
    std::memset(&state, 0, sizeof state);
    const char *p = text.data();
    size_t left = text.size();
    while (left > 0) {
        wchar_t wc = 0;
        size_t n = mbrtowc(&wc, p, left, &state);
        if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
            out += L'?';
            std::memset(&state, 0, sizeof state);
            n = 1;
        } else if (n == 0) {
            n = 1;
        }
        if (n != 1 || wc != 0) out += (wc == L'\t') ? L' ' : wc;
        p += n;
        left -= n;
    }
    return out;
}

int Columns(wchar_t wc)
{
    int w = wcwidth(wc);
    return w < 0 ? 1 : w;
}

int Columns(const std::wstring &text)
{
    int total = 0;
    for (wchar_t wc : text) total += Columns(wc);
    return total;
}

// Draws `text` at row y from column x, clipped to the screen and to `limit`
// columns.
void Put(int y, int x, const std::wstring &text, int limit = 1 << 20)
{
    if (y < 0 || y >= LINES) return;
    int col = x;
    for (wchar_t wc : text) {
        int w = Columns(wc);
        if (col + w > x + limit || col + w > COLS) break;
        if (col >= 0) {
            wchar_t one[2] = {wc, 0};
            mvaddnwstr(y, col, one, 1);
        }
        col += w;
    }
}

// --- Layout and drawing ----------------------------------------------------

struct Layout {
    std::wstring title, sign;
    std::vector<std::wstring> lines;    // not wrapped
    std::vector<std::wstring> labels;   // "< OK >" as unfocused
};

const int kPadding = 1;  // blank columns inside the frame, each side

std::vector<std::wstring> WrapLines(const std::vector<std::wstring> &lines, int width);

int ButtonsWidth(const Layout &layout)
{
    int width = 0;
    for (size_t i = 0; i < layout.labels.size(); ++i) width += (i ? 3 : 0) + Columns(layout.labels[i]);
    return width;
}

void Draw(const Layout &layout, size_t focus)
{
    bool colours = has_colors();
    bkgd(colours ? COLOR_PAIR(kPairScreen) : A_NORMAL);
    erase();

    // The widest box the terminal gives: one column free at each edge.
    int max_inner = std::max(1, COLS - 2 - 2 - 2 * kPadding);
    int sign_width = layout.sign.empty() ? 0 : Columns(layout.sign) + 2;
    int text_width = std::max(1, max_inner - sign_width);
    std::vector<std::wstring> wrapped = WrapLines(layout.lines, text_width);
    int widest = 0;
    for (const std::wstring &line : wrapped) widest = std::max(widest, Columns(line));
    int inner = std::max({sign_width + widest, ButtonsWidth(layout), Columns(layout.title) + 4});
    inner = std::min(inner, max_inner);

    // Frame, blank, text, blank, buttons, frame; text rows that do not fit
    // the terminal's height are left out from the end.
    int text_rows = static_cast<int>(wrapped.size());
    int room = std::max(0, LINES - 6);
    if (text_rows > room) text_rows = room;
    int height = text_rows + 5;
    int width = inner + 2 + 2 * kPadding;
    int top = std::max(0, (LINES - height) / 2);
    int left = std::max(0, (COLS - width) / 2);

    attrset(colours ? COLOR_PAIR(kPairBox) : A_NORMAL);
    for (int y = top; y < top + height && y < LINES; ++y) {
        for (int x = left; x < left + width && x < COLS; ++x) mvaddch(y, x, ' ');
    }
    int bottom = std::min(top + height - 1, LINES - 1);
    int right = std::min(left + width - 1, COLS - 1);
    mvhline(top, left + 1, ACS_HLINE, right - left - 1);
    mvhline(bottom, left + 1, ACS_HLINE, right - left - 1);
    mvvline(top + 1, left, ACS_VLINE, bottom - top - 1);
    mvvline(top + 1, right, ACS_VLINE, bottom - top - 1);
    mvaddch(top, left, ACS_ULCORNER);
    mvaddch(top, right, ACS_URCORNER);
    mvaddch(bottom, left, ACS_LLCORNER);
    mvaddch(bottom, right, ACS_LRCORNER);

    // The caption, centred in the top line.
    std::wstring title = L" " + layout.title + L" ";
    int title_width = std::min(Columns(title), width - 2);
    attron(A_BOLD);
    Put(top, left + (width - title_width) / 2, title, title_width);
    attroff(A_BOLD);

    int text_left = left + 1 + kPadding;
    if (!layout.sign.empty()) {
        attron(A_BOLD | (colours ? COLOR_PAIR(kPairSign) : 0));
        Put(top + 2, text_left, layout.sign);
        attrset(colours ? COLOR_PAIR(kPairBox) : A_NORMAL);
    }
    for (int i = 0; i < text_rows; ++i) Put(top + 2 + i, text_left + sign_width, wrapped[i], inner - sign_width);

    // The buttons, centred in a row; the focused one in brackets.
    int x = left + (width - ButtonsWidth(layout)) / 2;
    int row = top + height - 2;
    for (size_t i = 0; i < layout.labels.size(); ++i) {
        std::wstring label = layout.labels[i];
        if (i == focus) {
            label.front() = L'[';
            label.back() = L']';
            attron(A_REVERSE | A_BOLD);
            if (colours) attrset(COLOR_PAIR(kPairFocus) | A_BOLD);
        }
        Put(row, x, label);
        attrset(colours ? COLOR_PAIR(kPairBox) : A_NORMAL);
        x += Columns(label) + 3;
    }
    attrset(A_NORMAL);
    refresh();
}

// The terminal's size as the kernel now has it, given to ncurses.
void TakeNewSize()
{
    struct winsize ws;
    if (ioctl(1, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0) resizeterm(ws.ws_row, ws.ws_col);
}

// The text's lines wrapped at word boundaries to `width` columns, as the
// box draws them: blanks at a break are dropped, a line's leading blanks
// are kept, a word longer than the width is cut, an empty line stays.
// Columns are counted as the terminal counts them (wcwidth) in the current
// locale.
std::vector<std::wstring> WrapLines(const std::vector<std::wstring> &lines, int width)
{
    if (width < 1) width = 1;
    std::vector<std::wstring> out;
    for (const std::wstring &line : lines) {
        std::wstring current;
        int current_width = 0;
        bool first = true;  // the line's first word: its leading blanks stay
        size_t i = 0;
        if (line.empty()) out.emplace_back();
        while (i < line.size()) {
            size_t gap_end = i;
            while (gap_end < line.size() && line[gap_end] == L' ') ++gap_end;
            size_t word_end = gap_end;
            while (word_end < line.size() && line[word_end] != L' ') ++word_end;
            std::wstring gap = line.substr(i, gap_end - i), word = line.substr(gap_end, word_end - gap_end);
            i = word_end;
            if (word.empty()) break;  // trailing blanks
            int gap_width = Columns(gap), word_width = Columns(word);
            if ((first || !current.empty()) && current_width + gap_width + word_width <= width) {
                current += gap + word;
                current_width += gap_width + word_width;
                first = false;
                continue;
            }
            first = false;
            if (!current.empty()) out.push_back(current);
            current.clear();
            current_width = 0;
            // A word wider than the box is cut into pieces that fit.
            for (wchar_t wc : word) {
                int w = Columns(wc);
                if (current_width + w > width && !current.empty()) {
                    out.push_back(current);
                    current.clear();
                    current_width = 0;
                }
                current += wc;
                current_width += w;
            }
        }
        if (!current.empty()) out.push_back(current);
    }
    return out;
}

}  // namespace

DialogOutcome RunTerminalDialog(const TerminalDialog &dialog, int raise_fd)
{
    DialogOutcome outcome;
    if (dialog.buttons.empty()) return outcome;
    // Made in this order and undone in the reverse one, however the box ends.
    SignalPipe signal_pipe;
    if (!signal_pipe.IsOpen()) return outcome;
    EnvironmentLocale locale;
    CaughtSignals signals;
    BoxScreen screen;
    if (!screen.Started()) return outcome;
    outcome.shown = true;

    Layout layout;
    layout.title = Wide(dialog.title);
    layout.sign = Wide(dialog.sign);
    for (const std::string &line : dialog.lines) layout.lines.push_back(Wide(line));
    for (const DialogButton &b : dialog.buttons) layout.labels.push_back(L"< " + Wide(b.label) + L" >");
    size_t focus = dialog.focus < dialog.buttons.size() ? dialog.focus : 0;
    size_t count = dialog.buttons.size();

    Draw(layout, focus);
    bool done = false;
    int quiet_reads = 0;  // readable without a key: the terminal is gone
    while (!done) {
        pollfd fds[3] = {{0, POLLIN, 0}, {g_signal_pipe[0], POLLIN, 0}, {raise_fd, POLLIN, 0}};
        int n = poll(fds, raise_fd >= 0 ? 3 : 2, -1);
        if (n < 0) continue;  // EINTR: the signal is in the pipe
        if (fds[1].revents & POLLIN) {
            unsigned char sig;
            bool resized = false;
            while (read(g_signal_pipe[0], &sig, 1) == 1) {
                if (sig == SIGWINCH) resized = true;
                else if (!outcome.signal) outcome.signal = sig;
            }
            if (outcome.signal) {
                outcome.id = dialog.closed_id;
                break;
            }
            if (resized) {
                TakeNewSize();
                Draw(layout, focus);
            }
        }
        if (raise_fd >= 0 && (fds[2].revents & POLLIN)) {
            char drain[64];
            while (read(raise_fd, drain, sizeof drain) > 0) {
            }
            beep();
            clearok(curscr, TRUE);  // the whole screen, not only what changed
            Draw(layout, focus);
        }
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            outcome.id = dialog.closed_id;
            break;
        }
        if (!(fds[0].revents & POLLIN)) continue;
        int key = getch();
        if (key == ERR) {
            if (++quiet_reads >= 100) {
                outcome.id = dialog.closed_id;
                break;
            }
            continue;
        }
        quiet_reads = 0;
        for (; key != ERR && !done; key = getch()) {
            switch (key) {
            case kKeyReturn:
            case kKeyNewline:
            case KEY_ENTER:
                outcome.id = dialog.buttons[focus].id;
                done = true;
                break;
            case kKeyEscape:
                outcome.id = dialog.closed_id;
                done = true;
                break;
            case kKeyTab:
            case KEY_RIGHT:
            case KEY_DOWN:
                focus = (focus + 1) % count;
                Draw(layout, focus);
                break;
            case KEY_BTAB:
            case KEY_LEFT:
            case KEY_UP:
                focus = (focus + count - 1) % count;
                Draw(layout, focus);
                break;
            case KEY_RESIZE:
                Draw(layout, focus);
                break;
            default:
                break;
            }
        }
    }
    return outcome;
}

}  // namespace host
