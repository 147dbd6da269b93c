// The installation's ANSI code page (installation.h): the one that
// lstrcmpA and LoadStringA's copy use once it is set.
#include "platform/host/installation/installation.h"
#include "hex_text.h"
#include "platform/host/text/code_page.h"
#include "platform/host/libraries/pe_strings.h"
#include "platform/platform.h"
#include "test_prefix.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using pfmtest::Hex;

// The process's code page, as the installation sets it, is the one that
// lstrcmpA and LoadStringA's copy use.
TEST(CodePage, TheInstallationsCodePageIsTheOneInUse)
{
    // A prefix of its own, whose registry names no code page: never the
    // developer's WINEPREFIX or ~/.wine.
    pfmtest::TempPrefix prefix;
    prefix.Enter();
    EXPECT_EQ(host::AnsiCodePage().Number(), 1252u);
    char buffer[16];
    host::SetAnsiCodePage(932);
    EXPECT_EQ(host::AnsiCodePage().Number(), 932u);
    EXPECT_EQ(host::CopyStringResource(u"プ", buffer, sizeof buffer, host::AnsiCodePage()), 2);
    EXPECT_EQ(Hex(buffer), Hex("\x83\x76"));
    EXPECT_EQ(lstrcmpA("\x82\x60", "\x82\x81"), 1);
    host::SetAnsiCodePage(65001);
    EXPECT_EQ(host::AnsiCodePage().Number(), 1252u);
    EXPECT_EQ(host::CopyStringResource(u"プ", buffer, sizeof buffer, host::AnsiCodePage()), 1);
    EXPECT_STREQ(buffer, "?");
    host::SetAnsiCodePage(1251);
    EXPECT_EQ(host::CopyStringResource(u"Ж", buffer, sizeof buffer, host::AnsiCodePage()), 1);
    EXPECT_STREQ(buffer, "\xC6");
    host::SetAnsiCodePage(1252);
}

}  // namespace
