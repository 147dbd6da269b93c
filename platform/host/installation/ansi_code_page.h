// The ANSI code page that the host converts the installation's texts with:
// the installation's own (Installation::Texts()), and 1252 while the
// installation is being opened.
#ifndef PFMSETUP_PLATFORM_HOST_ANSI_CODE_PAGE_H
#define PFMSETUP_PLATFORM_HOST_ANSI_CODE_PAGE_H

#include "platform/host/text/code_page.h"

namespace host {

const CodePage &AnsiCodePage();
// Chooses the current installation's code page by its number, as
// CodePage::ForNumber does (an unknown number is 1252). For tests.
void SetAnsiCodePage(unsigned number);

}  // namespace host

#endif
