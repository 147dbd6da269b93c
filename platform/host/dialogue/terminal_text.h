// Texts of the installation's code page as the terminal shows them.
#ifndef PFMSETUP_PLATFORM_HOST_DIALOGUE_TERMINAL_TEXT_H
#define PFMSETUP_PLATFORM_HOST_DIALOGUE_TERMINAL_TEXT_H

#include <string>
#include <string_view>

namespace host {

class CodePage;

// One line of text in `code_page` (the installation's), in the
// terminal's character set: the codeset of the LC_CTYPE locale that the
// environment names (UTF-8, or any other that iconv knows; the C locale is
// ASCII). A character the terminal's set lacks, and any control character
// but tab, becomes '?'. The process's own locale is left as it was.
// Every text a message box shows goes through here, whichever way the box
// is shown.
std::string TerminalText(std::string_view ansi, const CodePage &code_page);

}  // namespace host

#endif
