// The ANSI code page that the host converts the installation's texts with:
// one value for the process, set by whoever learns the installation's code
// page, 1252 until then.
#ifndef PFMSETUP_PLATFORM_HOST_ANSI_CODE_PAGE_H
#define PFMSETUP_PLATFORM_HOST_ANSI_CODE_PAGE_H

#include "code_page.h"

namespace host {

// Chooses the code page by its number, as CodePage::ForNumber does (an
// unknown number is 1252).
void SetAnsiCodePage(unsigned number);
const CodePage &AnsiCodePage();

}  // namespace host

#endif
