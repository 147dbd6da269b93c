#include "ansi_code_page.h"

#include <atomic>

namespace host {
namespace {

std::atomic<const CodePage *> &Current()
{
    static std::atomic<const CodePage *> current{&CodePage::ForNumber(1252)};
    return current;
}

}  // namespace

void SetAnsiCodePage(unsigned number)
{
    Current().store(&CodePage::ForNumber(number));
}

const CodePage &AnsiCodePage()
{
    return *Current().load();
}

}  // namespace host
