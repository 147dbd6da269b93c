// Message boxes on the terminal: how MessageBoxA shows a box and takes its
// answer on the host.
//
// When standard input and standard output are both terminals, the box is a
// dialog box drawn on the terminal (terminal_dialog.h): a frame with the
// caption as its title, the text, the icon's sign and the buttons, answered
// with Enter, Escape, Tab and the arrow keys. A terminal whose type cannot
// show it (unknown to terminfo, no cursor addressing) gets the lines below.
//
// Otherwise the box is written to standard output, one line per item, and
// the answer is read from standard input, one line per answer, the same
// way whether input is a terminal, a pipe or a file:
//
//   [pfmsetup] <caption>
//   (<icon>) <text line>
//   (<icon>) <next text line>            one line per line of the text
//   [ OK ] [ Cancel ]  answer: <echo>
//
// <icon> is "information", "exclamation", "question", "error" or "none".
// The text is split at CR LF, CR and LF. Texts are converted from code page
// 1252 to the terminal's character set (terminal_text.h: the codeset of the
// LC_CTYPE locale the environment names); a character it lacks, and any
// control character but tab, becomes '?'. A NULL caption shows as "Error",
// as on the platform. The dialog box takes its texts the same way.
//
// The buttons are those of the style: OK; OK, Cancel; Abort, Retry, Ignore;
// Yes, No, Cancel; Yes, No; Retry, Cancel. An answer is a button's name,
// letter case and surrounding blanks not counting ("ok", "Cancel"); an empty
// line chooses the default button (the first, or the one MB_DEFBUTTON2/3
// names). When input is not a terminal, the answer line read is echoed after
// "answer: " (as ASCII, other bytes as '?'); a terminal echoes it itself.
// Anything else is not an answer; the box then writes
//
//   answers: ok, cancel; an empty line chooses OK
//
// (the style's buttons and its default) and the buttons line again, and
// waits on. The end of input closes the box: a newline is written and the
// result is IDCANCEL whatever the buttons, as the platform's own box
// returns when it is closed (Escape or Alt+F4; measured under Wine 8 for
// MB_OK, MB_OKCANCEL and the others).
//
// While the box waits, either way, it is in the table of shown boxes
// (window_table.h) under its caption. When another copy asks for it to be
// brought forward, the dialog box rings the bell and is drawn again; the
// lines' box writes a bell and a newline ("\a\n") and then the whole box
// again, and goes on waiting; input read so far is kept. Input is read byte by
// byte from file descriptor 0, so nothing past the answer's line is taken
// from it. A style with buttons outside the list above shows nothing and
// returns 0, as a box that fails to appear.
#ifndef PFMSETUP_PLATFORM_HOST_DIALOGUE_MESSAGE_BOX_H
#define PFMSETUP_PLATFORM_HOST_DIALOGUE_MESSAGE_BOX_H

#include "platform/host/win32_api.h"

#include <string>

namespace host {

// The boxes of a preview (pfmsetup --dry-run): none is shown. The box that
// asks (OK and Cancel) is answered OK; the report that follows is kept
// here, and answered OK.
struct PreviewBoxes {
    bool on = false;
    bool asked = false;
    bool reported = false;
    UINT style = 0;  // the report's
};
PreviewBoxes &BoxesOfPreview();

}  // namespace host

#endif
