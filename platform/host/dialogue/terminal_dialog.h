// A message box drawn as a dialog box on a full-screen terminal.
//
// Drawn with ncurses (the wide-character build, ncursesw). ncurses rather
// than newt, the library behind whiptail: the box must wait on three things
// at once (key presses, the FIFO through which another copy asks for the box
// again, and signals), which ncurses allows because the program keeps its
// own poll() loop and only hands key bytes to ncurses; and ncurses gives
// full control of what a resized terminal redraws and of the colours, so
// the box also reads on a terminal without colours.
//
// What the user sees, centred on the screen:
//
//   ┌──────────── <caption> ────────────┐
//   │                                    │
//   │ (i)  <text, wrapped at word        │
//   │      boundaries to the terminal's  │
//   │      width>                        │
//   │                                    │
//   │        [ OK ]    < Cancel >        │
//   └────────────────────────────────────┘
//
// The sign stands for the icon: "(i)" information, "(!)" exclamation,
// "(?)" question, "(x)" error, none without an icon. The focused button is
// drawn in brackets, in reverse (white on red where the terminal has
// colours), the others in angle brackets. Enter chooses the focused
// button; Escape closes the box, which answers IDCANCEL whatever its
// buttons, as the platform's own box does; Tab, Right and Down move the
// focus to the next button, Shift+Tab, Left and Up to the previous one.
//
// The terminal is put back as it was (ncurses' endwin) when the box closes,
// when the process ends while a box shows, and on SIGINT, SIGTERM and
// SIGHUP, which the box then hands back to the caller to raise again once
// its own cleaning up is done. A resized terminal (SIGWINCH) redraws the
// box at its new size, wrapped afresh. A byte on the raise descriptor
// rings the bell and draws the whole box again.
#ifndef PFMSETUP_PLATFORM_HOST_DIALOGUE_TERMINAL_DIALOG_H
#define PFMSETUP_PLATFORM_HOST_DIALOGUE_TERMINAL_DIALOG_H

#include <string>
#include <vector>

namespace host {

struct DialogButton {
    std::string label;  // in the terminal's character set
    int id;             // the box's result when chosen
};

struct TerminalDialog {
    std::string title;               // in the terminal's character set
    std::vector<std::string> lines;  // the text's lines, likewise, not yet wrapped
    std::string sign;                // "(i)" and the like, "" for none
    std::vector<DialogButton> buttons;
    size_t focus = 0;                // the default button
    int closed_id = 0;               // the result when the box is closed (Escape)
};

struct DialogOutcome {
    bool shown = false;  // false: the terminal cannot show it (no such
                         // terminal type, no cursor addressing); nothing
                         // was written
    int id = 0;          // the button chosen, or closed_id
    int signal = 0;      // not 0: the box was ended by this signal, whose
                         // disposition is as it was before the box
};

// Shows the dialog on the terminal of standard input and output and waits
// for its answer. `raise_fd` (or -1) is read while the box waits; any byte
// on it brings the box forward.
DialogOutcome RunTerminalDialog(const TerminalDialog &dialog, int raise_fd);

}  // namespace host

#endif
