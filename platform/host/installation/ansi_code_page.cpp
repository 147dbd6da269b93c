#include "platform/host/installation/ansi_code_page.h"

#include "platform/host/installation/installation.h"

namespace host {

const CodePage &AnsiCodePage()
{
    // Opening an installation reads its registry, whose conversions ask for
    // the code page it is about to learn.
    if (Installation::Opening()) return CodePage::ForNumber(1252);
    return Installation::Current().Texts();
}

void SetAnsiCodePage(unsigned number)
{
    Installation::Current().SetCodePage(number);
}

}  // namespace host
