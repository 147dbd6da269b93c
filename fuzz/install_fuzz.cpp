// A whole installation run over a fuzzed setup description file and a
// fuzzed registry.
//
// The input is the setup description file, then a line "@@system.reg@@",
// then printer keys and values in system.reg's text format, which follow a
// fixed start that makes the installation a Windows 98 one with a printers
// key. win.ini starts with entries of its own each time.
//
// Checked: the run returns 0 or 1; the entries that win.ini held before
// and that the kit does not touch are all still there afterwards, with
// their values; a run that returns 0 without having written anything
// leaves win.ini as it was.
#include "fuzz/fuzz_prefix.h"
#include "install/install_run.h"
#include "platform/host/host_state.h"
#include "platform/host/profile_document.h"
#include "setup/setup_file.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char kSeparator[] = "\n@@system.reg@@\n";

const char kWinIni[] =
    "[windows]\r\n"
    "load=\r\n"
    "device=Kit Printer,PSCRIPT,LPT1:\r\n"
    "\r\n"
    "[Desktop]\r\n"
    "Wallpaper=(None)\r\n"
    "[PostScript,LPT9]\r\n"
    "Softfonts=1\r\n"
    "softfont1=C:\\windows\\system32\\OLD.PFM\r\n";

void Check(bool ok, const char *what)
{
    if (ok) return;
    std::fprintf(stderr, "install_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const pfmfuzz::FuzzPrefix &prefix = pfmfuzz::Prefix();
    std::string_view input(reinterpret_cast<const char *>(data), size);
    std::size_t split = input.find(kSeparator);
    std::string_view setup = input.substr(0, split);
    std::string_view registry = split == std::string_view::npos ? std::string_view() : input.substr(split + sizeof kSeparator - 1);

    host::ResetHostState();
    std::string win_ini = prefix.windows + "/win.ini";
    pfmfuzz::WriteFile(prefix.kit + "/pfmsetup.ini", setup);
    pfmfuzz::WriteFile(prefix.prefix + "/system.reg", std::string(pfmfuzz::kSystemRegPrelude) + std::string(registry));
    pfmfuzz::WriteFile(win_ini, kWinIni);

    pfmfuzz::FormSetupFilePathInKit();
    int result = InstallPrinterFonts();
    host::ResetHostState();
    Check(result == 0 || result == 1, "the run returns neither 0 nor 1");

    std::string after = pfmfuzz::ReadFile(win_ini);
    host::ProfileDocument doc = host::ProfileDocument::Parse(after);
    host::ProfileDocument::KeyValue kv;
    Check(doc.FindKey("windows", "load", &kv) && kv.value.empty(), "[windows] load= was lost");
    Check(doc.FindKey("windows", "device", &kv) && kv.value == "Kit Printer,PSCRIPT,LPT1:", "[windows] device= was lost");
    Check(doc.FindKey("Desktop", "Wallpaper", &kv) && kv.value == "(None)", "[Desktop] Wallpaper= was lost");
    // A port LPT9 (or LPT9:) rewrites its own section; any other leaves it.
    if (doc.HasSection("PostScript,LPT9")) {
        host::ProfileDocument::KeyValue count;
        Check(doc.FindKey("PostScript,LPT9", "Softfonts", &count), "a port section lost its count");
    }
    if (after != kWinIni) {
        // Whatever was written is whole lines that parse back.
        Check(after.size() >= 2 && after.compare(after.size() - 2, 2, "\r\n") == 0, "win.ini ends inside a line");
    }
    return 0;
}
