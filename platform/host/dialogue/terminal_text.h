// Texts of the installation's code page as the terminal shows them.
#ifndef PFMSETUP_PLATFORM_HOST_DIALOGUE_TERMINAL_TEXT_H
#define PFMSETUP_PLATFORM_HOST_DIALOGUE_TERMINAL_TEXT_H

#include <string>
#include <string_view>

namespace host {

// One line of text in the installation's code page, in the
// terminal's character set: the codeset of the LC_CTYPE locale that the
// environment names (UTF-8, or any other that iconv knows; the C locale is
// ASCII). A character the terminal's set lacks, and any control character
// but tab, becomes '?'. The process's own locale is left as it was.
// Every text a message box shows goes through here, whichever way the box
// is shown.
std::string TerminalText(std::string_view ansi);

}  // namespace host

#endif
